#include "sim/sim_tevraw_adapter.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/device/device_time.h"
#include "core/util/endian.h"

namespace qvl::sim {
namespace {

constexpr uint8_t kCommand = 0x35;
constexpr uint8_t kFrameMarker = 0x80;
constexpr int kReportData = 63;
constexpr size_t kMaxChunk = 50;
constexpr uint8_t kFrameControl0 = 0x21;  // data frame, acknowledgement requested
constexpr uint8_t kFrameControlSource = 0x90;
constexpr uint8_t kFrameControlDestination = 0x18;

// The adapter's timestamps count 16 us symbols.
uint32_t Symbols(uint64_t ms) {
  return uint32_t(ms * 125 / 2);
}

}  // namespace

std::vector<uint8_t> TevraRadioFrame(uint8_t counter, uint32_t timestamp, uint8_t quality,
                                     uint8_t frameControl0, uint8_t frameControl1, uint8_t sequence,
                                     uint16_t network, uint16_t address,
                                     const std::vector<uint8_t>& payload, uint8_t trailer) {
  std::vector<uint8_t> f(1 + 8 + 7 + payload.size() + 1, 0);
  f[0] = kFrameMarker;
  f[1] = counter;
  f[2] = uint8_t(7 + payload.size());
  PutU32(&f[3], timestamp);
  f[7] = 0;
  f[8] = quality;
  f[9] = frameControl0;
  f[10] = frameControl1;
  f[11] = sequence;
  PutU16(&f[12], network);
  PutU16(&f[14], address);
  std::copy(payload.begin(), payload.end(), f.begin() + 16);
  f.back() = trailer;
  return f;
}

TSimTevraWAdapter::TSimTevraWAdapter(const TSimOptions& logger, const TSimTevraWOptions& options)
    : options_(options), link_(logger, SystemTickClock().NowMs()), rng_(options.seed) {}

bool TSimTevraWAdapter::Chance(double rate) {
  if (rate <= 0) return false;
  return std::uniform_real_distribution<double>(0.0, 1.0)(rng_) < rate;
}

void TSimTevraWAdapter::InjectToHost(const std::vector<uint8_t>& bytes) {
  {
    std::lock_guard<std::mutex> lock(link_.Mutex());
    toHost_.insert(toHost_.end(), bytes.begin(), bytes.end());
  }
  changed_.notify_all();
}

TSimTevraWAdapter::TStats TSimTevraWAdapter::Stats() {
  std::lock_guard<std::mutex> lock(link_.Mutex());
  return stats_;
}

void TSimTevraWAdapter::PutFrame(const std::vector<uint8_t>& payload, uint8_t sequence,
                                 uint16_t network, uint16_t address, uint64_t now,
                                 uint8_t trailerExtra) {
  const uint8_t counter = frameCounter_++;
  const uint8_t control =
      address == options_.address ? kFrameControlSource : kFrameControlDestination;
  auto frame = TevraRadioFrame(counter, Symbols(now) + counter, options_.adapterQuality,
                               kFrameControl0, control, sequence, network, address, payload,
                               uint8_t(counter + trailerExtra));
  toHost_.insert(toHost_.end(), frame.begin(), frame.end());
}

void TSimTevraWAdapter::SendLoggerFrame(const std::vector<uint8_t>& payload, uint64_t now) {
  const TSimTevraWFaults& f = options_.faults;
  const uint8_t sequence = loggerSequence_++;
  ++stats_.framesToHost;
  if (Chance(f.foreignPanRate)) {
    ++stats_.foreignFrames;
    PutFrame(payload, sequence, uint16_t(options_.network + 1), options_.address, now);
  }
  if (Chance(f.foreignAddressRate)) {
    ++stats_.foreignFrames;
    PutFrame(payload, sequence, options_.network, uint16_t(options_.address + 1), now);
  }
  if (Chance(f.frameLoseRate)) {
    ++stats_.framesLost;
    ++loggerTransmitErrors_;
    return;
  }
  const bool overflow = f.overflowEvery > 0 && stats_.framesToHost % f.overflowEvery == 0;
  PutFrame(payload, sequence, options_.network, options_.address, now, overflow ? 31 : 0);
  if (Chance(f.duplicateRate)) {
    // The logger missed the acknowledgement and sent the frame again.
    ++stats_.framesDuplicated;
    PutFrame(payload, sequence, options_.network, options_.address, now + 2);
  }
}

void TSimTevraWAdapter::Transmit(const uint8_t* command, size_t size, uint64_t now) {
  const uint8_t type = command[2];
  const uint16_t network = GetU16(command + 3);
  const uint16_t address = GetU16(command + 5);
  const uint8_t sequence = command[7];
  const uint8_t length = command[8];
  const uint8_t* payload = command + 9;
  (void)size;
  const bool inRange = !link_.Unplugged(now);
  bool delivered = inRange && network == options_.network && address == options_.address;
  bool loggerGot = delivered;
  if (delivered && Chance(options_.faults.deliveryFailRate)) {
    delivered = false;
    loggerGot = Chance(options_.faults.ackLoseRate);
  }
  uint8_t result = 0;
  if (!delivered) {
    // No acknowledgement (0x20), or now and then no clear channel (0x01).
    result = stats_.notDelivered % 3 == 2 ? 0x01 : 0x20;
    ++stats_.notDelivered;
    ++hostTransmitErrors_;
  }
  if (type == 0x07) {
    ++stats_.dataFrames;
    stats_.hostSequences.push_back(sequence);
    stats_.hostChunkSizes.push_back(std::max(0, int(length) - 4));
  } else if (type == 0x03) {
    ++stats_.keepAlives;
  }
  toHost_.insert(toHost_.end(),
                 {0x0A, uint8_t(inRange ? 1 : 0), result, hostFcsErrors_, hostTransmitErrors_});
  if (!loggerGot) return;
  if (type == 0x07 && length >= 4 && payload[0] == 0xA1) {
    if (haveHostSequence_ && sequence == lastHostSequence_) {
      ++stats_.loggerDuplicates;
    } else {
      link_.HostWrite(payload + 4, size_t(length - 4), now);
    }
    haveHostSequence_ = true;
    lastHostSequence_ = sequence;
  } else if (type == 0x03) {
    SendLoggerFrame(
        {0xA3, options_.loggerQuality, 0x00, 0x00, 0x01, loggerFcsErrors_, loggerTransmitErrors_},
        now);
  }
}

void TSimTevraWAdapter::Execute(const uint8_t* command, size_t size, uint64_t now) {
  const bool inRange = !link_.Unplugged(now);
  switch (command[1]) {
    case 0x01:
      ++stats_.statusQueries;
      toHost_.insert(toHost_.end(),
                     {0x01, uint8_t(options_.version), uint8_t(options_.version >> 8),
                      uint8_t(inRange ? 1 : 0), 0x00, hostFcsErrors_, hostTransmitErrors_});
      break;
    case 0x05:
      ++stats_.setups;
      stats_.network = GetU16(command + 5);
      toHost_.push_back(0x05);
      break;
    case 0x06:
      stats_.sniffer = command[2] == 0x01;
      toHost_.push_back(0x06);
      break;
    case 0x0A:
      Transmit(command, size, now);
      break;
    default:
      break;
  }
}

void TSimTevraWAdapter::ParseHostBytes(uint64_t now) {
  size_t at = 0;
  const size_t size = hostBytes_.size();
  while (at < size) {
    if (hostBytes_[at] != kCommand) {
      ++at;  // not the start of a command: skipped
      continue;
    }
    if (size - at < 2) break;
    size_t length;
    switch (hostBytes_[at + 1]) {
      case 0x01:
        length = 2;
        break;
      case 0x05:
        length = 7;
        break;
      case 0x06:
        length = 3;
        break;
      case 0x0A:
        if (size - at < 9) {
          length = size + 1;  // wait for the length byte
          break;
        }
        length = 9 + hostBytes_[at + 8];
        break;
      default:
        at += 2;
        continue;
    }
    if (size - at < length) break;
    Execute(&hostBytes_[at], length, now);
    at += length;
  }
  hostBytes_.erase(hostBytes_.begin(), hostBytes_.begin() + long(at));
}

int TSimTevraWAdapter::HostOutputReport(const uint8_t* report, size_t size) {
  std::unique_lock<std::mutex> lock(link_.Mutex());
  uint64_t now = SystemTickClock().NowMs();
  if (options_.throttle) {
    while (now < nextOutMs_) {
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::microseconds(200));
      lock.lock();
      now = SystemTickClock().NowMs();
    }
    nextOutMs_ = now + 1;
  }
  if (size >= 2) {
    const int count = std::min<int>({report[1], kReportData, int(size) - 2});
    hostBytes_.insert(hostBytes_.end(), report + 2, report + 2 + count);
    ParseHostBytes(now);
  }
  lock.unlock();
  changed_.notify_all();
  return int(size);
}

int TSimTevraWAdapter::NextInputReport(uint8_t* report, size_t size, int timeoutMs) {
  std::unique_lock<std::mutex> lock(link_.Mutex());
  const uint64_t deadline = SystemTickClock().NowMs() + uint64_t(std::max(timeoutMs, 0));
  for (;;) {
    const uint64_t now = SystemTickClock().NowMs();
    if (wake_) {
      wake_ = false;
      return 0;
    }
    // The logger's radio frames the reply bytes that are due.
    if (!link_.Unplugged(now)) {
      uint8_t chunk[kMaxChunk];
      for (size_t n; (n = link_.TakeDue(now, chunk, kMaxChunk)) > 0;) {
        std::vector<uint8_t> payload = {0xA1, options_.loggerQuality, 0x00, 0x00};
        payload.insert(payload.end(), chunk, chunk + n);
        SendLoggerFrame(payload, now);
      }
    }
    uint64_t wakeAt = std::min(deadline, link_.NextDueMs());
    if (!toHost_.empty()) {
      if (!options_.throttle || now >= nextInMs_) {
        const int n = std::min<int>(kReportData, int(toHost_.size()));
        std::memset(report, 0, size);
        report[0] = uint8_t(n);
        for (int k = 0; k < n; ++k) {
          if (size_t(k) + 1 < size) report[k + 1] = toHost_.front();
          toHost_.pop_front();
        }
        nextInMs_ = now + 1;
        return int(size);
      }
      wakeAt = std::min(wakeAt, nextInMs_);
    }
    if (now >= deadline) return 0;
    wakeAt = std::min(wakeAt, now + 5);
    changed_.wait_for(lock, std::chrono::milliseconds(std::max<uint64_t>(wakeAt - now, 1)));
  }
}

void TSimTevraWAdapter::WakeReader() {
  {
    std::lock_guard<std::mutex> lock(link_.Mutex());
    wake_ = true;
  }
  changed_.notify_all();
}

}  // namespace qvl::sim
