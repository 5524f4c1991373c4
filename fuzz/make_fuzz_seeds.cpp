// Writes the seed corpora of the fuzz targets, made with the simulated logger's encoder:
//   qvl_fuzz_seeds DIR  ->  DIR/config, DIR/records, DIR/compact, DIR/image, DIR/tevraw
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/device/controller.h"
#include "core/logdata/data_log_store.h"
#include "core/logdata/log_file.h"
#include "core/util/byte_stream.h"
#include "core/util/endian.h"
#include "sim/flash_image_encoder.h"
#include "sim/sim_tevraw_adapter.h"
#include "transport/tevraw_comm.h"

using namespace qvl;

namespace {

void Save(const std::string& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  mkdir(dir.c_str(), 0777);
  TMemoryStream s(bytes);
  s.SaveToFile(dir + "/" + name);
}

std::vector<uint8_t> Config(TController& c) {
  TMemoryStream s;
  c.WriteToStream(s);
  return s.Bytes();
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The viewer's save around a store read from `section`, with notes and per-run video names.
std::vector<uint8_t> Saved(TController& c, const std::vector<uint8_t>& section) {
  TDataLogStore store;
  TLogFileInfo info;
  TMemoryStream in(Concat({Config(c), section}));
  ReadLogFile(in, c, store, info);
  for (int r = 0; r < store.RunCount(); ++r) store.SetRunNote(r, "run " + std::to_string(r));
  info.displayLists[0].assign(2, TDisplayEntryBytes{6, 15});
  info.videoName = "v.avi";
  info.syncs.assign(size_t(store.RunCount()), TSyncData{1, 0, 1.5, 2.5});
  info.runVideoNames.assign(size_t(store.RunCount()), "r.avi");
  TMemoryStream out;
  WriteSavedLogFile(out, c, store, info);
  return out.Bytes();
}

// An older file: data section before the configuration.
std::vector<uint8_t> Older(uint16_t version, TController& c, const std::vector<uint8_t>& section) {
  std::vector<uint8_t> head(2);
  PutU16(head.data(), version);
  if (version > 10) head.insert(head.end(), {1, 0, 6, 15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  head.insert(head.end(), {0, 0});
  if (version >= 12) head.insert(head.end(), {1, 0, 'v'});
  if (version >= 13) head.insert(head.end(), {0, 0});
  return Concat({head, section, Config(c)});
}

TLogArray Records(int count, int period) {
  TLogArray records;
  for (int i = 0; i < count; ++i) {
    TLogRecord r;
    r.tick = 1000 + i + (i > count / 2 ? 2000 / period : 0);
    r.frontCount = uint8_t(i / 3);
    r.rearCount = uint8_t(i / 5);
    r.frontValue = int16_t(i * 7);
    r.rearValue = int16_t(-i);
    r.values = {int16_t(500 + (i % 20) * 2), int16_t(300 - (i % 10) * 2), 100, 200, 300};
    records.push_back(r);
  }
  return records;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qvl_fuzz_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  mkdir(dir.c_str(), 0777);

  TController c;
  Save(dir + "/config", "default", Config(c));
  {
    TController custom;
    TConfigBlock block = custom.ConfigBlock();
    block.SetI32(cfg::kSuspensionPeriod, 1000);
    block.SetI32(cfg::kMagPeriod, 0);
    custom.SetConfigBlock(block);
    Save(dir + "/config", "fast", Config(custom));
  }

  // 22-byte records, period 100: one second is 10 ticks.
  const TLogArray records = Records(120, 100);
  const auto recordSection =
      sim::BuildDataSection(kTagSampleRecords, 100, sim::SampleRecordBytes(records), 45000.5);
  Save(dir + "/records", "saved15", Saved(c, recordSection));
  Save(dir + "/records", "download", Concat({Config(c), recordSection}));
  Save(dir + "/records", "older14", Older(14, c, recordSection));
  Save(dir + "/records", "older10", Older(10, c, recordSection));

  // Compact records.
  const auto compactSection = sim::BuildDataSection(
      kTagCompactRecords, 100, sim::CompactBytes(sim::EncodeCompactRecords(records)), 45000.5);
  Save(dir + "/compact", "saved15", Saved(c, compactSection));
  Save(dir + "/compact", "older13", Older(13, c, compactSection));
  Save(dir + "/compact", "download",
       Concat({Config(c), sim::BuildDataSection(
                              kTagCompactRecords, 100,
                              sim::CompactBytes(sim::EncodeCompactRecords(records)), 0, -1)}));

  // Flash images: two pages of the default groups with triggers, time marks and empty slots.
  const TDataLogGroups groups = BuildDataLogGroups(c);
  sim::TFlashImageEncoder enc(groups);
  auto src = [&](int g, uint32_t tick, uint16_t* v, int n) {
    for (int j = 0; j < n; ++j)
      v[j] = uint16_t((groups[size_t(g)].channels[size_t(j)] * 97 + tick) & 0xFFF);
  };
  enc.BeginSession(5000, 700000000, 3);
  for (uint32_t t = 5000; t < 6000; t += 37) {
    enc.AdvanceTo(t, src);
    enc.BothTriggers(t, uint8_t(t / 37), uint8_t(t / 50), int16_t(t), int16_t(-int(t)));
    if (t % 5 == 0) enc.EmptySlot();
    if (t % 7 == 0) enc.TimeMark(t);
  }
  enc.BeginRun(20000, 700000020, 4);
  enc.AdvanceTo(20400, src);
  enc.Finish();
  const std::vector<uint8_t>& image = enc.Image();
  Save(dir + "/image", "download", sim::BuildDownloadFile(c, image, 45000.5));
  Save(dir + "/image", "saved15",
       Saved(c, sim::BuildDataSection(kTagFlashImage, 1, image, 45000.5)));
  std::vector<uint8_t> onePage(image.begin(), image.begin() + kFlashPageSize);
  Save(dir + "/image", "onepage", sim::BuildDownloadFile(c, onePage, 45000.5));

  // The wireless adapter's stream: answers and radio frames of every kind the link tells apart.
  auto frame = [](uint8_t sequence, const std::vector<uint8_t>& payload, uint16_t network,
                  uint16_t address, uint8_t control1 = 0x90, uint8_t trailer = 9) {
    return sim::TevraRadioFrame(9, 1000u * sequence, 200, 0x21, control1, sequence, network,
                                address, payload, trailer);
  };
  const uint16_t net = kTevraDefaultNetwork, adr = kTevraDefaultAddress;
  const std::vector<uint8_t> data = {0xA1, 150, 0, 0, 0x2D, 1, 2, 3, 4, 5, 6, 7};
  Save(dir + "/tevraw", "data", frame(1, data, net, adr));
  Save(dir + "/tevraw", "status", frame(2, {0xA3, 150, 0, 0, 0x05, 3, 4}, net, adr, 0x18));
  Save(dir + "/tevraw", "message", frame(3, {0xB0, 150, 7, 8, 1, 2}, net, adr));
  Save(dir + "/tevraw", "stream",
       Concat({{0x0A, 1, 0, 2, 3},
               frame(4, data, net + 1, adr),
               frame(5, data, net, adr + 1),
               frame(6, {0xA1, 150}, net, adr),
               frame(7, data, net, adr, 0x88),
               frame(8, data, net, adr, 0x90, 100),
               {0x05},
               frame(8, data, net, adr)}));
  std::printf("seeds written to %s (image of %zu bytes)\n", dir.c_str(), image.size());
  return 0;
}
