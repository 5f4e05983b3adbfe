#include "quarn/json.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "util/utf8.h"

namespace quarn {

namespace {

using Value = Json::value_t;

void append_float(std::string& out, double d) {
  if (!std::isfinite(d)) {
    // Not representable in JSON; parsing never produces one.
    out += "null";
    return;
  }
  if (d == 0.0) {
    out += std::signbit(d) ? "-0.0" : "0.0";
    return;
  }
  // Shortest round-trip digits, laid out like Python's repr: positional notation for decimal
  // exponents in [-4, 16), scientific otherwise.
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  bool negative = false;
  if (sci.front() == '-') {
    negative = true;
    sci.remove_prefix(1);
  }
  const std::size_t e_pos = sci.find('e');
  std::string digits;
  for (char c : sci.substr(0, e_pos)) {
    if (c != '.') digits.push_back(c);
  }
  int exponent = 0;
  std::string_view exp_text = sci.substr(e_pos + 1);
  if (exp_text.front() == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);

  if (negative) out.push_back('-');
  const int ndigits = static_cast<int>(digits.size());
  if (exponent >= -4 && exponent < 16) {
    if (exponent < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exponent - 1), '0');
      out += digits;
    } else if (exponent + 1 >= ndigits) {
      out += digits;
      out.append(static_cast<std::size_t>(exponent + 1 - ndigits), '0');
      out += ".0";
    } else {
      out.append(digits, 0, static_cast<std::size_t>(exponent + 1));
      out.push_back('.');
      out.append(digits, static_cast<std::size_t>(exponent + 1));
    }
    return;
  }
  out.push_back(digits[0]);
  if (ndigits > 1) {
    out.push_back('.');
    out.append(digits, 1);
  }
  out.push_back('e');
  out.push_back(exponent < 0 ? '-' : '+');
  const int magnitude = exponent < 0 ? -exponent : exponent;
  if (magnitude < 10) out.push_back('0');
  out += std::to_string(magnitude);
}

void append_string(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c >= 0x80) {
      const std::size_t len = utf8_sequence_length(s, i);
      if (len == 0) {
        // Invalid bytes (only possible in values built in code) become U+FFFD, so the text
        // always reads back.
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(s.substr(i, len));
        i += len;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
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
          out += "\\u00";
          out.push_back(kHex[c >> 4]);
          out.push_back(kHex[c & 0xF]);
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
  out.push_back('"');
}

void append_value(std::string& out, const Json& v) {
  char buf[32];
  switch (v.type()) {
    case Value::null:
      out += "null";
      return;
    case Value::boolean:
      out += v.get<bool>() ? "true" : "false";
      return;
    case Value::number_unsigned: {
      auto res = std::to_chars(buf, buf + sizeof buf, v.get<std::uint64_t>());
      out.append(buf, res.ptr);
      return;
    }
    case Value::number_integer: {
      auto res = std::to_chars(buf, buf + sizeof buf, v.get<std::int64_t>());
      out.append(buf, res.ptr);
      return;
    }
    case Value::number_float:
      append_float(out, v.get<double>());
      return;
    case Value::string:
      append_string(out, v.get_ref<const std::string&>());
      return;
    case Value::array: {
      out.push_back('[');
      bool first = true;
      for (const Json& item : v) {
        if (!first) out.push_back(',');
        first = false;
        append_value(out, item);
      }
      out.push_back(']');
      return;
    }
    case Value::object: {
      out.push_back('{');
      bool first = true;
      for (const auto& [key, item] : v.items()) {
        if (!first) out.push_back(',');
        first = false;
        append_string(out, key);
        out.push_back(':');
        append_value(out, item);
      }
      out.push_back('}');
      return;
    }
    default:
      out += "null";
      return;
  }
}

}  // namespace

std::string json_dump(const Json& v) {
  std::string out;
  append_value(out, v);
  return out;
}

}  // namespace quarn
