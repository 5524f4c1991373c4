#include "core/util/byte_stream.h"

#include <gtest/gtest.h>

#include "core/util/exceptions.h"

namespace qvl {
namespace {

TEST(ByteStream, TypedValuesRoundTripLittleEndian) {
  TMemoryStream s;
  s.WriteU8(0xAB);
  s.WriteU16(0x1234);
  s.WriteI32(-2);
  s.WriteF32(1.5f);
  s.WriteF64(-0.25);
  s.WriteString16("QVL");
  const std::vector<uint8_t> head(s.Bytes().begin(), s.Bytes().begin() + 7);
  EXPECT_EQ(head, (std::vector<uint8_t>{0xAB, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF}));
  s.SetPosition(0);
  EXPECT_EQ(s.ReadU8(), 0xAB);
  EXPECT_EQ(s.ReadU16(), 0x1234);
  EXPECT_EQ(s.ReadI32(), -2);
  EXPECT_EQ(s.ReadF32(), 1.5f);
  EXPECT_EQ(s.ReadF64(), -0.25);
  EXPECT_EQ(s.ReadString16(), "QVL");
  EXPECT_TRUE(s.AtEnd());
}

TEST(ByteStream, ReadPastEndRaisesAndKeepsWhatWasRead) {
  TMemoryStream s(std::vector<uint8_t>{1, 2, 3});
  uint8_t buf[5] = {9, 9, 9, 9, 9};
  EXPECT_THROW(s.ReadBuffer(buf, 5), EReadError);
  EXPECT_EQ(buf[0], 1);
  EXPECT_EQ(buf[2], 3);
  EXPECT_EQ(buf[3], 9);
  EXPECT_EQ(s.Position(), 3);
  s.SetPosition(2);
  try {
    s.ReadU16();
    FAIL() << "no error";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
}

TEST(ByteStream, WritingPastTheEndFillsTheGapWithZeros) {
  TMemoryStream s;
  s.Seek(4, TSeekOrigin::Begin);
  s.WriteU8(7);
  EXPECT_EQ(s.Bytes(), (std::vector<uint8_t>{0, 0, 0, 0, 7}));
  s.Skip(-2);
  EXPECT_EQ(s.Position(), 3);
}

TEST(ByteStream, FileStreamRoundTripAndOpenFailureNamesTheFile) {
  std::string path = ::testing::TempDir() + "/qvl_stream_test.bin";
  {
    TFileStream f(path, TFileStream::Create);
    f.WriteU32(0xDEADBEEF);
    f.WriteString16("abc");
    EXPECT_EQ(f.Size(), 9);
    f.Close();
  }
  TFileStream f(path, TFileStream::OpenRead);
  EXPECT_EQ(f.ReadU32(), 0xDEADBEEFu);
  EXPECT_EQ(f.ReadString16(), "abc");
  EXPECT_THROW(f.ReadU8(), EReadError);
  try {
    TFileStream missing(path + ".none", TFileStream::OpenRead);
    FAIL();
  } catch (const EFileError& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file \"" + path + ".none\""),
              std::string::npos);
  }
}

}  // namespace
}  // namespace qvl
