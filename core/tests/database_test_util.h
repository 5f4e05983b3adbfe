// Helpers shared by the Database suites: temporary directories, log inspection, fixed-seed data.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "db/db_impl.h"
#include "quarn/json.h"

namespace quarn::testing {

// A fresh directory under the system temp dir, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quarn-db-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string wal_path() const { return path_ + "/wal.quarn"; }
  bool wal_exists() const { return std::filesystem::exists(wal_path()); }
  std::vector<std::uint8_t> wal_bytes() const {
    std::ifstream in(wal_path(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  // Makes every log append fail: the log path becomes a directory.
  void block_wal() const { std::filesystem::create_directory(wal_path()); }

 private:
  std::string path_;
};

inline bool small_scale() {
  const char* scale = std::getenv("QUARN_TEST_SCALE");
  return scale != nullptr && std::string(scale) == "small";
}

inline Json J(const std::string& text) {
  auto parsed = json_parse(text);
  if (!parsed.value) ADD_FAILURE() << "bad JSON in test: " << text << ": " << parsed.error;
  return parsed.value.value_or(Json());
}

inline SearchParams top(std::size_t k, const Filter* filter = nullptr) {
  SearchParams p;
  p.k = k;
  p.filter = filter;
  return p;
}

inline std::unique_ptr<DbImpl> make_db(const TempDir& dir, std::size_t dim, Metric metric = Metric::Euclidean,
                                       std::size_t m = 16, std::size_t ef_construction = 200) {
  return DbImpl::create_empty(dir.path(), dim, metric, m, ef_construction, false);
}

inline std::vector<std::vector<float>> random_vectors(std::size_t n, std::size_t dim, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<std::vector<float>> out(n, std::vector<float>(dim));
  for (auto& v : out) {
    for (float& x : v) x = dist(rng);
  }
  return out;
}

// Squared Euclidean distance in double precision, as an outside reference.
inline double l2sq(const std::vector<float>& a, std::span<const float> b) {
  double sum = 0.0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
    sum += d * d;
  }
  return sum;
}

// Log frames built by hand, checked with zlib's crc32.
inline void put_u32le(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void put_str(std::vector<std::uint8_t>& out, const std::string& s) {
  put_u32le(out, static_cast<std::uint32_t>(s.size()));
  out.insert(out.end(), s.begin(), s.end());
}
inline void put_vec(std::vector<std::uint8_t>& out, const std::vector<float>& v) {
  put_u32le(out, static_cast<std::uint32_t>(v.size()));
  for (float f : v) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put_u32le(out, bits);
  }
}
inline std::vector<std::uint8_t> frame(std::uint8_t type, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> out{type};
  put_u32le(out, static_cast<std::uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  std::vector<std::uint8_t> checked{type};
  checked.insert(checked.end(), payload.begin(), payload.end());
  put_u32le(out, static_cast<std::uint32_t>(::crc32(0L, checked.data(), static_cast<uInt>(checked.size()))));
  return out;
}

}  // namespace quarn::testing
