#include "hnsw/disk_rows.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace quarn {

namespace {

std::size_t page_size() {
  static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return size;
}

std::size_t round_up(std::size_t bytes, std::size_t unit) { return (bytes + unit - 1) / unit * unit; }

// The scratch file grows by at least this much at a time, and by half its size when larger.
constexpr std::size_t kMinScratchGrowth = std::size_t{1} << 22;

Result<void*> reserve_range(std::size_t bytes) {
  void* addr = ::mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (addr == MAP_FAILED) return QuarnError::io_errno(errno, "reserving address space for vector rows");
  return addr;
}

}  // namespace

void advise_will_need(const void* data, std::size_t bytes) {
  if (bytes == 0) return;
  const std::uintptr_t page = page_size();
  const auto start = reinterpret_cast<std::uintptr_t>(data) & ~(page - 1);
  const auto end = reinterpret_cast<std::uintptr_t>(data) + bytes;
  (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_WILLNEED);
}

Result<DiskRows> DiskRows::open(const std::string& vectors_path, std::size_t float_count, const std::string& dir,
                                std::size_t min_reservation) {
  DiskRows rows;
  const std::size_t page = page_size();
  const std::size_t bytes = float_count * sizeof(float);
  auto scratch = FileHandle::create_scratch(dir);
  if (!scratch.ok()) return std::move(scratch).error();
  rows.scratch_ = std::move(*scratch);
  rows.reserved_ = round_up(std::max(min_reservation, 2 * bytes + kMinScratchGrowth), page);
  auto region = reserve_range(rows.reserved_);
  if (!region.ok()) return std::move(region).error();
  rows.region_ = *region;
  auto* bytes_at = static_cast<std::uint8_t*>(rows.region_);

  std::vector<std::uint8_t> tail;
  if (bytes > 0) {
    auto source = FileHandle::open_read(vectors_path);
    if (!source.ok()) return std::move(source).error();
    // A file shorter than the rows (replaced since it was checked) would fault when read.
    auto size = source->size();
    if (!size.ok()) return std::move(size).error();
    if (*size < bytes) return QuarnError::corrupt("vectors.bin is shorter than its rows", vectors_path);
    rows.base_bytes_ = bytes / page * page;
    // The partial last page goes to the head of the scratch file, which then continues the
    // array at a page boundary; it is read through a private map over the range first.
    const std::size_t through = round_up(bytes, page);
    QUARN_TRY(source->map_fixed(bytes_at, through, 0, FileHandle::MapKind::Private));
    tail.assign(bytes_at + rows.base_bytes_, bytes_at + bytes);
  }
  rows.scratch_bytes_ = round_up(std::max(tail.size(), kMinScratchGrowth), page);
  QUARN_TRY(rows.scratch_.allocate(rows.scratch_bytes_));
  QUARN_TRY(rows.scratch_.map_fixed(bytes_at + rows.base_bytes_, rows.reserved_ - rows.base_bytes_, 0,
                                    FileHandle::MapKind::Shared));
  std::memcpy(bytes_at + rows.base_bytes_, tail.data(), tail.size());
  rows.float_count_ = float_count;
  return rows;
}

DiskRows::DiskRows(DiskRows&& other) noexcept
    : region_(std::exchange(other.region_, nullptr)),
      reserved_(std::exchange(other.reserved_, 0)),
      base_bytes_(std::exchange(other.base_bytes_, 0)),
      scratch_bytes_(std::exchange(other.scratch_bytes_, 0)),
      float_count_(std::exchange(other.float_count_, 0)),
      scratch_(std::move(other.scratch_)) {}

DiskRows& DiskRows::operator=(DiskRows&& other) noexcept {
  if (this != &other) {
    release();
    region_ = std::exchange(other.region_, nullptr);
    reserved_ = std::exchange(other.reserved_, 0);
    base_bytes_ = std::exchange(other.base_bytes_, 0);
    scratch_bytes_ = std::exchange(other.scratch_bytes_, 0);
    float_count_ = std::exchange(other.float_count_, 0);
    scratch_ = std::move(other.scratch_);
  }
  return *this;
}

DiskRows::~DiskRows() { release(); }

void DiskRows::release() {
  if (region_ != nullptr) ::munmap(region_, reserved_);
  region_ = nullptr;
}

Status DiskRows::grow_reservation(std::size_t bytes) {
  auto fresh = reserve_range(bytes);
  if (!fresh.ok()) return std::move(fresh).error();
  auto* to = static_cast<std::uint8_t*>(*fresh);
  auto* from = static_cast<std::uint8_t*>(region_);
  const auto move = [&](std::size_t offset, std::size_t old_len, std::size_t new_len) -> Status {
    if (::mremap(from + offset, old_len, new_len, MREMAP_MAYMOVE | MREMAP_FIXED, to + offset) == MAP_FAILED) {
      return QuarnError::io_errno(errno, "moving vector rows to a larger reservation");
    }
    return Status::success();
  };
  if (base_bytes_ > 0) {
    Status moved = move(0, base_bytes_, base_bytes_);
    if (!moved.ok()) {
      ::munmap(*fresh, bytes);
      return moved;
    }
  }
  // The base moved already: from here on a failure would leave the rows split, and the store
  // is not usable without them.
  Status moved = move(base_bytes_, reserved_ - base_bytes_, bytes - base_bytes_);
  if (!moved.ok()) std::abort();
  region_ = to;
  reserved_ = bytes;
  return Status::success();
}

Status DiskRows::reserve(std::size_t floats) {
  const std::size_t page = page_size();
  const std::size_t need = round_up(floats * sizeof(float), page);
  if (need <= base_bytes_ + scratch_bytes_) return Status::success();
  const std::size_t scratch_need = need - base_bytes_;
  const std::size_t grown = round_up(
      std::max({scratch_need, scratch_bytes_ + scratch_bytes_ / 2, scratch_bytes_ + kMinScratchGrowth}), page);
  if (base_bytes_ + grown > reserved_) QUARN_TRY(grow_reservation(round_up(2 * (base_bytes_ + grown), page)));
  QUARN_TRY(scratch_.allocate(grown));
  scratch_bytes_ = grown;
  return Status::success();
}

Status DiskRows::append(std::span<const float> floats) {
  QUARN_TRY(reserve(float_count_ + floats.size()));
  std::memcpy(static_cast<float*>(region_) + float_count_, floats.data(), floats.size_bytes());
  float_count_ += floats.size();
  return Status::success();
}

void DiskRows::write(std::size_t offset, std::span<const float> floats) {
  std::memcpy(static_cast<float*>(region_) + offset, floats.data(), floats.size_bytes());
}

void DiskRows::will_need(std::size_t offset, std::size_t floats) const {
  advise_will_need(data() + offset, floats * sizeof(float));
}

}  // namespace quarn
