// A small JSON value for the command line's --json output.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace qvl::cli {

class TJson {
 public:
  using TObject = std::vector<std::pair<std::string, TJson>>;  // keys in insertion order
  using TArray = std::vector<TJson>;

  TJson() : value_(nullptr) {}
  TJson(std::nullptr_t) : value_(nullptr) {}
  TJson(bool b) : value_(b) {}
  TJson(int v) : value_(int64_t(v)) {}
  TJson(unsigned v) : value_(int64_t(v)) {}
  TJson(long v) : value_(int64_t(v)) {}
  TJson(long long v) : value_(int64_t(v)) {}
  TJson(unsigned long v) : value_(int64_t(v)) {}
  TJson(unsigned long long v) : value_(int64_t(v)) {}
  TJson(double v) : value_(v) {}
  // Single-precision values print with the digits that identify the float, not the double.
  TJson(float v) : value_(TFloat{v}) {}
  TJson(const char* s) : value_(std::string(s)) {}
  TJson(std::string s) : value_(std::move(s)) {}

  static TJson Object() {
    TJson j;
    j.value_ = TObject{};
    return j;
  }
  static TJson Array() {
    TJson j;
    j.value_ = TArray{};
    return j;
  }

  // Object member (appended, or replaced when the key exists).
  TJson& operator[](const std::string& key);
  // Array element.
  void Push(TJson value);

  // Compact when indent is 0, else pretty with that many blanks per level. Strings are
  // expected to be UTF-8.
  std::string Dump(int indent = 2) const;

 private:
  struct TFloat {
    float v;
  };
  void DumpTo(std::string& out, int indent, int level) const;
  std::variant<std::nullptr_t, bool, int64_t, double, TFloat, std::string, TArray, TObject> value_;
};

// Lower-case hexadecimal digits of bytes.
std::string HexBytes(const uint8_t* data, size_t size);

}  // namespace qvl::cli
