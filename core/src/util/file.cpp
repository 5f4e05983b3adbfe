#include "util/file.h"

#include "util/bytes.h"

#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace quarn {

namespace {

std::atomic<bool> hook_installed{false};
std::mutex hook_mutex;  // guards `hook`
FileFaultHook hook;

// The errno a test wants this call to fail with, or 0.
int injected(FileOp op, const std::string& path, const std::string& target = {}) {
  if (!hook_installed.load(std::memory_order_acquire)) return 0;
  FileFaultHook copy;
  {
    std::lock_guard guard(hook_mutex);
    copy = hook;
  }
  return copy ? copy(op, path, target) : 0;
}

std::atomic<bool> observer_installed{false};
std::mutex observer_mutex;  // guards `observer`
FileObserver observer;

bool observing() { return observer_installed.load(std::memory_order_acquire); }

int observed(const FileEvent& event) {
  FileObserver copy;
  {
    std::lock_guard guard(observer_mutex);
    copy = observer;
  }
  return copy ? copy(event) : 0;
}

// Reports a path call that succeeded; the errno the observer asks for, or 0.
int observed_path(FileOp op, const std::string& path, const std::string& target = {}, std::uint64_t offset = 0) {
  if (!observing()) return 0;
  return observed(FileEvent{op, path, target, -1, 0, offset});
}

const std::string kNoTarget;

}  // namespace

const char* file_op_name(FileOp op) {
  switch (op) {
    case FileOp::Open: return "open";
    case FileOp::Read: return "read";
    case FileOp::Write: return "write";
    case FileOp::Sync: return "sync";
    case FileOp::Rename: return "rename";
    case FileOp::Unlink: return "unlink";
    case FileOp::Truncate: return "truncate";
    case FileOp::Map: return "map";
    case FileOp::Stat: return "stat";
    case FileOp::MakeDir: return "mkdir";
    case FileOp::Lock: return "lock";
  }
  return "?";
}

void set_file_observer(FileObserver fresh) {
  std::lock_guard guard(observer_mutex);
  observer = std::move(fresh);
  observer_installed.store(static_cast<bool>(observer), std::memory_order_release);
}

int file_fault(FileOp op, const std::string& path, const std::string& target) { return injected(op, path, target); }

void set_file_fault_hook(FileFaultHook fresh) {
  std::lock_guard guard(hook_mutex);
  hook = std::move(fresh);
  hook_installed.store(static_cast<bool>(hook), std::memory_order_release);
}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
    path_ = std::move(other.path_);
  }
  return *this;
}

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

Status FileHandle::close() {
  if (fd_ < 0) return Status::success();
  int fd = release();
  if (::close(fd) != 0) return QuarnError::io_errno(errno, path_);
  return Status::success();
}

static Result<FileHandle> open_with(const std::string& path, int flags) {
  if (int err = injected(FileOp::Open, path)) return QuarnError::io_errno(err, path);
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return QuarnError::io_errno(errno, path);
  FileHandle file(fd, path);
  if (observing()) {
    if (int err = observed(FileEvent{FileOp::Open, path, kNoTarget, fd, flags})) return QuarnError::io_errno(err, path);
  }
  return file;
}

Result<FileHandle> FileHandle::open_append(const std::string& path) {
  return open_with(path, O_WRONLY | O_APPEND | O_CREAT);
}

Result<FileHandle> FileHandle::create_truncate(const std::string& path) {
  return open_with(path, O_WRONLY | O_CREAT | O_TRUNC);
}

Result<FileHandle> FileHandle::open_read(const std::string& path) { return open_with(path, O_RDONLY); }

Result<FileHandle> FileHandle::open_directory(const std::string& path) {
  return open_with(path, O_RDONLY | O_DIRECTORY);
}

Result<FileHandle> FileHandle::open_lock_file(const std::string& path) { return open_with(path, O_RDWR | O_CREAT); }

Status FileHandle::write_all(const std::uint8_t* data, std::size_t size) {
  if (int err = injected(FileOp::Write, path_)) return QuarnError::io_errno(err, path_);
  while (size > 0) {
    ssize_t n = ::write(fd_, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return QuarnError::io_errno(errno, path_);
    }
    if (n == 0) return QuarnError::io_errno(EIO, path_);
    if (observing()) {
      // The file offset now stands at the end of what this write put in, appending or not.
      const off_t end = ::lseek(fd_, 0, SEEK_CUR);
      const FileEvent event{FileOp::Write, path_, kNoTarget, fd_, 0,
                            static_cast<std::uint64_t>(end) - static_cast<std::uint64_t>(n), data,
                            static_cast<std::size_t>(n)};
      if (int err = observed(event)) return QuarnError::io_errno(err, path_);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return Status::success();
}

Result<std::size_t> FileHandle::read_some(std::uint8_t* data, std::size_t size) {
  if (int err = injected(FileOp::Read, path_)) return QuarnError::io_errno(err, path_);
  for (;;) {
    const ssize_t n = ::read(fd_, data, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return QuarnError::io_errno(errno, path_);
  }
}

Status FileHandle::sync() {
  if (int err = injected(FileOp::Sync, path_)) return QuarnError::io_errno(err, path_);
  int rc;
  do {
    rc = ::fsync(fd_);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return QuarnError::io_errno(errno, path_);
  return report_sync();
}

Status FileHandle::sync_data() {
  if (int err = injected(FileOp::Sync, path_)) return QuarnError::io_errno(err, path_);
  int rc;
  do {
    rc = ::fdatasync(fd_);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return QuarnError::io_errno(errno, path_);
  return report_sync();
}

Status FileHandle::report_sync() const {
  if (!observing()) return Status::success();
  if (int err = observed(FileEvent{FileOp::Sync, path_, kNoTarget, fd_})) return QuarnError::io_errno(err, path_);
  return Status::success();
}

Result<std::uint64_t> FileHandle::size() const {
  if (int err = injected(FileOp::Stat, path_)) return QuarnError::io_errno(err, path_);
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return QuarnError::io_errno(errno, path_);
  return static_cast<std::uint64_t>(st.st_size);
}

Result<bool> FileHandle::try_lock_exclusive() {
  if (int err = injected(FileOp::Lock, path_)) return QuarnError::io_errno(err, path_);
  int rc;
  do {
    rc = ::flock(fd_, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc == 0) return true;
  if (errno == EWOULDBLOCK) return false;
  return QuarnError::io_errno(errno, path_);
}

Result<void*> FileHandle::map_read_only(std::size_t length) const {
  if (int err = injected(FileOp::Map, path_)) return QuarnError::io_errno(err, path_);
  void* addr = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd_, 0);
  if (addr == MAP_FAILED) return QuarnError::io_errno(errno, path_);
  return addr;
}

Result<FileHandle> FileHandle::create_scratch(const std::string& dir) {
  const std::string where = dir.empty() ? std::string(".") : dir;
  if (int err = injected(FileOp::Open, where)) return QuarnError::io_errno(err, where);
  int fd;
  do {
    fd = ::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) return FileHandle(fd, where);
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return QuarnError::io_errno(errno, where);
  // A file system without unnamed files: a named one, unlinked at once.
  std::string name = join_path(where, ".scratch-XXXXXX");
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return QuarnError::io_errno(errno, where);
  ::unlink(name.c_str());
  return FileHandle(fd, where);
}

Status FileHandle::allocate(std::uint64_t length) {
  if (int err = injected(FileOp::Write, path_)) return QuarnError::io_errno(err, path_);
  const int rc = ::posix_fallocate(fd_, 0, static_cast<off_t>(length));
  if (rc != 0) return QuarnError::io_errno(rc, path_);
  return Status::success();
}

Status FileHandle::map_fixed(void* addr, std::size_t length, std::uint64_t offset, MapKind kind) const {
  if (int err = injected(FileOp::Map, path_)) return QuarnError::io_errno(err, path_);
  const int flags = MAP_FIXED | (kind == MapKind::Shared ? MAP_SHARED : MAP_PRIVATE);
  void* got = ::mmap(addr, length, PROT_READ | PROT_WRITE, flags, fd_, static_cast<off_t>(offset));
  if (got == MAP_FAILED) return QuarnError::io_errno(errno, path_);
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
  if (size >= kBufferSize) return file_.write_all(bytes, size);
  buffer_.insert(buffer_.end(), bytes, bytes + size);
  return Status::success();
}

Status BufferedWriter::write_u32(std::uint32_t v) {
  std::uint8_t b[4];
  store_u32(b, v);
  return write(b, 4);
}

Status BufferedWriter::write_f32(float v) { return write_u32(std::bit_cast<std::uint32_t>(v)); }

Status BufferedWriter::flush() {
  if (buffer_.empty()) return Status::success();
  Status s = file_.write_all(buffer_.data(), buffer_.size());
  buffer_.clear();
  return s;
}

Status BufferedWriter::sync() {
  QUARN_TRY(flush());
  return file_.sync();
}

Status BufferedWriter::close() {
  Status s = flush();
  Status c = file_.close();
  if (!s.ok()) return s;
  return c;
}

FileHandle BufferedWriter::detach() {
  (void)flush();
  return std::move(file_);
}

void close_in_background(FileHandle file) {
  if (!file.valid()) return;
  try {
    std::thread([owned = std::move(file)]() mutable { (void)owned.close(); }).detach();
  } catch (const std::system_error&) {
    // No thread to spare: the handle closes here, with the callable that held it.
  }
}

Result<std::vector<std::uint8_t>> read_file(const std::string& path) {
  auto file = FileHandle::open_read(path);
  if (!file.ok()) return std::move(file).error();
  auto size = file->size();
  if (!size.ok()) return std::move(size).error();
  // Reads straight into the result. The file may change meanwhile: it is read to its end, which
  // may come before or after the size it had.
  std::vector<std::uint8_t> data(static_cast<std::size_t>(*size));
  std::size_t filled = 0;
  while (filled < data.size()) {
    auto n = file->read_some(data.data() + filled, data.size() - filled);
    if (!n.ok()) return std::move(n).error();
    if (*n == 0) break;
    filled += *n;
  }
  if (filled < data.size()) {
    data.resize(filled);
    return data;
  }
  std::uint8_t chunk[65536];
  for (;;) {
    auto n = file->read_some(chunk, sizeof chunk);
    if (!n.ok()) return std::move(n).error();
    if (*n == 0) break;
    data.insert(data.end(), chunk, chunk + *n);
  }
  return data;
}

Result<std::vector<std::uint8_t>> read_file_prefix(const std::string& path, std::size_t limit) {
  auto file = FileHandle::open_read(path);
  if (!file.ok()) return std::move(file).error();
  std::vector<std::uint8_t> data(limit);
  std::size_t filled = 0;
  while (filled < limit) {
    auto n = file->read_some(data.data() + filled, limit - filled);
    if (!n.ok()) return std::move(n).error();
    if (*n == 0) break;
    filled += *n;
  }
  data.resize(filled);
  return data;
}

Result<std::uint64_t> file_size(const std::string& path) {
  if (int err = injected(FileOp::Stat, path)) return QuarnError::io_errno(err, path);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return QuarnError::io_errno(errno, path);
  return static_cast<std::uint64_t>(st.st_size);
}

bool path_exists(const std::string& path) {
  auto exists = file_exists(path);
  return exists.ok() && *exists;
}

Result<bool> file_exists(const std::string& path) {
  if (int err = injected(FileOp::Stat, path)) return QuarnError::io_errno(err, path);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return true;
  if (errno == ENOENT || errno == ENOTDIR) return false;
  return QuarnError::io_errno(errno, path);
}

Result<std::optional<FileIdentity>> file_identity(const std::string& path) {
  if (int err = injected(FileOp::Stat, path)) return QuarnError::io_errno(err, path);
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return std::optional<FileIdentity>();
    return QuarnError::io_errno(errno, path);
  }
  return std::optional<FileIdentity>(FileIdentity{
      static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
      static_cast<std::uint64_t>(st.st_size),
      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec});
}

Status create_directories(const std::string& path) {
  if (path.empty()) return Status::success();
  if (int err = injected(FileOp::MakeDir, path)) return QuarnError::io_errno(err, path);
  std::string current;
  std::size_t pos = 0;
  while (pos != std::string::npos) {
    std::size_t next = path.find('/', pos + 1);
    current = path.substr(0, next);
    pos = next;
    if (current.empty() || current == "/") continue;
    if (::mkdir(current.c_str(), 0777) != 0 && errno != EEXIST) return QuarnError::io_errno(errno, path);
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return QuarnError::io_errno(errno, path);
  if (!S_ISDIR(st.st_mode)) return QuarnError::io_errno(ENOTDIR, path);
  if (int err = observed_path(FileOp::MakeDir, path)) return QuarnError::io_errno(err, path);
  return Status::success();
}

std::string join_path(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  if (dir.back() == '/') return dir + name;
  return dir + "/" + name;
}

std::string parent_directory(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return trimmed.substr(0, slash);
}

Status rename_file(const std::string& from, const std::string& to) {
  if (int err = injected(FileOp::Rename, from, to)) return QuarnError::io_errno(err, from);
  if (::rename(from.c_str(), to.c_str()) != 0) return QuarnError::io_errno(errno, from);
  if (int err = observed_path(FileOp::Rename, from, to)) return QuarnError::io_errno(err, from);
  return Status::success();
}

Status remove_file(const std::string& path) {
  if (int err = injected(FileOp::Unlink, path)) return QuarnError::io_errno(err, path);
  if (::unlink(path.c_str()) != 0) return QuarnError::io_errno(errno, path);
  if (int err = observed_path(FileOp::Unlink, path)) return QuarnError::io_errno(err, path);
  return Status::success();
}

Status truncate_file(const std::string& path, std::uint64_t length) {
  if (int err = injected(FileOp::Truncate, path)) return QuarnError::io_errno(err, path);
  int rc;
  do {
    rc = ::truncate(path.c_str(), static_cast<off_t>(length));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return QuarnError::io_errno(errno, path);
  if (int err = observed_path(FileOp::Truncate, path, {}, length)) return QuarnError::io_errno(err, path);
  return Status::success();
}

Status sync_directory(const std::string& path) {
  auto dir = FileHandle::open_directory(path.empty() ? std::string(".") : path);
  if (!dir.ok()) return std::move(dir).error();
  return dir->sync();
}

}  // namespace quarn
