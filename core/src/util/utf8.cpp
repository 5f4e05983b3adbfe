#include "util/utf8.h"

namespace quarn {

namespace {

// Sequence length for a lead byte (0 for a byte that cannot start one) and the range the second
// byte must fall in, which excludes overlong forms, surrogates and code points past U+10FFFF.
struct Lead {
  std::size_t length = 0;
  std::uint8_t lo = 0x80;
  std::uint8_t hi = 0xBF;
};

Lead lead_of(std::uint8_t b0) {
  Lead lead;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    lead.length = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    lead.length = 3;
    if (b0 == 0xE0) lead.lo = 0xA0;
    if (b0 == 0xED) lead.hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    lead.length = 4;
    if (b0 == 0xF0) lead.lo = 0x90;
    if (b0 == 0xF4) lead.hi = 0x8F;
  }
  return lead;
}

// How many bytes from `i` on fit the sequence `lead` starts (at most lead.length).
std::size_t valid_prefix(const std::uint8_t* s, std::size_t n, std::size_t i, const Lead& lead) {
  if (i + 1 >= n || s[i + 1] < lead.lo || s[i + 1] > lead.hi) return 1;
  std::size_t valid = 2;
  while (valid < lead.length && i + valid < n && s[i + valid] >= 0x80 && s[i + valid] <= 0xBF) ++valid;
  return valid;
}

}  // namespace

std::size_t utf8_sequence_length(std::string_view s, std::size_t i) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(s.data());
  if (bytes[i] < 0x80) return 1;
  const Lead lead = lead_of(bytes[i]);
  if (lead.length == 0) return 0;
  return valid_prefix(bytes, s.size(), i, lead) == lead.length ? lead.length : 0;
}

bool is_valid_utf8(std::span<const std::uint8_t> bytes, std::string* error) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    if (bytes[i] < 0x80) {
      ++i;
      continue;
    }
    const Lead lead = lead_of(bytes[i]);
    const std::size_t valid = lead.length == 0 ? 0 : valid_prefix(bytes.data(), n, i, lead);
    if (valid < lead.length || lead.length == 0) {
      if (error) {
        const bool incomplete = lead.length != 0 && i + valid >= n;
        *error = (incomplete ? "incomplete utf-8 sequence at byte " : "invalid utf-8 sequence at byte ") +
                 std::to_string(i);
      }
      return false;
    }
    i += lead.length;
  }
  return true;
}

}  // namespace quarn
