#include "quarn/json.h"

#include <bit>
#include <cstdint>
#include <string>

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

}  // namespace quarn
