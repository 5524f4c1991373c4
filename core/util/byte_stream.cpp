#include "core/util/byte_stream.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/util/endian.h"
#include "core/util/exceptions.h"

namespace qvl {

int64_t TStream::Size() {
  int64_t here = Position();
  int64_t end = Seek(0, TSeekOrigin::End);
  Seek(here, TSeekOrigin::Begin);
  return end;
}

void TStream::ReadBuffer(void* buffer, size_t n) {
  if (n != 0 && Read(buffer, n) != n) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, size_t n) {
  if (n != 0 && Write(buffer, n) != n) throw EWriteError("Stream write error");
}

uint8_t TStream::ReadU8() {
  uint8_t v;
  ReadBuffer(&v, 1);
  return v;
}

uint16_t TStream::ReadU16() {
  uint8_t b[2];
  ReadBuffer(b, 2);
  return GetU16(b);
}

uint32_t TStream::ReadU32() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return GetU32(b);
}

float TStream::ReadF32() {
  uint8_t b[4];
  ReadBuffer(b, 4);
  return GetF32(b);
}

double TStream::ReadF64() {
  uint8_t b[8];
  ReadBuffer(b, 8);
  return GetF64(b);
}

std::string TStream::ReadBytes(size_t n) {
  std::string s(n, '\0');
  size_t got = n == 0 ? 0 : Read(s.data(), n);
  if (got != n) {
    s.resize(got);
    throw EReadError("Stream read error");
  }
  return s;
}

std::string TStream::ReadString16() {
  return ReadBytes(ReadU16());
}

void TStream::WriteU16(uint16_t v) {
  uint8_t b[2];
  PutU16(b, v);
  WriteBuffer(b, 2);
}

void TStream::WriteU32(uint32_t v) {
  uint8_t b[4];
  PutU32(b, v);
  WriteBuffer(b, 4);
}

void TStream::WriteF32(float v) {
  uint8_t b[4];
  PutF32(b, v);
  WriteBuffer(b, 4);
}

void TStream::WriteF64(double v) {
  uint8_t b[8];
  PutF64(b, v);
  WriteBuffer(b, 8);
}

void TStream::WriteString16(const std::string& s) {
  size_t n = std::min<size_t>(s.size(), 0xFFFF);
  WriteU16(uint16_t(n));
  WriteBuffer(s.data(), n);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  uint8_t chunk[65536];
  int64_t left = count;
  while (left > 0) {
    size_t n = size_t(std::min<int64_t>(left, sizeof chunk));
    source.ReadBuffer(chunk, n);
    WriteBuffer(chunk, n);
    left -= int64_t(n);
  }
  return count;
}

// --- TMemoryStream ---------------------------------------------------------------------------

size_t TMemoryStream::Read(void* buffer, size_t n) {
  if (position_ >= int64_t(data_.size())) return 0;
  size_t avail = data_.size() - size_t(position_);
  size_t take = std::min(n, avail);
  std::memcpy(buffer, data_.data() + position_, take);
  position_ += int64_t(take);
  return take;
}

size_t TMemoryStream::Write(const void* buffer, size_t n) {
  if (n == 0) return 0;
  size_t end = size_t(position_) + n;
  if (end > data_.size()) data_.resize(end);
  std::memcpy(data_.data() + position_, buffer, n);
  position_ = int64_t(end);
  return n;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::Begin     ? 0
                 : origin == TSeekOrigin::Current ? position_
                                                  : int64_t(data_.size());
  position_ = std::max<int64_t>(0, base + offset);
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  data_.resize(size_t(std::max<int64_t>(0, size)));
  if (position_ > int64_t(data_.size())) position_ = int64_t(data_.size());
}

void TMemoryStream::LoadFromFile(const std::string& fileName) {
  TFileStream f(fileName, TFileStream::OpenRead);
  int64_t size = f.Size();
  data_.resize(size_t(size));
  f.ReadBuffer(data_.data(), data_.size());
  position_ = 0;
}

void TMemoryStream::SaveToFile(const std::string& fileName) const {
  TFileStream f(fileName, TFileStream::Create);
  f.WriteBuffer(data_.data(), data_.size());
  f.Close();
}

// --- TByteViewStream -------------------------------------------------------------------------

size_t TByteViewStream::Read(void* buffer, size_t n) {
  if (position_ >= int64_t(size_)) return 0;
  size_t take = std::min(n, size_ - size_t(position_));
  std::memcpy(buffer, data_ + position_, take);
  position_ += int64_t(take);
  return take;
}

size_t TByteViewStream::Write(const void*, size_t) {
  return 0;
}

int64_t TByteViewStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::Begin     ? 0
                 : origin == TSeekOrigin::Current ? position_
                                                  : int64_t(size_);
  position_ = std::max<int64_t>(0, base + offset);
  return position_;
}

void TByteViewStream::SetSize(int64_t) {
  throw EWriteError("Stream write error");
}

// --- TFileStream -----------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, TMode mode) : fileName_(fileName) {
  const char* how = mode == OpenRead ? "rb" : mode == Create ? "w+b" : "r+b";
  file_ = std::fopen(fileName.c_str(), how);
  if (!file_) {
    std::string verb = mode == Create ? "Cannot create file" : "Cannot open file";
    throw EFileError(verb + " \"" + fileName + "\". " + std::strerror(errno));
  }
}

TFileStream::~TFileStream() {
  if (file_) std::fclose(file_);
}

size_t TFileStream::Read(void* buffer, size_t n) {
  if (!file_) return 0;
  return std::fread(buffer, 1, n, file_);
}

size_t TFileStream::Write(const void* buffer, size_t n) {
  if (!file_) return 0;
  return std::fwrite(buffer, 1, n, file_);
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (!file_) return 0;
  int whence = origin == TSeekOrigin::Begin     ? SEEK_SET
               : origin == TSeekOrigin::Current ? SEEK_CUR
                                                : SEEK_END;
  if (!(origin == TSeekOrigin::Current && offset == 0)) fseeko(file_, offset, whence);
  return ftello(file_);
}

int64_t TFileStream::Size() {
  if (!file_) return 0;
  std::fflush(file_);
  return TStream::Size();
}

void TFileStream::SetSize(int64_t size) {
  if (!file_) return;
  std::fflush(file_);
  if (ftruncate(fileno(file_), size) != 0)
    throw EFileError("Cannot write file \"" + fileName_ + "\". " + std::strerror(errno));
  if (Position() > size) Seek(size, TSeekOrigin::Begin);
}

void TFileStream::FlushToDisk() {
  if (!file_) return;
  if (std::fflush(file_) != 0 || fsync(fileno(file_)) != 0)
    throw EFileError("Cannot write file \"" + fileName_ + "\". " + std::strerror(errno));
}

void TFileStream::Close() {
  if (!file_) return;
  std::FILE* f = file_;
  file_ = nullptr;
  if (std::fclose(f) != 0)
    throw EFileError("Cannot write file \"" + fileName_ + "\". " + std::strerror(errno));
}

}  // namespace qvl
