#include "util/file_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace quarn {

namespace {

// Small enough to stay in the processor's cache between the read and the write: with 4 MiB
// chunks a copy of cached files took twice as long as `cp`, with 256 KiB about as long.
constexpr std::size_t kCopyChunk = std::size_t{256} << 10;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

Result<std::vector<DirectoryEntry>> list_directory(const std::string& dir) {
  auto handle = FileHandle::open_directory(dir);
  if (!handle.ok()) return std::move(handle).error();
  const int fd = handle->release();
  std::unique_ptr<DIR, DirCloser> stream(::fdopendir(fd));
  if (!stream) {
    const int err = errno;
    ::close(fd);
    return QuarnError::io_errno(err, dir);
  }
  std::vector<DirectoryEntry> entries;
  for (;;) {
    if (int err = file_fault(FileOp::Read, dir)) return QuarnError::io_errno(err, dir);
    errno = 0;
    const dirent* entry = ::readdir(stream.get());
    if (entry == nullptr) {
      if (errno != 0) return QuarnError::io_errno(errno, dir);
      break;
    }
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    bool regular = entry->d_type == DT_REG;
    if (entry->d_type == DT_UNKNOWN) {
      const std::string path = join_path(dir, name);
      if (int err = file_fault(FileOp::Stat, path)) return QuarnError::io_errno(err, path);
      struct stat st {};
      regular = ::fstatat(::dirfd(stream.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
    }
    entries.push_back({name, regular});
  }
  return entries;
}

Status remove_directory(const std::string& dir) {
  if (int err = file_fault(FileOp::Unlink, dir)) return QuarnError::io_errno(err, dir);
  if (::rmdir(dir.c_str()) != 0) return QuarnError::io_errno(errno, dir);
  return Status::success();
}

Result<std::string> resolve_path(const std::string& path) {
  std::string head = path.empty() ? std::string(".") : path;
  std::string tail;
  for (;;) {
    if (int err = file_fault(FileOp::Stat, head)) return QuarnError::io_errno(err, head);
    char resolved[PATH_MAX];
    if (::realpath(head.c_str(), resolved) != nullptr) return tail.empty() ? std::string(resolved) : join_path(resolved, tail);
    if (errno != ENOENT) return QuarnError::io_errno(errno, head);
    if (head == "." || head == "/") return QuarnError::io_errno(ENOENT, head);
    std::string trimmed = head;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const std::size_t slash = trimmed.rfind('/');
    const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    tail = tail.empty() ? name : join_path(name, tail);
    head = parent_directory(trimmed);
  }
}

Result<FileIdentity> identity_of(const FileHandle& file) {
  if (int err = file_fault(FileOp::Stat, file.path())) return QuarnError::io_errno(err, file.path());
  struct stat st {};
  if (::fstat(file.get(), &st) != 0) return QuarnError::io_errno(errno, file.path());
  return FileIdentity{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                      static_cast<std::uint64_t>(st.st_size),
                      static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

Result<std::uint64_t> copy_to_new_file(FileHandle& from, std::uint64_t limit, const std::string& to) {
  auto created = FileHandle::create_truncate(to);
  if (!created.ok()) return std::move(created).error();
  FileHandle out = std::move(*created);
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(limit, kCopyChunk)));
  std::uint64_t copied = 0;
  while (copied < limit) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(limit - copied, buffer.size()));
    auto got = from.read_some(buffer.data(), want);
    if (!got.ok()) return std::move(got).error();
    if (*got == 0) break;
    QUARN_TRY(out.write_all(buffer.data(), *got));
    copied += *got;
  }
  QUARN_TRY(out.sync());
  QUARN_TRY(out.close());
  return copied;
}

}  // namespace quarn
