#include "util/file_mapping.h"

#include <sys/mman.h>

#include <utility>

#include "util/file.h"

namespace quarn {

Result<FileMapping> FileMapping::map_file(const std::string& path, bool populate) {
  auto file = FileHandle::open_read(path);
  if (!file.ok()) return std::move(file).error();
  auto file_size = file->size();
  if (!file_size.ok()) return std::move(file_size).error();
  const auto size = static_cast<std::size_t>(*file_size);
  // mmap rejects a length of 0; an empty file is mapped with one byte so the map is never null.
  const std::size_t len = size == 0 ? 1 : size;
  auto mapped = file->map_read_only(len);
  if (!mapped.ok()) return std::move(mapped).error();
  void* addr = *mapped;
#ifdef MADV_POPULATE_READ
  // Fault every page in now: a search reads rows all over the map, and left to fault one page
  // at a time, the first searches after an open pay for it. Best effort: an older kernel
  // refuses the advice and the pages fault in as they are read.
  if (populate) (void)::madvise(addr, len, MADV_POPULATE_READ);
#endif
  FileMapping mapping;
  mapping.addr_ = addr;
  mapping.mapped_len_ = len;
  mapping.file_size_ = size;
  mapping.populated_ = populate;
  return mapping;
}

FileMapping::FileMapping(FileMapping&& other) noexcept
    : addr_(other.addr_), mapped_len_(other.mapped_len_), file_size_(other.file_size_), populated_(other.populated_) {
  other.addr_ = nullptr;
  other.mapped_len_ = 0;
  other.file_size_ = 0;
}

FileMapping& FileMapping::operator=(FileMapping&& other) noexcept {
  if (this != &other) {
    if (addr_ != nullptr) ::munmap(addr_, mapped_len_);
    addr_ = other.addr_;
    mapped_len_ = other.mapped_len_;
    file_size_ = other.file_size_;
    populated_ = other.populated_;
    other.addr_ = nullptr;
    other.mapped_len_ = 0;
    other.file_size_ = 0;
  }
  return *this;
}

FileMapping::~FileMapping() {
  if (addr_ != nullptr) ::munmap(addr_, mapped_len_);
}

}  // namespace quarn
