// Helpers shared by the fuzz targets: a scratch directory per process, input splitting and
// checks that abort so that libFuzzer records the input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>

namespace quarn_fuzz {

// Aborts with a message: a broken property is a finding just like a sanitizer report.
#define FUZZ_CHECK(cond, what)                                                            \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "property failed at %s:%d: %s\n", __FILE__, __LINE__, (what)); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

// Consumes an input front to back. Sections are length-prefixed (u32 little-endian) so that
// mutations of a length move the boundary instead of invalidating the whole input.
class Splitter {
 public:
  Splitter(const std::uint8_t* data, std::size_t size) : data_(data, size) {}

  std::size_t remaining() const { return data_.size() - pos_; }
  std::uint8_t byte() { return pos_ < data_.size() ? data_[pos_++] : 0; }
  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= std::uint32_t{byte()} << (8 * i);
    return v;
  }
  // A section of at most the announced length (less when the input ends first).
  std::span<const std::uint8_t> section() {
    const std::uint32_t len = u32();
    return take(len);
  }
  std::span<const std::uint8_t> take(std::size_t len) {
    const std::size_t n = len < remaining() ? len : remaining();
    auto out = data_.subspan(pos_, n);
    pos_ += n;
    return out;
  }
  std::span<const std::uint8_t> rest() { return take(remaining()); }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

inline std::string_view as_text(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// A directory of this process in memory-backed storage when there is one; emptied by
// fresh() before each input and removed at exit.
class ScratchDir {
 public:
  ScratchDir() {
    namespace fs = std::filesystem;
    const char* base = fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    std::string pattern = std::string(base) + "/quarn-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    root_ = pattern;
    path_ = root_ + "/db";
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  // The database directory, empty (created when `create`).
  const std::string& fresh(bool create = true) {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    if (create) std::filesystem::create_directory(path_, ec);
    return path_;
  }
  const std::string& path() const { return path_; }
  std::string file(const char* name) const { return path_ + "/" + name; }

 private:
  std::string root_;
  std::string path_;
};

inline ScratchDir& scratch() {
  static ScratchDir dir;
  return dir;
}

inline void write_bytes(const std::string& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  FUZZ_CHECK(out.good(), "could not write a scratch file");
}

}  // namespace quarn_fuzz
