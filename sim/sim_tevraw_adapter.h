// TSimTevraWAdapter: the wireless link adapter, simulated, as the hardware side of a fake HID
// device, with the logger's radio at the other end of the air.
//
// Host to adapter: adapter commands (0x35 ...) in a byte stream that may be cut anywhere into
// reports. The set-up commands are answered with their sub-command, the status command with
// 0x01, the version and 4 status bytes, transmissions with 0x0A and 4 status bytes (byte 0
// bit 0: link; byte 1: 0x20 or 0x01 when the frame was not delivered; bytes 2, 3: error
// counts).
//
// Adapter to host: the answers, and every radio frame from the logger as 0x80, the adapter
// header, the 802.15.4 MAC header, the payload and a trailing byte. The logger's radio frames
// the logger's reply bytes (at most 50 per frame, payload 0xA1 0x00 0x00 0x09) and answers
// the host's keep-alive with a status frame (0xA3). It drops a data frame that repeats the
// last sequence number (a retry whose acknowledgement was lost).
//
// Faults, drawn from a seeded generator: frames for another PAN or another address, frames
// arriving twice, frames lost on the air, transmissions not delivered (and of those some that
// the logger got all the same), trailing bytes that report an overflow. The line's unplug
// fault takes the logger out of range: no frames, transmissions fail, the link bit clears.
#pragma once

#include <condition_variable>
#include <deque>
#include <random>
#include <vector>

#include "sim/fake_hid_device.h"
#include "sim/sim_link.h"

namespace qvl::sim {

struct TSimTevraWFaults {
  double foreignPanRate = 0;      // a frame for another PAN comes before a logger frame
  double foreignAddressRate = 0;  // a frame for another address comes before a logger frame
  double duplicateRate = 0;       // a logger frame arrives twice
  double frameLoseRate = 0;       // a logger frame is lost on the air
  double deliveryFailRate = 0;    // a host frame is not acknowledged ...
  double ackLoseRate = 0;         // ... though the logger got it (share of those failures)
  int overflowEvery = 0;          // every Nth frame's trailing byte reports an overflow
};

struct TSimTevraWOptions {
  bool throttle = false;         // one report per millisecond each way
  uint16_t version = 0x0103;     // adapter version: major in the high byte
  uint8_t adapterQuality = 200;  // link quality the adapter measures
  uint8_t loggerQuality = 170;   // link quality the logger's radio measures
  uint16_t network = 0x0402;     // the logger radio's PAN identifier
  uint16_t address = 0x0600;     // and its short address
  uint32_t seed = 7;
  TSimTevraWFaults faults;
};

// The bytes of one received radio frame as the adapter hands it to the host: 0x80, header
// (counter, L, timestamp, 0, quality), MAC header (frame control, sequence, PAN, address),
// payload, trailing byte. L = 7 + payload size.
std::vector<uint8_t> TevraRadioFrame(uint8_t counter, uint32_t timestamp, uint8_t quality,
                                     uint8_t frameControl0, uint8_t frameControl1, uint8_t sequence,
                                     uint16_t network, uint16_t address,
                                     const std::vector<uint8_t>& payload, uint8_t trailer);

class TSimTevraWAdapter : public IHidPeer {
 public:
  explicit TSimTevraWAdapter(const TSimOptions& logger, const TSimTevraWOptions& options = {});

  bool Present() override { return true; }
  int HostOutputReport(const uint8_t* report, size_t size) override;
  int NextInputReport(uint8_t* report, size_t size, int timeoutMs) override;
  void WakeReader() override;

  TSimLink& Link() { return link_; }
  // Puts bytes into the stream to the host as they stand (a test's own frames).
  void InjectToHost(const std::vector<uint8_t>& bytes);

  struct TStats {
    int setups = 0;  // "Setting rcn" commands
    int statusQueries = 0;
    int dataFrames = 0;        // host data frames the adapter sent
    int keepAlives = 0;        // host keep-alive frames
    int notDelivered = 0;      // transmissions answered as not delivered
    int loggerDuplicates = 0;  // host frames the logger dropped as repeats
    int framesToHost = 0;      // logger frames put on the air (lost ones included)
    int framesLost = 0;
    int framesDuplicated = 0;
    int foreignFrames = 0;
    std::vector<uint8_t> hostSequences;  // sequence numbers of the host's data frames, in order
    std::vector<int> hostChunkSizes;     // logger bytes in each of them
    uint16_t network = 0;                // as set by "Setting rcn"
    bool sniffer = false;
  };
  TStats Stats();

 private:
  void ParseHostBytes(uint64_t now);
  void Execute(const uint8_t* command, size_t size, uint64_t now);
  void Transmit(const uint8_t* command, size_t size, uint64_t now);
  void SendLoggerFrame(const std::vector<uint8_t>& payload, uint64_t now);
  void PutFrame(const std::vector<uint8_t>& payload, uint8_t sequence, uint16_t network,
                uint16_t address, uint64_t now, uint8_t trailerExtra = 0);
  bool Chance(double rate);

  TSimTevraWOptions options_;
  TSimLink link_;
  std::mt19937 rng_;
  std::condition_variable changed_;
  std::vector<uint8_t> hostBytes_;  // adapter commands not complete yet
  std::deque<uint8_t> toHost_;
  bool wake_ = false;
  uint64_t nextOutMs_ = 0;
  uint64_t nextInMs_ = 0;
  uint8_t frameCounter_ = 0;
  uint8_t loggerSequence_ = 0;
  bool haveHostSequence_ = false;
  uint8_t lastHostSequence_ = 0;
  uint8_t hostFcsErrors_ = 0, hostTransmitErrors_ = 0;
  uint8_t loggerFcsErrors_ = 0, loggerTransmitErrors_ = 0;
  TStats stats_;
};

}  // namespace qvl::sim
