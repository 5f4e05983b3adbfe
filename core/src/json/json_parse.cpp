#include "quarn/json.h"

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

namespace quarn {

namespace {

// Deeper values are refused so that the recursive comparison, hashing and text output of a
// parsed value stay within the stack.
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
