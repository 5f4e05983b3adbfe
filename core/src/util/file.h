#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "quarn/result.h"

namespace quarn {

// Every file-system call of the engine goes through this file layer, so that a test can make
// any one of them fail (see set_file_fault_hook).
enum class FileOp : std::uint8_t { Open, Read, Write, Sync, Rename, Unlink, Truncate, Map, Stat, MakeDir, Lock };
const char* file_op_name(FileOp op);

// Called before each file call with the operation, the path it concerns and, for a rename, the
// target path. A nonzero return value is an errno: the call then fails with it without being
// made. Meant for tests; an empty hook (the default) injects nothing.
using FileFaultHook = std::function<int(FileOp op, const std::string& path, const std::string& target)>;
void set_file_fault_hook(FileFaultHook hook);
// The errno the fault hook asks this call to fail with, or 0: for the file layer's helpers beside
// this file (file_copy.cpp) that make system calls of their own. Reading a directory's entries
// counts as Read, resolving a path or an fstat as Stat, removing an empty directory as Unlink.
int file_fault(FileOp op, const std::string& path, const std::string& target = {});

// What a file call did, reported after it was made: for tests that model what a disk keeps
// (a power-cut simulation). Write reports each piece the kernel took, at the file offset it went
// to; Truncate carries the new length in `offset`; Open carries the open flags.
struct FileEvent {
  FileOp op;
  const std::string& path;
  const std::string& target;  // Rename: the new path
  int fd = -1;                // Open, Write, Sync
  int flags = 0;              // Open
  std::uint64_t offset = 0;   // Write, Truncate
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;  // Write
};
// Called after each successful Open, Write, Sync, Rename, Unlink, Truncate and MakeDir. A nonzero
// return value is an errno the call then fails with, although it was made (the machine stopped
// before the call returned). Meant for tests; an empty observer (the default) costs one atomic
// load per call.
using FileObserver = std::function<int(const FileEvent& event)>;
void set_file_observer(FileObserver observer);

// Owns one file descriptor; closes it on destruction.
class FileHandle {
 public:
  FileHandle() = default;
  explicit FileHandle(int fd, std::string path = {}) : fd_(fd), path_(std::move(path)) {}
  FileHandle(FileHandle&& other) noexcept : fd_(other.release()), path_(std::move(other.path_)) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  const std::string& path() const { return path_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports a failure of close().
  Status close();

  // Opens for appending, creating with 0666 before the umask.
  static Result<FileHandle> open_append(const std::string& path);
  // Creates or truncates for writing, 0666 before the umask.
  static Result<FileHandle> create_truncate(const std::string& path);
  static Result<FileHandle> open_read(const std::string& path);
  // Opens a directory for syncing its entries.
  static Result<FileHandle> open_directory(const std::string& path);
  // Opens or creates (0666 before the umask) a file that is only ever locked, never written.
  static Result<FileHandle> open_lock_file(const std::string& path);
  // Opens a new file in `dir` that has no name (read-write): it disappears with its last
  // descriptor or map, and a crash leaves nothing behind.
  static Result<FileHandle> create_scratch(const std::string& dir);

  Status write_all(const std::uint8_t* data, std::size_t size);
  // Reads up to `size` bytes; 0 at the end of the file.
  Result<std::size_t> read_some(std::uint8_t* data, std::size_t size);
  // fsync: the file's data and size reach the disk.
  Status sync();
  // fdatasync: the file's data and size reach the disk, other attributes may not.
  Status sync_data();
  Result<std::uint64_t> size() const;
  // Takes an exclusive lock of the whole file without waiting (flock); false when another open
  // file description holds it. The lock goes with the descriptor.
  Result<bool> try_lock_exclusive();
  // Maps `length` bytes from the start read-only and shared; the caller unmaps them.
  Result<void*> map_read_only(std::size_t length) const;
  // Gives the file at least `length` bytes of disk (posix_fallocate), so that writes through a
  // map below that length never fail for want of space.
  Status allocate(std::uint64_t length);
  // Maps `length` bytes from the page-aligned `offset` at the page-aligned `addr` (replacing
  // whatever was mapped there), readable and writable: Shared writes go to the file, Private
  // writes stay in this process (copy on write).
  enum class MapKind : std::uint8_t { Shared, Private };
  Status map_fixed(void* addr, std::size_t length, std::uint64_t offset, MapKind kind) const;

 private:
  Status report_sync() const;

  int fd_ = -1;
  std::string path_;
};

// Writes through a fixed buffer to a file descriptor it owns; large writes bypass the buffer.
class BufferedWriter {
 public:
  static constexpr std::size_t kBufferSize = 8192;
  explicit BufferedWriter(FileHandle file);

  Status write(const void* data, std::size_t size);
  Status write_u8(std::uint8_t v) { return write(&v, 1); }
  Status write_u32(std::uint32_t v);
  Status write_f32(float v);
  // Pushes the buffered bytes to the operating system (no fsync).
  Status flush();
  // Flushes and syncs the file to the disk.
  Status sync();
  // Flushes and closes the file.
  Status close();
  // Flushes and hands the file over, open, leaving this writer without one. A failed flush is
  // ignored: for a caller about to delete the file.
  FileHandle detach();

 private:
  FileHandle file_;
  std::vector<std::uint8_t> buffer_;
};

// Closes the file on a short-lived thread of its own, or here when no thread can be started.
// The last close of a deleted file frees its cached pages, which takes milliseconds for a file
// of tens of megabytes; the caller need not wait for that.
void close_in_background(FileHandle file);

// Reads a whole file into memory.
Result<std::vector<std::uint8_t>> read_file(const std::string& path);
// Reads at most `limit` bytes from the start of a file.
Result<std::vector<std::uint8_t>> read_file_prefix(const std::string& path, std::size_t limit);
// Size in bytes of the file at the path.
Result<std::uint64_t> file_size(const std::string& path);
// Whether stat() succeeds on the path.
bool path_exists(const std::string& path);
// Whether the path exists: false only for ENOENT or ENOTDIR, any other failure is an error.
Result<bool> file_exists(const std::string& path);
// What tells one version of a file from another: replacing it by a rename changes the inode.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  std::uint64_t size = 0;
  std::int64_t modified_ns = 0;
  bool operator==(const FileIdentity&) const = default;
};
// The identity of the file at the path; nothing when it does not exist.
Result<std::optional<FileIdentity>> file_identity(const std::string& path);
// mkdir -p with 0777 before the umask; an existing directory is fine.
Status create_directories(const std::string& path);
// Joins a directory and a file name with '/'.
std::string join_path(const std::string& dir, const std::string& name);
// The directory part of a path ("." for a bare name).
std::string parent_directory(const std::string& path);
Status rename_file(const std::string& from, const std::string& to);
// Unlinks; a missing file is an error (ENOENT) like any other.
Status remove_file(const std::string& path);
// Cuts a file back to `length` bytes.
Status truncate_file(const std::string& path, std::uint64_t length);
// Syncs a directory, so that the renames, creations and deletions in it reach the disk.
Status sync_directory(const std::string& path);

}  // namespace quarn
