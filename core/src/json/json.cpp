#include "quarn/json.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "util/utf8.h"

namespace quarn {

namespace {

using Value = Json::value_t;

enum class Kind : std::uint8_t { Null, Bool, Integer, Float, String, Array, Object, Other };

Kind kind_of(const Json& v) {
  switch (v.type()) {
    case Value::null:
      return Kind::Null;
    case Value::boolean:
      return Kind::Bool;
    case Value::number_integer:
    case Value::number_unsigned:
      return Kind::Integer;
    case Value::number_float:
      return Kind::Float;
    case Value::string:
      return Kind::String;
    case Value::array:
      return Kind::Array;
    case Value::object:
      return Kind::Object;
    default:
      return Kind::Other;
  }
}

// Integers compare by value, so a non-negative integer held as signed (as a C++ int literal
// builds it) still equals the unsigned form the parser produces.
bool integers_equal(const Json& a, const Json& b) {
  const bool a_unsigned = a.is_number_unsigned();
  const bool b_unsigned = b.is_number_unsigned();
  if (a_unsigned && b_unsigned) return a.get<std::uint64_t>() == b.get<std::uint64_t>();
  if (!a_unsigned && !b_unsigned) return a.get<std::int64_t>() == b.get<std::int64_t>();
  const std::int64_t s = a_unsigned ? b.get<std::int64_t>() : a.get<std::int64_t>();
  const std::uint64_t u = a_unsigned ? a.get<std::uint64_t>() : b.get<std::uint64_t>();
  return s >= 0 && static_cast<std::uint64_t>(s) == u;
}

std::uint64_t mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

std::uint64_t combine(std::uint64_t seed, std::uint64_t value) { return mix(seed ^ mix(value)); }

std::uint64_t hash_value(const Json& v) {
  const Kind kind = kind_of(v);
  std::uint64_t h = mix(static_cast<std::uint64_t>(kind));
  switch (kind) {
    case Kind::Null:
    case Kind::Other:
      return h;
    case Kind::Bool:
      return combine(h, v.get<bool>() ? 1 : 0);
    case Kind::Integer:
      // The 64-bit pattern of the value; both forms of a non-negative value share it.
      return combine(h, v.is_number_unsigned() ? v.get<std::uint64_t>()
                                               : static_cast<std::uint64_t>(v.get<std::int64_t>()));
    case Kind::Float: {
      double d = v.get<double>();
      if (d == 0.0) d = 0.0;  // -0.0 equals 0.0
      return combine(h, std::bit_cast<std::uint64_t>(d));
    }
    case Kind::String:
      return combine(h, std::hash<std::string_view>{}(v.get_ref<const std::string&>()));
    case Kind::Array:
      for (const Json& item : v) h = combine(h, hash_value(item));
      return h;
    case Kind::Object:
      for (const auto& [key, item] : v.items()) {
        h = combine(h, std::hash<std::string_view>{}(key));
        h = combine(h, hash_value(item));
      }
      return h;
  }
  return h;
}

// ---- text output ----

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

// ---- parsing ----

// Deeper values are refused so that the recursive routines above stay within the stack.
constexpr std::size_t kMaxDepth = 4096;

// Character iterator that publishes how far the parser has read, so errors raised by the
// builder below can name a position.
class TrackingIterator {
 public:
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  TrackingIterator() = default;
  TrackingIterator(const char* p, const char** progress) : p_(p), progress_(progress) {}
  reference operator*() const { return *p_; }
  TrackingIterator& operator++() {
    ++p_;
    if (progress_ != nullptr) *progress_ = p_;
    return *this;
  }
  TrackingIterator operator++(int) {
    TrackingIterator old = *this;
    ++*this;
    return old;
  }
  bool operator==(const TrackingIterator& o) const { return p_ == o.p_; }

 private:
  const char* p_ = nullptr;
  const char** progress_ = nullptr;
};

// Builds the value from parser events without exceptions, keeping every non-negative integer
// unsigned and refusing values nested too deeply.
class Builder {
 public:
  using number_integer_t = Json::number_integer_t;
  using number_unsigned_t = Json::number_unsigned_t;
  using number_float_t = Json::number_float_t;
  using string_t = Json::string_t;
  using binary_t = Json::binary_t;

  explicit Builder(Json& root) : root_(root) {}

  bool null() { return add(Json(nullptr)) != nullptr; }
  bool boolean(bool v) { return add(Json(v)) != nullptr; }
  bool number_integer(number_integer_t v) {
    if (v >= 0) return add(Json(static_cast<std::uint64_t>(v))) != nullptr;
    return add(Json(v)) != nullptr;
  }
  bool number_unsigned(number_unsigned_t v) { return add(Json(v)) != nullptr; }
  // The parser itself refuses floats that overflow binary64.
  bool number_float(number_float_t v, const string_t&) { return add(Json(v)) != nullptr; }
  bool string(string_t& v) { return add(Json(std::move(v))) != nullptr; }
  bool binary(binary_t&) { return false; }
  bool start_object(std::size_t) { return open(Json::object()); }
  bool start_array(std::size_t) { return open(Json::array()); }
  bool key(string_t& k) {
    pending_key_ = &(*stack_.back())[k];
    return true;
  }
  bool end_object() {
    stack_.pop_back();
    return true;
  }
  bool end_array() {
    stack_.pop_back();
    return true;
  }
  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& ex) {
    std::string_view what = ex.what();
    const std::size_t close = what.find("] ");
    if (what.starts_with("[json.exception.") && close != std::string_view::npos) {
      what.remove_prefix(close + 2);
    }
    if (error_.empty()) error_ = what;
    return false;
  }

  const std::string& error() const { return error_; }
  bool too_deep() const { return too_deep_; }

 private:
  Json* add(Json v) {
    if (stack_.empty()) {
      root_ = std::move(v);
      return &root_;
    }
    Json& top = *stack_.back();
    if (top.is_array()) {
      top.push_back(std::move(v));
      return &top.back();
    }
    *pending_key_ = std::move(v);
    return pending_key_;
  }
  bool open(Json container) {
    if (stack_.size() >= kMaxDepth) {
      too_deep_ = true;
      return false;
    }
    stack_.push_back(add(std::move(container)));
    return true;
  }
  Json& root_;
  std::vector<Json*> stack_;
  Json* pending_key_ = nullptr;
  std::string error_;
  bool too_deep_ = false;
};

std::string position_text(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(offset - line_start);
}

}  // namespace

bool json_equal(const Json& a, const Json& b) {
  const Kind kind = kind_of(a);
  if (kind != kind_of(b)) return false;
  switch (kind) {
    case Kind::Null:
      return true;
    case Kind::Bool:
      return a.get<bool>() == b.get<bool>();
    case Kind::Integer:
      return integers_equal(a, b);
    case Kind::Float:
      return a.get<double>() == b.get<double>();
    case Kind::String:
      return a.get_ref<const std::string&>() == b.get_ref<const std::string&>();
    case Kind::Array: {
      if (a.size() != b.size()) return false;
      for (std::size_t i = 0; i < a.size(); ++i) {
        if (!json_equal(a[i], b[i])) return false;
      }
      return true;
    }
    case Kind::Object: {
      if (a.size() != b.size()) return false;
      auto ia = a.begin();
      auto ib = b.begin();
      // Both maps are ordered by key, so equal key sets line up pairwise.
      for (; ia != a.end(); ++ia, ++ib) {
        if (ia.key() != ib.key() || !json_equal(ia.value(), ib.value())) return false;
      }
      return true;
    }
    case Kind::Other:
      return a == b;
  }
  return false;
}

std::size_t json_hash(const Json& v) { return static_cast<std::size_t>(hash_value(v)); }

std::string json_dump(const Json& v) {
  std::string out;
  append_value(out, v);
  return out;
}

JsonParse json_parse(std::string_view text) {
  Json root;
  Builder builder(root);
  const char* begin = text.data();
  const char* progress = begin;
  const bool ok = Json::sax_parse(TrackingIterator(begin, &progress), TrackingIterator(begin + text.size(), nullptr),
                                  &builder, Json::input_format_t::json, /*strict=*/true);
  JsonParse result;
  if (ok) {
    result.value = std::move(root);
    return result;
  }
  const std::string position = position_text(text, static_cast<std::size_t>(progress - begin));
  if (builder.too_deep()) {
    result.error = "nesting deeper than " + std::to_string(kMaxDepth) + " levels at " + position;
  } else if (builder.error().empty()) {
    result.error = "parse error at " + position;
  } else {
    result.error = builder.error();
    // Range errors of the parser carry no position of their own.
    if (result.error.find(" at line ") == std::string::npos) result.error += " at " + position;
  }
  return result;
}

}  // namespace quarn
