// Byte streams with little-endian typed access: the configuration stream, log files, the
// configuration image and the live channel's messages are all read and written through them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qvl {

enum class TSeekOrigin { Begin, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;

  // Reads up to n bytes; returns how many were read (fewer only at the end of the stream).
  virtual size_t Read(void* buffer, size_t n) = 0;
  // Writes n bytes; returns how many were written.
  virtual size_t Write(const void* buffer, size_t n) = 0;
  // Moves the position; returns the new position. A position past the end is allowed;
  // reading there returns nothing, writing there fills the gap with zeros.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::Begin); }
  void Skip(int64_t n) { Seek(n, TSeekOrigin::Current); }
  bool AtEnd() { return Position() >= Size(); }

  // Reads exactly n bytes or raises EReadError "Stream read error"; the bytes that could be
  // read stay in the buffer and the position stays after them.
  void ReadBuffer(void* buffer, size_t n);
  // Writes exactly n bytes or raises EWriteError "Stream write error".
  void WriteBuffer(const void* buffer, size_t n);

  uint8_t ReadU8();
  int8_t ReadI8() { return int8_t(ReadU8()); }
  uint16_t ReadU16();
  int16_t ReadI16() { return int16_t(ReadU16()); }
  uint32_t ReadU32();
  int32_t ReadI32() { return int32_t(ReadU32()); }
  float ReadF32();
  double ReadF64();
  std::string ReadBytes(size_t n);
  // An 8-bit string behind a 16-bit length, without terminator.
  std::string ReadString16();

  void WriteU8(uint8_t v) { WriteBuffer(&v, 1); }
  void WriteI8(int8_t v) { WriteU8(uint8_t(v)); }
  void WriteU16(uint16_t v);
  void WriteI16(int16_t v) { WriteU16(uint16_t(v)); }
  void WriteU32(uint32_t v);
  void WriteI32(int32_t v) { WriteU32(uint32_t(v)); }
  void WriteF32(float v);
  void WriteF64(double v);
  void WriteBytes(const std::string& bytes) { WriteBuffer(bytes.data(), bytes.size()); }
  void WriteBytes(const std::vector<uint8_t>& bytes) { WriteBuffer(bytes.data(), bytes.size()); }
  // Writes the 16-bit length and the bytes; a longer string is cut at 65535 bytes.
  void WriteString16(const std::string& s);

  // Copies count bytes from source (all of it from its start when count is 0).
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A stream held in memory; it owns its bytes.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> bytes) : data_(std::move(bytes)) {}

  size_t Read(void* buffer, size_t n) override;
  size_t Write(const void* buffer, size_t n) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return int64_t(data_.size()); }
  void SetSize(int64_t size) override;
  void Clear() {
    data_.clear();
    position_ = 0;
  }

  const uint8_t* Memory() const { return data_.data(); }
  uint8_t* Memory() { return data_.data(); }
  const std::vector<uint8_t>& Bytes() const { return data_; }
  std::vector<uint8_t>& Bytes() { return data_; }

  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName) const;

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// A read-only stream over bytes that someone else owns (a received message, a mapped file).
class TByteViewStream : public TStream {
 public:
  TByteViewStream(const void* data, size_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(size) {}

  size_t Read(void* buffer, size_t n) override;
  size_t Write(const void* buffer, size_t n) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return int64_t(size_); }
  void SetSize(int64_t size) override;

 private:
  const uint8_t* data_;
  size_t size_;
  int64_t position_ = 0;
};

// A stream on a file, buffered.
class TFileStream : public TStream {
 public:
  enum TMode { OpenRead, Create, OpenReadWrite };

  // Raises EFileError with "Cannot open file "<name>". <reason>" (or "Cannot create file ...").
  TFileStream(const std::string& fileName, TMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  size_t Read(void* buffer, size_t n) override;
  size_t Write(const void* buffer, size_t n) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;
  void SetSize(int64_t size) override;

  const std::string& FileName() const { return fileName_; }
  // Pushes buffered bytes to the file and the file to the disk; raises EFileError on failure.
  void FlushToDisk();
  // Closes the file, reporting a failed final write as EFileError.
  void Close();

 private:
  std::string fileName_;
  std::FILE* file_ = nullptr;
};

}  // namespace qvl
