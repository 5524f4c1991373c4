#include "cli/json.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qvl::cli {
namespace {

void Escape(std::string& out, const std::string& s) {
  out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += char(c);
        }
    }
  }
  out += '"';
}

void Number(std::string& out, double v, int digits) {
  if (!std::isfinite(v)) {
    out += "null";  // JSON has no NaN or infinity
    return;
  }
  // The shortest digits that read back to the same value (as a float for single-precision
  // values); whole numbers and everyday magnitudes without an exponent.
  int exponent = v == 0 ? 0 : int(std::floor(std::log10(std::fabs(v))));
  char buf[48];
  for (int p = 1; p <= digits; ++p) {
    int precision = exponent >= 0 && exponent < 15 ? std::max(p, exponent + 1) : p;
    std::snprintf(buf, sizeof buf, "%.*g", precision, v);
    double back = std::strtod(buf, nullptr);
    if (digits <= 9 ? float(back) == float(v) : back == v) break;
  }
  out += buf;
}

}  // namespace

TJson& TJson::operator[](const std::string& key) {
  if (!std::holds_alternative<TObject>(value_)) value_ = TObject{};
  auto& object = std::get<TObject>(value_);
  for (auto& member : object)
    if (member.first == key) return member.second;
  object.emplace_back(key, TJson());
  return object.back().second;
}

void TJson::Push(TJson value) {
  if (!std::holds_alternative<TArray>(value_)) value_ = TArray{};
  std::get<TArray>(value_).push_back(std::move(value));
}

std::string TJson::Dump(int indent) const {
  std::string out;
  DumpTo(out, indent, 0);
  return out;
}

void TJson::DumpTo(std::string& out, int indent, int level) const {
  auto newline = [&](int l) {
    if (indent == 0) return;
    out += '\n';
    out.append(size_t(indent * l), ' ');
  };
  if (std::holds_alternative<std::nullptr_t>(value_)) {
    out += "null";
  } else if (auto* b = std::get_if<bool>(&value_)) {
    out += *b ? "true" : "false";
  } else if (auto* i = std::get_if<int64_t>(&value_)) {
    out += std::to_string(*i);
  } else if (auto* d = std::get_if<double>(&value_)) {
    Number(out, *d, 17);
  } else if (auto* f = std::get_if<TFloat>(&value_)) {
    Number(out, f->v, 9);
  } else if (auto* s = std::get_if<std::string>(&value_)) {
    Escape(out, *s);
  } else if (auto* a = std::get_if<TArray>(&value_)) {
    // Arrays of plain values stay on one line.
    bool flat = std::all_of(a->begin(), a->end(), [](const TJson& e) {
      return !std::holds_alternative<TArray>(e.value_) &&
             !std::holds_alternative<TObject>(e.value_);
    });
    if (flat) {
      out += '[';
      for (size_t k = 0; k < a->size(); ++k) {
        if (k) out += indent ? ", " : ",";
        (*a)[k].DumpTo(out, indent, level + 1);
      }
      out += ']';
      return;
    }
    out += '[';
    for (size_t k = 0; k < a->size(); ++k) {
      if (k) out += ',';
      newline(level + 1);
      (*a)[k].DumpTo(out, indent, level + 1);
    }
    if (!a->empty()) newline(level);
    out += ']';
  } else if (auto* o = std::get_if<TObject>(&value_)) {
    out += '{';
    for (size_t k = 0; k < o->size(); ++k) {
      if (k) out += ',';
      newline(level + 1);
      Escape(out, (*o)[k].first);
      out += indent ? ": " : ":";
      (*o)[k].second.DumpTo(out, indent, level + 1);
    }
    if (!o->empty()) newline(level);
    out += '}';
  }
}

std::string HexBytes(const uint8_t* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  s.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    s += kDigits[data[i] >> 4];
    s += kDigits[data[i] & 15];
  }
  return s;
}

}  // namespace qvl::cli
