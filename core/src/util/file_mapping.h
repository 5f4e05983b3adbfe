#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "quarn/result.h"

namespace quarn {

// Read-only shared mapping of a whole file; unmapped on destruction.
class FileMapping {
 public:
  // Maps the whole file read-only and shared; a file of length 0 is mapped with length 1. With
  // `populate` every page is read in at once; without, pages are read as they are touched.
  static Result<FileMapping> map_file(const std::string& path, bool populate = true);
  FileMapping() = default;
  FileMapping(FileMapping&& other) noexcept;
  FileMapping& operator=(FileMapping&& other) noexcept;
  FileMapping(const FileMapping&) = delete;
  FileMapping& operator=(const FileMapping&) = delete;
  ~FileMapping();

  const std::uint8_t* data() const { return static_cast<const std::uint8_t*>(addr_); }
  // Length of the file in bytes (0 for an empty file, although one byte is mapped).
  std::size_t file_size() const { return file_size_; }
  bool populated() const { return populated_; }

 private:
  void* addr_ = nullptr;
  std::size_t mapped_len_ = 0;
  std::size_t file_size_ = 0;
  bool populated_ = true;
};

}  // namespace quarn
