#include "quarn/io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarn {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

Status FileHandle::close() {
  if (fd_ < 0) return Status::success();
  int fd = release();
  if (::close(fd) != 0) return QuarnError::io_errno(errno);
  return Status::success();
}

static Result<FileHandle> open_with(const std::string& path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return QuarnError::io_errno(errno);
  return FileHandle(fd);
}

Result<FileHandle> FileHandle::open_append(const std::string& path) {
  return open_with(path, O_WRONLY | O_APPEND | O_CREAT);
}

Result<FileHandle> FileHandle::create_truncate(const std::string& path) {
  return open_with(path, O_WRONLY | O_CREAT | O_TRUNC);
}

Result<FileHandle> FileHandle::open_read(const std::string& path) { return open_with(path, O_RDONLY); }

static Status write_all(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return QuarnError::io_errno(errno);
    }
    if (n == 0) return QuarnError::io_errno(EIO);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return Status::success();
}

BufferedWriter::BufferedWriter(FileHandle file) : file_(std::move(file)) { buffer_.reserve(kBufferSize); }

Status BufferedWriter::write(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + size <= kBufferSize) {
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return Status::success();
  }
  QUARN_TRY(flush());
  if (size >= kBufferSize) return write_all(file_.get(), bytes, size);
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  return Status::success();
}

Status BufferedWriter::write_u32(std::uint32_t v) {
  std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                       static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
  return write(b, 4);
}

Status BufferedWriter::write_f32(float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  return write_u32(bits);
}

Status BufferedWriter::flush() {
  if (buffer_.empty()) return Status::success();
  Status s = write_all(file_.get(), buffer_.data(), buffer_.size());
  buffer_.clear();
  return s;
}

Status BufferedWriter::close() {
  Status s = flush();
  Status c = file_.close();
  if (!s.ok()) return s;
  return c;
}

Result<std::uint8_t> ByteReader::read_u8() {
  if (remaining() < 1) return QuarnError::io_eof();
  return data_[pos_++];
}

Result<std::uint32_t> ByteReader::read_u32() {
  if (remaining() < 4) return QuarnError::io_eof();
  const std::uint8_t* p = data_.data() + pos_;
  pos_ += 4;
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

Result<float> ByteReader::read_f32() {
  auto bits = read_u32();
  if (!bits.ok()) return std::move(bits).error();
  float v;
  std::memcpy(&v, &bits.value(), 4);
  return v;
}

Result<std::span<const std::uint8_t>> ByteReader::read_bytes(std::size_t size) {
  if (remaining() < size) return QuarnError::io_eof();
  auto out = data_.subspan(pos_, size);
  pos_ += size;
  return out;
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 24));
}

void put_f32(std::vector<std::uint8_t>& out, float v) {
  std::uint32_t bits;
  std::memcpy(&bits, &v, 4);
  put_u32(out, bits);
}

Result<std::vector<std::uint8_t>> read_file(const std::string& path) {
  auto file = FileHandle::open_read(path);
  if (!file.ok()) return std::move(file).error();
  struct stat st {};
  if (::fstat(file->get(), &st) != 0) return QuarnError::io_errno(errno);
  std::vector<std::uint8_t> data;
  data.reserve(static_cast<std::size_t>(st.st_size));
  std::uint8_t chunk[65536];
  for (;;) {
    ssize_t n = ::read(file->get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return QuarnError::io_errno(errno);
    }
    if (n == 0) break;
    data.insert(data.end(), chunk, chunk + n);
  }
  return data;
}

Result<std::vector<std::uint8_t>> read_file_prefix(const std::string& path, std::size_t limit) {
  auto file = FileHandle::open_read(path);
  if (!file.ok()) return std::move(file).error();
  std::vector<std::uint8_t> data(limit);
  std::size_t filled = 0;
  while (filled < limit) {
    ssize_t n = ::read(file->get(), data.data() + filled, limit - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      return QuarnError::io_errno(errno);
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  data.resize(filled);
  return data;
}

Result<std::uint64_t> file_size(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return QuarnError::io_errno(errno);
  return static_cast<std::uint64_t>(st.st_size);
}

bool path_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

Status create_directories(const std::string& path) {
  if (path.empty()) return Status::success();
  std::string current;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    std::size_t next = path.find('/', pos + 1);
    current = path.substr(0, next);
    pos = next;
    if (current.empty() || current == "/") continue;
    if (::mkdir(current.c_str(), 0777) != 0 && errno != EEXIST) return QuarnError::io_errno(errno);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return QuarnError::io_errno(errno);
  if (!S_ISDIR(st.st_mode)) return QuarnError::io_errno(ENOTDIR);
  return Status::success();
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

Status rename_file(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return QuarnError::io_errno(errno);
  return Status::success();
}

Status remove_file(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return QuarnError::io_errno(errno);
  return Status::success();
}

}  // namespace quarn
