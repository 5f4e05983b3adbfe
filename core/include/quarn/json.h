#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "quarn/result.h"

namespace quarn {

// JSON value with object keys in ascending byte order. Non-negative integers are always held
// as unsigned, negative ones as signed, everything else as binary64.
using Json = nlohmann::json;

// Equality of the system: kinds and number representations must match (1 != 1.0), floats
// compare by IEEE equality (0.0 == -0.0, NaN != NaN), objects by key set and values. Integers
// compare by value, so a non-negative integer built as signed in code equals the unsigned one.
bool json_equal(const Json& a, const Json& b);

// Hash agreeing with json_equal: kind first, then bool value, the 64-bit pattern of a number
// (-0.0 hashed as 0.0), or the bytes of a string.
std::size_t json_hash(const Json& v);

struct JsonHash {
  std::size_t operator()(const Json& v) const { return json_hash(v); }
};
struct JsonEqual {
  bool operator()(const Json& a, const Json& b) const { return json_equal(a, b); }
};

// Compact text: no whitespace, ascending keys, shortest round-trip floats that always carry a
// fraction or exponent (1.0, 1e+16, 1e-07, as Python writes them), JSON escapes for strings and
// UTF-8 for everything else. Values only code can build are written so the text still parses:
// NaN and infinities as null, invalid UTF-8 bytes as U+FFFD.
std::string json_dump(const Json& v);

// Parses exactly one JSON value with optional surrounding whitespace. Integers outside the two
// integer ranges become floats; NaN, Infinity, numbers beyond binary64 and values nested deeper
// than 4096 levels are refused. On failure returns a message with the position.
struct JsonParse {
  std::optional<Json> value;
  std::string error;
};
JsonParse json_parse(std::string_view text);

}  // namespace quarn
