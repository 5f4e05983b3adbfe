#pragma once

#include <string_view>

#include <gtest/gtest.h>

#include "quarn/json.h"

namespace quarn {

// Parses JSON text that a test expects to be valid, reporting the parser's message otherwise.
inline Json parse_json(std::string_view text) {
  JsonParse p = json_parse(text);
  EXPECT_TRUE(p.value.has_value()) << text << ": " << p.error;
  return p.value.value_or(Json());
}

}  // namespace quarn
