#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json_test_util.h"

#include "quarn/json.h"

namespace quarn {
namespace {


TEST(JsonEquality, IntegerAndFloatOfSameValueDifferInBothDirections) {
  const Json one_int = parse_json("1");
  const Json one_float = parse_json("1.0");
  EXPECT_FALSE(json_equal(one_int, one_float));
  EXPECT_FALSE(json_equal(one_float, one_int));
  EXPECT_TRUE(json_equal(one_int, parse_json("1")));
  EXPECT_FALSE(json_equal(parse_json("[1]"), parse_json("[1.0]")));
  EXPECT_FALSE(json_equal(parse_json(R"({"n":1})"), parse_json(R"({"n":1.0})")));
}

TEST(JsonEquality, IntegerBuiltInCodeEqualsParsedInteger) {
  // A C++ int literal is held signed; it must still meet the parser's unsigned form.
  EXPECT_TRUE(json_equal(Json(1), parse_json("1")));
  EXPECT_EQ(json_hash(Json(1)), json_hash(parse_json("1")));
  EXPECT_TRUE(json_equal(Json(-1), parse_json("-1")));
  EXPECT_FALSE(json_equal(Json(-1), Json(std::numeric_limits<std::uint64_t>::max())));
}

TEST(JsonEquality, FloatsCompareByIeeeEquality) {
  EXPECT_TRUE(json_equal(Json(0.0), Json(-0.0)));
  EXPECT_EQ(json_hash(Json(0.0)), json_hash(Json(-0.0)));
  const Json nan(std::nan(""));
  EXPECT_FALSE(json_equal(nan, nan));
}

TEST(JsonEquality, KindsAndStructureMustMatch) {
  EXPECT_FALSE(json_equal(Json(true), Json(1)));
  EXPECT_FALSE(json_equal(Json(nullptr), Json(false)));
  EXPECT_FALSE(json_equal(Json("1"), Json(1)));
  EXPECT_TRUE(json_equal(Json(nullptr), Json(nullptr)));
  EXPECT_TRUE(json_equal(parse_json(R"({"a":[1,"x"],"b":null})"), parse_json(R"({"b":null,"a":[1,"x"]})")));
  EXPECT_FALSE(json_equal(parse_json("[1,2]"), parse_json("[2,1]")));
  EXPECT_FALSE(json_equal(parse_json(R"({"a":1})"), parse_json(R"({"a":1,"b":2})")));
  EXPECT_FALSE(json_equal(parse_json(R"({"a":1})"), parse_json(R"({"b":1})")));
}

TEST(JsonHash, EqualValuesHashAlike) {
  const std::vector<std::pair<Json, Json>> equal_pairs = {
      {Json(0.0), Json(-0.0)},
      {Json(7), Json(std::uint64_t{7})},
      {Json("abc"), parse_json(R"("abc")")},
      {Json(true), parse_json("true")},
      {parse_json(R"({"a":[1,-0.0]})"), parse_json(R"({"a":[1,0.0]})")},
  };
  for (const auto& [a, b] : equal_pairs) {
    ASSERT_TRUE(json_equal(a, b)) << a.dump();
    EXPECT_EQ(json_hash(a), json_hash(b)) << a.dump();
  }
  // Not required, but a hash that lumps these together would make index look-ups crawl.
  EXPECT_NE(json_hash(Json(1)), json_hash(Json(1.0)));
  EXPECT_NE(json_hash(Json(1)), json_hash(Json(-1)));
}

TEST(JsonDump, FloatsMatchPythonRepr) {
  // Expected texts produced by Python's json.dumps.
  const std::vector<std::pair<double, std::string>> cases = {
      {1.0, "1.0"},
      {0.1, "0.1"},
      {1e+16, "1e+16"},
      {1e-07, "1e-07"},
      {1000000000000000.0, "1000000000000000.0"},
      {1.5e+16, "1.5e+16"},
      {0.0001, "0.0001"},
      {1e-05, "1e-05"},
      {123.456, "123.456"},
      {-2.5, "-2.5"},
      {5e-324, "5e-324"},
      {1.7976931348623157e+308, "1.7976931348623157e+308"},
      {1.8446744073709552e+19, "1.8446744073709552e+19"},
      {1.0 / 3.0, "0.3333333333333333"},
      {2.2250738585072014e-308, "2.2250738585072014e-308"},
      {1234567890123456.8, "1234567890123456.8"},
      {1.2345678912345678e+16, "1.2345678912345678e+16"},
      {6.02214076e+23, "6.02214076e+23"},
      {0.0, "0.0"},
      {-0.0, "-0.0"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(json_dump(Json(value)), text);
}

TEST(JsonDump, RandomFloatsReadBackExactly) {
  std::mt19937_64 rng(7);
  for (int i = 0; i < 20000; ++i) {
    double d;
    const std::uint64_t bits = rng();
    std::memcpy(&d, &bits, sizeof d);
    if (!std::isfinite(d)) continue;
    const std::string text = json_dump(Json(d));
    ASSERT_TRUE(text.find_first_of(".e") != std::string::npos) << text;
    const Json back = parse_json(text);
    ASSERT_TRUE(back.is_number_float()) << text;
    ASSERT_EQ(std::memcmp(&d, &back.get_ref<const double&>(), sizeof d), 0) << text;
  }
}

TEST(JsonDump, NonFiniteFloatsBecomeNullSoTheTextStaysReadable) {
  EXPECT_EQ(json_dump(Json(std::numeric_limits<double>::infinity())), "null");
  EXPECT_EQ(json_dump(Json(std::nan(""))), "null");
}

TEST(JsonDump, CompactWithSortedKeysEscapesAndRawUnicode) {
  Json v = Json::object();
  v["b"] = 1;
  v["a"] = {{"d", {1, 2.5, nullptr, true}}, {"c", "x"}};
  v["B"] = "\xC3\xA9\xF0\x9F\x98\x80\"\\\n\t\x01\x7F";
  // Same text as Python's json.dumps with sort_keys, compact separators and ensure_ascii off.
  EXPECT_EQ(json_dump(v),
            "{\"B\":\"\xC3\xA9\xF0\x9F\x98\x80\\\"\\\\\\n\\t\\u0001\x7F\",\"a\":{\"c\":\"x\",\"d\":[1,2.5,null,true]},"
            "\"b\":1}");
  EXPECT_EQ(json_dump(Json(std::int64_t{-42})), "-42");
  EXPECT_EQ(json_dump(Json(std::numeric_limits<std::uint64_t>::max())), "18446744073709551615");
  EXPECT_EQ(json_dump(Json::object()), "{}");
  EXPECT_EQ(json_dump(Json::array()), "[]");
  EXPECT_EQ(json_dump(Json("\b\f\r\x1f")), "\"\\b\\f\\r\\u001f\"");
}

TEST(JsonDump, KeysOrderedByBytes) {
  const Json v = parse_json(R"({"\u00e9":1,"b":2,"B":3,"a":4,"":5})");
  EXPECT_EQ(json_dump(v), "{\"\":5,\"B\":3,\"a\":4,\"b\":2,\"\xC3\xA9\":1}");
}

TEST(JsonDump, InvalidUtf8InCodeBuiltStringsIsReplaced) {
  const std::string text = json_dump(Json(std::string("a\xFF" "b")));
  EXPECT_EQ(text, "\"a\xEF\xBF\xBD" "b\"");
  EXPECT_TRUE(json_parse(text).value.has_value());
}

TEST(JsonParse, NumberTyping) {
  EXPECT_TRUE(parse_json("1").is_number_unsigned());
  EXPECT_TRUE(parse_json("0").is_number_unsigned());
  EXPECT_TRUE(parse_json("-0").is_number_unsigned());
  EXPECT_EQ(parse_json("-1").type(), Json::value_t::number_integer);
  EXPECT_EQ(parse_json("-1").get<std::int64_t>(), -1);
  EXPECT_TRUE(parse_json("1.0").is_number_float());
  EXPECT_TRUE(parse_json("1e2").is_number_float());
  EXPECT_EQ(parse_json("18446744073709551615").get<std::uint64_t>(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(parse_json("-9223372036854775808").get<std::int64_t>(), std::numeric_limits<std::int64_t>::min());

  const Json two_pow_64 = parse_json("18446744073709551616");
  ASSERT_TRUE(two_pow_64.is_number_float());
  EXPECT_EQ(two_pow_64.get<double>(), 1.8446744073709552e19);
  EXPECT_EQ(json_dump(two_pow_64), "1.8446744073709552e+19");
  EXPECT_TRUE(parse_json("-9223372036854775809").is_number_float());
  // Nested integers follow the same rule.
  const Json nested = parse_json(R"({"a":[-0,5,-5]})");
  EXPECT_TRUE(nested["a"][0].is_number_unsigned());
  EXPECT_TRUE(nested["a"][1].is_number_unsigned());
  EXPECT_EQ(nested["a"][2].type(), Json::value_t::number_integer);
}

TEST(JsonParse, RejectsNonFiniteTokensAndOverflow) {
  for (const char* text : {"NaN", "Infinity", "-Infinity", "[1, NaN]", "1e400", "-1e400", R"({"x":1e999})"}) {
    JsonParse p = json_parse(text);
    EXPECT_FALSE(p.value.has_value()) << text;
    EXPECT_NE(p.error.find("line 1, column"), std::string::npos) << text << ": " << p.error;
  }
  // Underflow to a subnormal or zero is an ordinary float.
  EXPECT_EQ(parse_json("1e-400").get<double>(), 0.0);
}

TEST(JsonParse, OneCompleteValueWithOptionalWhitespace) {
  EXPECT_TRUE(json_equal(parse_json(" \n\t{\"a\": [1, 2]}\r\n "), parse_json(R"({"a":[1,2]})")));
  for (const char* text : {"", "   ", "1 2", "{\"a\":1", "{\"a\":1}}", "[1,]", "{'a':1}", "tru", "\"abc",
                           "01", "{\"a\" 1}", "/*c*/1"}) {
    JsonParse p = json_parse(text);
    EXPECT_FALSE(p.value.has_value()) << text;
    EXPECT_FALSE(p.error.empty()) << text;
  }
}

TEST(JsonParse, ErrorNamesPosition) {
  JsonParse p = json_parse("{\"a\":\n  NaN}");
  ASSERT_FALSE(p.value.has_value());
  EXPECT_NE(p.error.find("line 2"), std::string::npos) << p.error;
  EXPECT_EQ(p.error.find("[json.exception"), std::string::npos) << p.error;
}

TEST(JsonParse, StringsMustBeValidUtf8AndEscapesDecode) {
  EXPECT_FALSE(json_parse("\"a\xFF\"").value.has_value());
  EXPECT_FALSE(json_parse("\"\xED\xA0\x80\"").value.has_value());  // encoded surrogate
  EXPECT_FALSE(json_parse(R"("\ud800")").value.has_value());         // lone surrogate escape
  EXPECT_FALSE(json_parse("\"a\nb\"").value.has_value());            // raw control character
  EXPECT_EQ(parse_json(R"("\u00e9\ud83d\ude00\n")").get<std::string>(), "\xC3\xA9\xF0\x9F\x98\x80\n");
}

TEST(JsonParse, DuplicateKeysKeepTheLastValue) {
  EXPECT_TRUE(json_equal(parse_json(R"({"a":1,"a":2})"), parse_json(R"({"a":2})")));
}

TEST(JsonParse, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  const std::string ok_text = std::string(1000, '[') + std::string(1000, ']');
  const Json ok = parse_json(ok_text);
  EXPECT_EQ(json_dump(ok), ok_text);
  EXPECT_TRUE(json_equal(ok, ok));

  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  JsonParse p = json_parse(deep);
  EXPECT_FALSE(p.value.has_value());
  EXPECT_NE(p.error.find("nesting"), std::string::npos) << p.error;
}

Json random_value(std::mt19937_64& rng, int depth) {
  const int kind = static_cast<int>(rng() % (depth > 2 ? 6 : 8));
  switch (kind) {
    case 0:
      return nullptr;
    case 1:
      return rng() % 2 == 0;
    case 2:
      return static_cast<std::uint64_t>(rng() >> (rng() % 64));
    case 3:
      return -static_cast<std::int64_t>(rng() >> (1 + rng() % 63)) - 1;
    case 4:
      return std::ldexp(static_cast<double>(rng() % 1000000) - 500000.0, static_cast<int>(rng() % 80) - 40);
    case 5: {
      std::string s;
      const char* pieces[] = {"a", "Z", "\"", "\\", "\n", "\x01", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", " "};
      for (std::uint64_t n = rng() % 6; n > 0; --n) s += pieces[rng() % 10];
      return s;
    }
    case 6: {
      Json a = Json::array();
      for (std::uint64_t n = rng() % 4; n > 0; --n) a.push_back(random_value(rng, depth + 1));
      return a;
    }
    default: {
      Json o = Json::object();
      for (std::uint64_t n = rng() % 4; n > 0; --n) {
        o[std::string(1, static_cast<char>('a' + rng() % 5))] = random_value(rng, depth + 1);
      }
      return o;
    }
  }
}

TEST(JsonRoundTrip, DumpThenParseGivesAnEqualValueAndTheSameText) {
  std::mt19937_64 rng(11);
  for (int i = 0; i < 3000; ++i) {
    const Json v = random_value(rng, 0);
    const std::string text = json_dump(v);
    const Json back = parse_json(text);
    ASSERT_TRUE(json_equal(v, back)) << text;
    ASSERT_EQ(json_hash(v), json_hash(back)) << text;
    ASSERT_EQ(json_dump(back), text);
  }
}

}  // namespace
}  // namespace quarn
