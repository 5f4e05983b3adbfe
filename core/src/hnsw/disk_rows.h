#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "quarn/result.h"
#include "util/file.h"

namespace quarn {

// Full-precision rows kept in files instead of memory, as one array in one reserved address
// range: the rows of vectors.bin, mapped copy-on-write (an update of such a row costs a private
// page), continued by an unnamed scratch file that takes every row appended since. The kernel
// keeps whatever pages fit and drops the rest. The log, not the scratch file, keeps writes
// durable: the scratch file vanishes with the store, and a save writes vectors.bin anew.
class DiskRows {
 public:
  // Address space is reserved generously, so the rows seldom move: at least this much, and
  // twice what they need when they outgrow it.
  static constexpr std::size_t kMinReservation = std::size_t{1} << 34;

  // The first `float_count` floats of `vectors_path` (none when the path is empty) as the
  // leading rows; the scratch file is made in `dir`, beside them.
  static Result<DiskRows> open(const std::string& vectors_path, std::size_t float_count, const std::string& dir,
                               std::size_t min_reservation = kMinReservation);
  DiskRows() = default;
  DiskRows(DiskRows&& other) noexcept;
  DiskRows& operator=(DiskRows&& other) noexcept;
  DiskRows(const DiskRows&) = delete;
  DiskRows& operator=(const DiskRows&) = delete;
  ~DiskRows();

  const float* data() const { return static_cast<const float*>(region_); }
  std::size_t float_count() const { return float_count_; }
  // Room for `floats` floats in all without moving data() again until then.
  Status reserve(std::size_t floats);
  Status append(std::span<const float> floats);
  // Overwrites floats from `offset` on (all below float_count()).
  void write(std::size_t offset, std::span<const float> floats);
  // Asks the kernel to start reading the pages of [offset, offset + floats) now, without
  // waiting for them, so that several rows cost one wait.
  void will_need(std::size_t offset, std::size_t floats) const;

 private:
  // Moves both maps into a larger reservation of `bytes`; copied-on-write pages move with them.
  Status grow_reservation(std::size_t bytes);
  void release();

  void* region_ = nullptr;
  std::size_t reserved_ = 0;     // bytes of address space at region_
  std::size_t base_bytes_ = 0;   // page-aligned bytes of vectors.bin mapped at region_
  std::size_t scratch_bytes_ = 0;  // bytes of disk the scratch file holds from region_ + base_bytes_
  std::size_t float_count_ = 0;
  FileHandle scratch_;
};

// Whole pages around [data, data + bytes) advised as soon needed; nothing when bytes is 0.
void advise_will_need(const void* data, std::size_t bytes);

}  // namespace quarn
