#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace quarn {

// Length of the well-formed UTF-8 sequence starting at s[i] (overlong forms, surrogates and
// code points beyond U+10FFFF are not), or 0 when there is none.
std::size_t utf8_sequence_length(std::string_view s, std::size_t i);

// Whether `bytes` is well-formed UTF-8; on failure `error` (when given) says where.
bool is_valid_utf8(std::span<const std::uint8_t> bytes, std::string* error = nullptr);

}  // namespace quarn
