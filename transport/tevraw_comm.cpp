#include "transport/tevraw_comm.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/util/endian.h"
#include "core/util/exceptions.h"

namespace qvl {
namespace {

constexpr uint8_t kCommand = 0x35;
constexpr uint8_t kStatus = 0x01;
constexpr uint8_t kSetRcn = 0x05;
constexpr uint8_t kSetSniffer = 0x06;
constexpr uint8_t kTransmit = 0x0A;
constexpr uint8_t kDataFrame = 0x07;
constexpr uint8_t kKeepAliveFrame = 0x03;
constexpr uint8_t kPayloadData = 0xA1;
constexpr uint8_t kPayloadStatus = 0xA3;
constexpr uint8_t kNotDelivered = 0x21;  // bits of status byte 1
constexpr int kKeepAlivePayload = 38;

constexpr uint64_t kIndicatorPeriodMs = 500;
constexpr uint64_t kLinkWatchMs = 1500;
constexpr uint64_t kLinkWatchBackMs = 1200;
constexpr uint64_t kKeepAliveQuietMs = 500;
constexpr int kKeepAlivePeriodMs = 1000;
constexpr uint64_t kRetryWindowMs = 3000;
constexpr uint32_t kRetrySleepMs = 20;
constexpr uint32_t kDuplicateWindow = 25600;  // timestamp units
constexpr size_t kDiagnosticsKept = 64;

}  // namespace

int TevraLevelForQuality(int quality) {
  if (quality <= 0) return 0;
  if (quality < 40) return 1;
  if (quality < 95) return 2;
  if (quality < 125) return 3;
  if (quality < 180) return 4;
  return 5;
}

int TevraImageForLevel(int level) {
  if (level < 0) return 6;
  return std::min(level, 5);
}

// --- channel ---

TTevraWComm::TTevraWComm() : TTevraWComm(TTevraWOptions{}) {}

TTevraWComm::TTevraWComm(TTevraWOptions options)
    : options_(std::move(options)),
      clock_(options_.clock),
      mutex_("TevraW", options_.lockDirectory, options_.systemWideLock) {}

TTevraWComm::~TTevraWComm() {
  // The timer first: its keep-alive uses the adapter.
  timer_.reset();
  inner_.reset();
}

void TTevraWComm::CreateInner(int innerBufferSize) {
  inner_ = std::make_unique<THIDComm>(kUsbVendorId, kWirelessProductId, innerBufferSize,
                                      options_.controller);
  if (!timer_ && options_.keepAliveTimer)
    timer_ = std::make_unique<TIntervalTimer>(
        kKeepAlivePeriodMs, [this] { KeepAlive(); },
        [this](const std::string& message) { Diagnostic(message); });
}

void TTevraWComm::SetBuffers(int size) {
  bufferSize_ = std::max(size, 2);
  ring_.assign(size_t(bufferSize_), 0);
  readIndex_ = writeIndex_ = 0;
  transmit_.assign(size_t(bufferSize_), 0);
  pending_ = 0;
}

void TTevraWComm::SetNetwork(uint16_t networkId, uint16_t address) {
  std::lock_guard<TNamedMutex> lock(mutex_);
  networkId_ = networkId;
  address_ = address;
}

void TTevraWComm::Open(const std::string&, const std::string&, int bufferSize, int) {
  {
    std::lock_guard<TNamedMutex> lock(mutex_);
    if (!inner_) CreateInner(2 * std::max(bufferSize, 1));
    if (timer_) timer_->SetEnabled(false);
    SetBuffers(bufferSize);
    if (networkId_ == 0) {
      networkId_ = kTevraDefaultNetwork;
      address_ = kTevraDefaultAddress;
    }
    timeOut_ = 500;
  }
  SetActive(true);
}

void TTevraWComm::SetActive(bool active) {
  std::lock_guard<TNamedMutex> lock(mutex_);
  if (!active) {
    if (inner_) inner_->SetActive(false);
    return;
  }
  if (inner_ && inner_->IsOpen()) DiscardAdapterInput();
  if (bufferSize_ == 0) {
    SetBuffers(1024);
    timeOut_ = 800;
    spare_ = 200;
  }
  if (!inner_) {
    CreateInner(16384);
    SetBuffers(8192);
  }
  if (timer_) timer_->SetEnabled(false);
  linked_ = false;
  inner_->SetActive(true);
  if (inner_->IsOpen()) SetUp();
}

bool TTevraWComm::IsOpen() {
  return inner_ && inner_->IsOpen() && linked_;
}

std::string TTevraWComm::GetLastErrorText() {
  // The keep-alive may set it on the timer's thread.
  std::lock_guard<TNamedMutex> lock(mutex_);
  return inner_ ? inner_->GetLastErrorText() : std::string();
}

void TTevraWComm::SendCommand(const std::vector<uint8_t>& bytes) {
  inner_->Write(bytes.data(), int(bytes.size()), true);
}

void TTevraWComm::Pause() {
  if (clock_)
    clock_->SleepMs(1);
  else if (inner_)
    inner_->WaitForInput(1);
}

uint8_t TTevraWComm::WaitForAnswer() {
  answerFlag_ = false;
  const uint64_t start = Clock().NowMs();
  for (;;) {
    ProcessIncoming();
    if (answerFlag_) return answerByte_;
    // The adapter went away: no answer can come.
    if (!inner_->IsOpen()) throw Exception("No device connected");
    if (Clock().NowMs() - start > uint64_t(std::max(timeOut_.load(), 0))) {
      inner_->SetLastErrorText("Time out on TevraW");
      throw ETimeOutError("Time out on TevraW");
    }
    Pause();
  }
}

void TTevraWComm::ReadVersionAndStatus() {
  int waiting = inner_->InCount();
  if (waiting >= 2) {
    uint8_t v[2];
    inner_->Read(v, 2);
    version_ = GetU16(v);
    waiting -= 2;
  }
  const int n = std::min(4, waiting);
  if (n > 0) inner_->Read(adapterStatus_.data(), n);
}

void TTevraWComm::DiscardAdapterInput() {
  for (int n; (n = inner_->InCount()) > 0;) inner_->Read(nullptr, n);
}

void TTevraWComm::SetUp() {
  Diagnostic("Setting rcn");
  SendCommand({kCommand, kSetRcn, 0x02, 0x14, 0x00, uint8_t(networkId_), uint8_t(networkId_ >> 8)});
  if (WaitForAnswer() != kSetRcn) throw Exception("Invalid rcn response");
  DiscardAdapterInput();

  Diagnostic("Setting sniffer");
  SendCommand({kCommand, kSetSniffer, 0x01});
  if (WaitForAnswer() != kSetSniffer) throw Exception("Invalid sniff response");
  DiscardAdapterInput();

  Diagnostic("status");
  SendCommand({kCommand, kStatus});
  if (WaitForAnswer() != kStatus) throw Exception("Invalid status response");
  ReadVersionAndStatus();
  DiscardAdapterInput();

  linked_ = true;
  haveLastFrame_ = false;
  lastFrameMs_ = Clock().NowMs() - kKeepAliveQuietMs;
  if (timer_) timer_->SetEnabled(true);
  UpdateHint();
}

int TTevraWComm::RingCount() const {
  const size_t size = ring_.size();
  return size ? int((writeIndex_ + size - readIndex_) % size) : 0;
}

int TTevraWComm::InCount() {
  std::lock_guard<TNamedMutex> lock(mutex_);
  if (!inner_) return RingCount();
  // An answer byte that nobody waits for is dropped; what follows it is looked at again.
  do {
    answerFlag_ = false;
    ProcessIncoming();
  } while (answerFlag_);
  return RingCount();
}

int TTevraWComm::ProcessIncoming() {
  const uint64_t now = Clock().NowMs();
  bool attached;
  uint64_t lastUpdate;
  {
    std::lock_guard<std::mutex> lock(indicatorMutex_);
    attached = indicator_.attached;
    lastUpdate = indicator_.lastUpdateMs;
  }
  if (attached && now - lastUpdate > kIndicatorPeriodMs) {
    {
      std::lock_guard<std::mutex> lock(indicatorMutex_);
      indicator_.lastUpdateMs = now;
    }
    SetLevel((adapterStatus_[0] & 0x01) ? TevraLevelForQuality(linkQuality_) : -1);
  }
  if (linked_ && now - lastFrameMs_ > kLinkWatchMs) {
    linkQuality_ = 0;
    lastFrameMs_ = now - kLinkWatchBackMs;
    linkUp_ = false;
  }
  while (inner_->InCount() > 0) {
    uint8_t b;
    inner_->Read(&b, 1);
    if (b != kTevraFrameMarker) {
      answerFlag_ = true;
      answerByte_ = b;
      break;
    }
    ReadFrame();
  }
  return RingCount();
}

void TTevraWComm::ReadFrame() {
  // The adapter header tells the frame's size; the rest follows, then the frame is decoded.
  std::vector<uint8_t> bytes(kTevraAdapterHeaderSize);
  inner_->Read(bytes.data(), int(bytes.size()));
  TTevraFrame frame = DecodeTevraFrame(bytes, networkId_, address_);
  if (!frame.Complete()) {
    const size_t have = bytes.size();
    bytes.resize(frame.size);
    inner_->Read(bytes.data() + have, int(frame.size - have));
    frame = DecodeTevraFrame(bytes, networkId_, address_);
  }
  mismatch_ |= frame.mismatch;
  if (frame.overflow) {
    ++receiveOverflows_;
    Diagnostic("Receive overflow");
  }
  if (frame.verdict == TTevraFrameVerdict::Accepted) TakeFrame(frame);
}

void TTevraWComm::TakeFrame(const TTevraFrame& frame) {
  if (linkQuality_ == 0) {
    ++relinks_;
    UpdateHint();
  }
  linkQuality_ = std::max(1, int(std::min(frame.LoggerQuality(), frame.adapterQuality)));
  lastFrameMs_ = Clock().NowMs();
  if (haveLastFrame_ && frame.sequence == lastSequence_ &&
      uint32_t(frame.timestamp - lastTimestamp_) < kDuplicateWindow) {
    ++resends_;
    return;
  }
  linkUp_ = true;
  const std::span<const uint8_t> content = frame.content;
  if (frame.PayloadType() == kPayloadData) {
    // As much as fits; the ring keeps one byte free.
    const size_t size = ring_.size();
    const size_t space = (readIndex_ + size - writeIndex_ - 1) % size;
    for (size_t k = 0, n = std::min(content.size(), space); k < n; ++k) {
      ring_[writeIndex_] = content[k];
      writeIndex_ = (writeIndex_ + 1) % size;
    }
  } else if (frame.PayloadType() == kPayloadStatus) {
    // The status byte, then up to two counters; a counter left out keeps its value.
    if (!content.empty()) loggerStatus_ = content[0];
    const uint8_t fcs = content.size() > 1 ? content[1] : loggerFcsErrors_;
    const uint8_t transmit = content.size() > 2 ? content[2] : loggerTransmitErrors_;
    if (fcs != loggerFcsErrors_ || transmit != loggerTransmitErrors_) {
      prevLoggerFcsErrors_ = loggerFcsErrors_;
      prevLoggerTransmitErrors_ = loggerTransmitErrors_;
      loggerFcsErrors_ = fcs;
      loggerTransmitErrors_ = transmit;
      UpdateHint();
    }
  } else {
    TTevraMessage& slot = messages_[size_t(std::min(messageCount_, kTevraMessageSlots - 1))];
    slot.header = frame.payloadHeader;
    slot.content.assign(content.begin(), content.end());
    messageCount_ = std::min(messageCount_ + 1, kTevraMessageSlots);
  }
  haveLastFrame_ = true;
  lastSequence_ = frame.sequence;
  lastTimestamp_ = frame.timestamp;
}

void TTevraWComm::TransmitPending() {
  if (!inner_ || !inner_->IsOpen()) throw Exception("No device connected");
  if (pending_ == 0) return;
  std::vector<uint8_t> bytes(transmit_.begin(), transmit_.begin() + pending_);
  pending_ = 0;
  const int retriesBefore = transmitRetries_;
  for (size_t at = 0; at < bytes.size(); at += kTevraMaxChunk) {
    const size_t n = std::min<size_t>(kTevraMaxChunk, bytes.size() - at);
    const uint64_t start = Clock().NowMs();
    std::vector<uint8_t> command = {kCommand,
                                    kTransmit,
                                    kDataFrame,
                                    uint8_t(networkId_),
                                    uint8_t(networkId_ >> 8),
                                    uint8_t(address_),
                                    uint8_t(address_ >> 8),
                                    sequence_,
                                    uint8_t(n + 4),
                                    kPayloadData,
                                    0x00,
                                    0x00,
                                    0x09};
    command.insert(command.end(), bytes.begin() + long(at), bytes.begin() + long(at + n));
    for (;;) {
      SendCommand(command);
      if (WaitForAnswer() != kTransmit) throw Exception("Push error");
      inner_->Read(adapterStatus_.data(), 4);
      if (!(adapterStatus_[1] & kNotDelivered)) break;
      ++transmitRetries_;
      Clock().SleepMs(kRetrySleepMs);
      if (linkUp_ && Clock().NowMs() - start <= kRetryWindowMs) continue;
      if (linkUp_) ++transmitFails_;
      break;
    }
    ++sequence_;
  }
  if (transmitRetries_ != retriesBefore) UpdateHint();
}

void TTevraWComm::SendKeepAlive() {
  std::vector<uint8_t> command = {kCommand,
                                  kTransmit,
                                  kKeepAliveFrame,
                                  uint8_t(networkId_),
                                  uint8_t(networkId_ >> 8),
                                  uint8_t(address_),
                                  uint8_t(address_ >> 8),
                                  sequence_++,
                                  kKeepAlivePayload,
                                  kPayloadStatus,
                                  0x00,
                                  0x00,
                                  0x00};
  uint8_t status[34] = {};
  std::copy(adapterStatus_.begin(), adapterStatus_.end(), status);
  PutU32(status + 4, uint32_t(transmitRetries_));
  PutU32(status + 8, uint32_t(transmitFails_));
  PutU32(status + 12, uint32_t(resends_));
  PutU16(status + 16, 0);
  PutU16(status + 18, address_);
  PutU16(status + 20, networkId_);
  status[22] = linkUp_ ? 1 : 0;
  status[23] = mismatch_;
  status[24] = loggerStatus_;
  status[25] = 0;
  status[26] = loggerFcsErrors_;
  status[27] = loggerTransmitErrors_;
  PutU16(status + 28, version_);
  // Bytes 30 to 33 carry nothing.
  command.insert(command.end(), status, status + sizeof status);
  SendCommand(command);
  if (WaitForAnswer() != kTransmit) throw Exception("Push error");
  inner_->Read(adapterStatus_.data(), 4);
}

void TTevraWComm::KeepAlive() {
  if (!linked_ || !inner_ || !inner_->IsOpen()) return;
  std::lock_guard<TNamedMutex> lock(mutex_);
  if (!inner_->IsOpen() || Clock().NowMs() - lastFrameMs_ <= kKeepAliveQuietMs) return;
  Diagnostic("Query WD status");
  SendKeepAlive();
}

void TTevraWComm::StatusRefresh() {
  std::lock_guard<TNamedMutex> lock(mutex_);
  if (!inner_ || !inner_->IsOpen()) throw Exception("No device connected");
  SendCommand({kCommand, kStatus});
  if (WaitForAnswer() != kStatus) throw Exception("Invalid status response");
  ReadVersionAndStatus();
  UpdateHint();
  SendKeepAlive();
}

void TTevraWComm::Write(const void* buffer, int count, bool flush) {
  std::lock_guard<TNamedMutex> lock(mutex_);
  if (transmit_.empty()) transmit_.assign(1024, 0);  // written to before the first open
  const auto* p = static_cast<const uint8_t*>(buffer);
  int left = std::max(count, 0);
  while (left > 0) {
    // A full transmit buffer goes out before more bytes are taken.
    if (pending_ == int(transmit_.size())) TransmitPending();
    const int n = std::min(left, int(transmit_.size()) - pending_);
    std::memcpy(transmit_.data() + pending_, p, size_t(n));
    pending_ += n;
    p += n;
    left -= n;
  }
  if (flush && pending_ > 0) TransmitPending();
}

void TTevraWComm::Read(void* buffer, int count) {
  {
    std::lock_guard<TNamedMutex> lock(mutex_);
    TransmitPending();
  }
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t start = Clock().NowMs();
  int remaining = count;
  while (remaining > 0) {
    const int waiting = InCount();
    if (waiting == 0) {
      if (Clock().NowMs() - start > uint64_t(std::max(timeOut_.load(), 0))) {
        std::lock_guard<TNamedMutex> lock(mutex_);
        if (inner_) inner_->SetLastErrorText("Time out on TevraW");
        throw ETimeOutError("Time out on TevraW");
      }
      const int sleepMs = remaining >= 33 ? std::min(remaining, bufferSize_ / 2) / 64 : 0;
      if (sleepMs > 0)
        Clock().SleepMs(uint32_t(sleepMs));
      else
        Pause();
      continue;
    }
    std::lock_guard<TNamedMutex> lock(mutex_);
    const int take = std::min(RingCount(), remaining);
    const size_t size = ring_.size();
    for (int k = 0; k < take; ++k) {
      if (out) *out++ = ring_[readIndex_];
      readIndex_ = (readIndex_ + 1) % size;
    }
    remaining -= take;
    if (remaining > 0) start = Clock().NowMs();
  }
}

std::string TTevraWComm::ReadString() {
  return ReadZeroTerminated(*this);
}

// --- indicator and diagnostics ---

void TTevraWComm::AttachIndicator(void* parentWindow, const TIndicatorBounds& bounds) {
  {
    std::lock_guard<std::mutex> lock(indicatorMutex_);
    indicator_.attached = true;
    indicator_.parent = parentWindow;
    indicator_.bounds = bounds;
  }
  std::lock_guard<TNamedMutex> lock(mutex_);
  UpdateHint();
}

TTevraIndicator TTevraWComm::Indicator() {
  std::lock_guard<std::mutex> lock(indicatorMutex_);
  return indicator_;
}

void TTevraWComm::SetIndicatorListener(std::function<void()> listener) {
  std::lock_guard<std::mutex> lock(indicatorMutex_);
  indicatorListener_ = std::move(listener);
}

void TTevraWComm::NotifyIndicator() {
  std::function<void()> listener;
  {
    std::lock_guard<std::mutex> lock(indicatorMutex_);
    listener = indicatorListener_;
  }
  if (listener) listener();
}

void TTevraWComm::SetLevel(int level) {
  {
    std::lock_guard<std::mutex> lock(indicatorMutex_);
    if (indicator_.level == level) return;
    indicator_.level = level;
  }
  NotifyIndicator();
}

void TTevraWComm::UpdateHint() {
  char text[400];
  std::snprintf(text, sizeof text,
                "Version %d.%d, %d relinks, %d Transmit retries, %d Transmit fails\r"
                "host side errors: %d FCS, %d Transmit, \r"
                "device side errors: %d FCS, %d Transmit, %d resends",
                version_ >> 8, version_ & 0xFF, relinks_, transmitRetries_, transmitFails_,
                adapterStatus_[2], adapterStatus_[3], loggerFcsErrors_, loggerTransmitErrors_,
                resends_);
  {
    std::lock_guard<std::mutex> lock(indicatorMutex_);
    if (indicator_.hint == text) return;
    indicator_.hint = text;
  }
  NotifyIndicator();
}

void TTevraWComm::SetDiagnosticHandler(std::function<void(const std::string&)> handler) {
  std::lock_guard<std::mutex> lock(diagnosticMutex_);
  diagnosticHandler_ = std::move(handler);
}

void TTevraWComm::Diagnostic(const std::string& message) {
  std::function<void(const std::string&)> handler;
  {
    std::lock_guard<std::mutex> lock(diagnosticMutex_);
    if (diagnostics_.size() >= kDiagnosticsKept) diagnostics_.erase(diagnostics_.begin());
    diagnostics_.push_back(message);
    handler = diagnosticHandler_;
  }
  if (handler) handler(message);
}

std::vector<std::string> TTevraWComm::Diagnostics() {
  std::lock_guard<std::mutex> lock(diagnosticMutex_);
  return diagnostics_;
}

TTevraWComm::TStats TTevraWComm::Stats() {
  std::lock_guard<TNamedMutex> lock(mutex_);
  TStats s;
  s.linked = linked_;
  s.linkUp = linkUp_;
  s.linkQuality = linkQuality_;
  s.relinks = relinks_;
  s.transmitRetries = transmitRetries_;
  s.transmitFails = transmitFails_;
  s.resends = resends_;
  s.mismatch = mismatch_;
  s.adapterStatus = adapterStatus_;
  s.version = version_;
  s.loggerStatus = loggerStatus_;
  s.loggerFcsErrors = loggerFcsErrors_;
  s.loggerTransmitErrors = loggerTransmitErrors_;
  s.sequence = sequence_;
  s.messages = messageCount_;
  s.receiveOverflows = receiveOverflows_;
  return s;
}

std::vector<TTevraMessage> TTevraWComm::Messages() {
  std::lock_guard<TNamedMutex> lock(mutex_);
  return std::vector<TTevraMessage>(messages_.begin(), messages_.begin() + messageCount_);
}

}  // namespace qvl
