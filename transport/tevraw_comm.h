// TTevraWComm: the link over the wireless link adapter, a USB HID radio (0x04D8:0x033D) that
// exchanges short IEEE 802.15.4 data frames with the logger's radio. The channel talks to the
// adapter through its own THIDComm.
//
// Towards the adapter go adapter commands, all beginning with 0x35:
//   0x35 0x01                                  status        -> 0x01, u16 version, 4 status bytes
//   0x35 0x05 0x02 0x14 0x00 u16 network       "Setting rcn"  -> 0x05
//   0x35 0x06 0x01                             "Setting sniffer" -> 0x06
//   0x35 0x0A type u16 network u16 address seq len payload
//                                              transmit      -> 0x0A, 4 status bytes
// From the adapter come one-byte answers (anything but 0x80) and received radio frames, each
// announced by 0x80: an 8-byte adapter header (counter, radio length L, u32 timestamp, unused,
// link quality), the 7-byte MAC header (frame control, sequence, PAN, address), L - 7 bytes of
// payload (type, logger-seen quality, 2 unused, content) and a trailing byte.
//
// The logger's protocol bytes travel as data frames (payload 0xA1 0x00 0x00 0x09, at most 50
// bytes). The channel keeps link statistics, answers the logger's keep-alive (0xA3 frames with
// the link status) when nothing has arrived for 500 ms, and keeps a signal-strength level and
// its hint text for the main window's indicator.
//
// Every exchange with the adapter holds the system-wide mutex "TevraW": the polling thread
// (reads, writes) and the keep-alive timer take turns, also with other processes.
//
//   Closed --Open/SetActive(true)--> adapter open --set-up--> Linked
//                                       (IsOpen false)         link up while frames arrive,
//                                                              down after 1500 ms of silence
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/device/comm_channel.h"
#include "core/device/device_time.h"
#include "core/util/interval_timer.h"
#include "transport/hid_comm.h"
#include "transport/named_mutex.h"
#include "transport/tevraw_frame.h"

namespace qvl {

inline constexpr const char kTevraWChannelClass[] = "TTevraWComm";
inline constexpr uint16_t kTevraDefaultNetwork = 0x0402;  // 1026
inline constexpr uint16_t kTevraDefaultAddress = 0x0600;  // 1536
inline constexpr int kTevraMaxChunk = 50;                 // logger bytes per data frame
inline constexpr int kTevraMessageSlots = 16;

// The indicator's level for a link quality: 0 -> 0, 1-39 -> 1, 40-94 -> 2, 95-124 -> 3,
// 125-179 -> 4, 180 and above -> 5.
int TevraLevelForQuality(int quality);
// The image the indicator draws for a level: a negative level shows image 6 (no link), a level
// above 5 image 5.
int TevraImageForLevel(int level);

// A frame of another payload type, kept as it came.
struct TTevraMessage {
  std::array<uint8_t, 4> header{};
  std::vector<uint8_t> content;
};

// The signal-strength indicator's state, kept in the channel for the main window to draw.
struct TTevraIndicator {
  bool attached = false;
  void* parent = nullptr;
  TIndicatorBounds bounds;
  int level = 0;
  std::string hint;
  uint64_t lastUpdateMs = 0;
};

struct TTevraWOptions {
  // Where the adapter is found (nullptr: the process-wide HID device controller).
  std::shared_ptr<THidDeviceController> controller;
  // The millisecond tick of the link watch, the keep-alive and the time-outs (nullptr: the
  // system's).
  ITickClock* clock = nullptr;
  // The keep-alive runs on a timer thread every 1000 ms; off, KeepAlive is called by hand.
  bool keepAliveTimer = true;
  // Directory of the lock file ("" for the default place).
  std::string lockDirectory;
  // The exchanges are kept apart across processes; off for an adapter that only this process
  // can reach (the simulated one).
  bool systemWideLock = true;
};

class TTevraWComm : public ICommChannel {
 public:
  TTevraWComm();
  explicit TTevraWComm(TTevraWOptions options);
  ~TTevraWComm() override;
  TTevraWComm(const TTevraWComm&) = delete;
  TTevraWComm& operator=(const TTevraWComm&) = delete;

  TCommImplementor GetImplementor() override { return {this, kTevraWChannelClass}; }
  // The adapter is open and its set-up succeeded.
  bool IsOpen() override;
  void SetActive(bool active) override;
  // Processes what the adapter has sent; the logger bytes waiting.
  int InCount() override;
  std::string GetPortName() override { return "USB TevraW"; }
  void SetPortName(const std::string&) override {}
  int GetSpare() override { return spare_; }
  int GetTimeOut() override { return timeOut_; }
  // The inner channel's last error text.
  std::string GetLastErrorText() override;
  void SetSpare(int spare) override { spare_ = spare; }
  void SetTimeOut(int ms) override { timeOut_ = ms; }
  // Transmits pending bytes first; ETimeOutError "Time out on TevraW" on silence.
  void Read(void* buffer, int count) override;
  std::string ReadString() override;
  void Write(const void* buffer, int count, bool flush) override;
  // Only the buffer size is used.
  void Open(const std::string& name, const std::string& settings, int bufferSize,
            int parameter) override;
  void AttachIndicator(void* parentWindow, const TIndicatorBounds& bounds) override;

  // The keep-alive (the timer's work): when linked and nothing arrived for 500 ms, sends the
  // link status to the logger.
  void KeepAlive();
  // The indicator's click: asks the adapter for its status, then sends the keep-alive.
  void StatusRefresh();

  // --- state, for the indicator, the tests and `qvl` ---
  TTevraIndicator Indicator();
  // Called after the indicator's level or hint changed (on the thread that changed it).
  void SetIndicatorListener(std::function<void()> listener);
  // Diagnostic messages ("Receive overflow", "Query WD status", set-up steps, keep-alive
  // failures), on the thread that emits them.
  void SetDiagnosticHandler(std::function<void(const std::string&)> handler);
  std::vector<std::string> Diagnostics();
  THIDComm* Inner() { return inner_.get(); }
  uint16_t NetworkId() const { return networkId_; }
  uint16_t Address() const { return address_; }
  void SetNetwork(uint16_t networkId, uint16_t address);

  struct TStats {
    bool linked = false, linkUp = false;
    int linkQuality = 0;
    int relinks = 0, transmitRetries = 0, transmitFails = 0, resends = 0;
    uint8_t mismatch = 0;
    std::array<uint8_t, 4> adapterStatus{};
    uint16_t version = 0;
    uint8_t loggerStatus = 0, loggerFcsErrors = 0, loggerTransmitErrors = 0;
    uint8_t sequence = 0;
    int messages = 0;
    int receiveOverflows = 0;
  };
  TStats Stats();
  std::vector<TTevraMessage> Messages();

 private:
  ITickClock& Clock() { return clock_ ? *clock_ : SystemTickClock(); }
  void CreateInner(int innerBufferSize);
  void SetBuffers(int size);
  void SetUp();
  // Sends one adapter command, flushed with its last byte.
  void SendCommand(const std::vector<uint8_t>& bytes);
  uint8_t WaitForAnswer();
  void ReadVersionAndStatus();
  void DiscardAdapterInput();
  int ProcessIncoming();
  // Reads one radio frame after its marker and takes it if it is for us.
  void ReadFrame();
  void TakeFrame(const TTevraFrame& frame);
  void TransmitPending();
  void SendKeepAlive();
  void UpdateHint();
  void SetLevel(int level);
  void Diagnostic(const std::string& message);
  void NotifyIndicator();
  int RingCount() const;
  // A short wait for the adapter.
  void Pause();

  TTevraWOptions options_;
  ITickClock* clock_;
  std::unique_ptr<THIDComm> inner_;
  std::unique_ptr<TIntervalTimer> timer_;
  TNamedMutex mutex_;

  // Logger bytes received (ring keeps one byte free) and to be transmitted.
  int bufferSize_ = 0;
  std::vector<uint8_t> ring_;
  size_t readIndex_ = 0, writeIndex_ = 0;
  std::vector<uint8_t> transmit_;
  int pending_ = 0;

  uint16_t networkId_ = 0;
  uint16_t address_ = 0;
  uint8_t sequence_ = 0;
  bool haveLastFrame_ = false;
  uint8_t lastSequence_ = 0;
  uint32_t lastTimestamp_ = 0;
  uint8_t mismatch_ = 0;
  std::array<uint8_t, 4> adapterStatus_{};
  uint16_t version_ = 0;
  uint8_t loggerStatus_ = 0;
  uint8_t loggerFcsErrors_ = 0, loggerTransmitErrors_ = 0;
  uint8_t prevLoggerFcsErrors_ = 0, prevLoggerTransmitErrors_ = 0;
  int linkQuality_ = 0;
  uint64_t lastFrameMs_ = 0;
  bool linkUp_ = false;
  std::atomic<bool> linked_{false};
  int relinks_ = 0, transmitRetries_ = 0, transmitFails_ = 0, resends_ = 0;
  int receiveOverflows_ = 0;
  std::array<TTevraMessage, kTevraMessageSlots> messages_;
  int messageCount_ = 0;
  bool answerFlag_ = false;
  uint8_t answerByte_ = 0;
  // Set by the user-interface thread, read by the keep-alive's answer wait.
  std::atomic<int> timeOut_{0};
  std::atomic<int> spare_{0};

  std::mutex indicatorMutex_;
  TTevraIndicator indicator_;
  std::function<void()> indicatorListener_;
  std::mutex diagnosticMutex_;
  std::function<void(const std::string&)> diagnosticHandler_;
  std::vector<std::string> diagnostics_;
};

}  // namespace qvl
