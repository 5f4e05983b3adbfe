// json_parse on arbitrary text. Beyond memory safety: whatever parses must survive
// json_dump -> json_parse unchanged (equal under json_equal, same hash, same text), and
// whatever fails must say where.
#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "quarn/json.h"

using quarn::Json;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  quarn::JsonParse parsed = quarn::json_parse(text);
  if (!parsed.value) {
    FUZZ_CHECK(!parsed.error.empty(), "a refused text has an error message");
    FUZZ_CHECK(parsed.error.find("line ") != std::string::npos, "the error names a position");
    return 0;
  }
  const Json& value = *parsed.value;
  FUZZ_CHECK(quarn::json_equal(value, value), "a parsed value equals itself (parsing never yields NaN)");

  const std::string dumped = quarn::json_dump(value);
  quarn::JsonParse again = quarn::json_parse(dumped);
  FUZZ_CHECK(again.value.has_value(), "dumped text parses");
  FUZZ_CHECK(quarn::json_equal(value, *again.value), "dump -> parse keeps the value");
  FUZZ_CHECK(quarn::json_hash(value) == quarn::json_hash(*again.value), "equal values hash alike");
  FUZZ_CHECK(quarn::json_dump(*again.value) == dumped, "dumped text is a fixed point");

  // The same value with surrounding whitespace; a second value after it is refused.
  FUZZ_CHECK(quarn::json_parse(" \n" + dumped + "\t ").value.has_value(), "surrounding whitespace is accepted");
  FUZZ_CHECK(!quarn::json_parse(dumped + " " + dumped).value.has_value(), "two values are refused");
  return 0;
}
