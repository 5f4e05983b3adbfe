// Online backup: a copy of the directory as it stood at one moment, made while writers go on.
//
// A save replaces snapshot files only by renames and deletes the log only after them, and between
// saves the log only grows (a failed batch is cut off before the log lock is let go). So files
// held open at one moment, with the log's length at that moment, keep describing that moment
// whatever the directory does next: writers wait only while the files are opened, never for the
// copy, and the copy opens as the source would have opened then.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "db/db_impl.h"
#include "util/file.h"
#include "util/file_copy.h"

namespace quarn {

namespace {

// The source writer's lock file (see open.cpp); a copy gets its own when it is opened.
constexpr char kWriterLockFile[] = "writer.lock";
// A read-only source has no lock to hold off another process's save; it retries instead, as a
// read-only open does.
constexpr int kAttempts = 50;
constexpr auto kRetryPause = std::chrono::milliseconds(10);

QuarnError bad_destination(const std::string& dest, const std::string& why) {
  return QuarnError::invalid_argument("backup destination '" + dest + "' " + why);
}

bool is_missing(const QuarnError& error) {
  return error.kind() == QuarnError::Kind::Io && (error.os_errno() == ENOENT || error.os_errno() == ENOTDIR);
}

std::string base_name(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

// The resolved destination when it may receive a backup of `source_dir`.
Result<std::string> check_destination(const std::string& source_dir, const std::string& dest) {
  if (dest.empty()) return QuarnError::invalid_argument("backup destination must not be empty");
  auto source = resolve_path(source_dir);
  if (!source.ok()) return std::move(source).error();
  auto target = resolve_path(dest);
  if (!target.ok()) return std::move(target).error();
  if (*target == *source || target->starts_with(*source == "/" ? *source : *source + "/")) {
    return bad_destination(dest, "is inside the database directory '" + source_dir + "'");
  }
  const std::string parent = parent_directory(*target);
  auto parent_dir = FileHandle::open_directory(parent);
  if (!parent_dir.ok()) {
    if (is_missing(parent_dir.error())) return bad_destination(dest, "cannot be made: '" + parent + "' is not a directory");
    return std::move(parent_dir).error();
  }
  auto entries = list_directory(*target);
  if (entries.ok()) {
    if (!entries->empty()) return bad_destination(dest, "exists and is not empty");
  } else if (entries.error().os_errno() == ENOTDIR) {
    return bad_destination(dest, "exists and is not a directory");
  } else if (entries.error().os_errno() != ENOENT) {
    return std::move(entries).error();
  }
  return target;
}

// The directory the copy is made in, beside the destination; removed with what it holds unless
// kept.
class TempDirectory {
 public:
  explicit TempDirectory(std::string path) : path_(std::move(path)) {}
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;
  ~TempDirectory() {
    if (path_.empty()) return;
    if (auto entries = list_directory(path_); entries.ok()) {
      for (const DirectoryEntry& entry : *entries) (void)remove_file(join_path(path_, entry.name));
    }
    (void)remove_directory(path_);
  }
  const std::string& path() const { return path_; }
  void keep() { path_.clear(); }

 private:
  std::string path_;
};

std::string temp_path_for(const std::string& target) {
  static std::atomic<unsigned> counter{0};
  return join_path(parent_directory(target), "." + base_name(target) + ".backup-" + std::to_string(::getpid()) + "-" +
                                                 std::to_string(counter.fetch_add(1)));
}

// A source file held open, with the bytes to copy from it.
struct HeldFile {
  std::string name;
  FileHandle file;
  std::uint64_t length = 0;
};

// The files a copy needs, by name, with their identities. The writer's lock belongs to the
// source and a partial graph or manifest is never complete; the other temporaries count only
// beside graph.tmp or manifest.tmp, which a later open may still complete into a snapshot.
struct SourceFiles {
  std::map<std::string, FileIdentity> files;
  // graph.tmp or manifest.tmp is there: a save is between its renames, or one died there.
  bool save_pending = false;
};

Result<SourceFiles> list_source(const Storage& storage) {
  auto entries = list_directory(storage.dir);
  if (!entries.ok()) return std::move(entries).error();
  SourceFiles source;
  source.save_pending = path_exists(storage.graph_temp_path) || path_exists(storage.manifest_temp_path);
  for (const DirectoryEntry& entry : *entries) {
    if (!entry.regular_file || entry.name == kWriterLockFile) continue;
    const std::string path = join_path(storage.dir, entry.name);
    if (path == storage.graph_partial_path || path == storage.manifest_partial_path) continue;
    const bool temporary = path == storage.vectors_temp_path || path == storage.quantized_temp_path ||
                           path == storage.documents_temp_path || path == storage.manifest_temp_path;
    if (temporary && !source.save_pending) continue;
    auto identity = file_identity(path);
    if (!identity.ok()) return std::move(identity).error();
    // Gone since the listing: the next comparison of listings sees it.
    if (*identity) source.files.emplace(entry.name, **identity);
  }
  return source;
}

bool same_file(const FileIdentity& a, const FileIdentity& b) { return a.device == b.device && a.inode == b.inode; }

// Opens the files of the directory. Nothing when one was created, replaced or deleted meanwhile
// (only the log may grow), since the files held may then come from different moments; nothing
// too when a save is between its renames, unless `accept_pending_save` (its files then stand
// as an interrupted save would leave them, for a writer's open of the copy to complete).
Result<std::optional<std::vector<HeldFile>>> hold_files(const Storage& storage, const std::string& log_name,
                                                         bool accept_pending_save) {
  using Held = std::optional<std::vector<HeldFile>>;
  auto before = list_source(storage);
  if (!before.ok()) return std::move(before).error();
  if (before->save_pending && !accept_pending_save) return Held();
  std::vector<HeldFile> held;
  for (const auto& [name, identity] : before->files) {
    auto file = FileHandle::open_read(join_path(storage.dir, name));
    if (!file.ok()) {
      if (is_missing(file.error())) return Held();
      return std::move(file).error();
    }
    auto opened = identity_of(*file);
    if (!opened.ok()) return std::move(opened).error();
    if (!same_file(*opened, identity)) return Held();
    held.push_back({name, std::move(*file), opened->size});
  }
  auto after = list_source(storage);
  if (!after.ok()) return std::move(after).error();
  if (after->save_pending != before->save_pending || after->files.size() != before->files.size()) return Held();
  for (const auto& [name, identity] : before->files) {
    auto it = after->files.find(name);
    if (it == after->files.end()) return Held();
    if (name == log_name ? !same_file(it->second, identity) : it->second != identity) return Held();
  }
  return Held(std::move(held));
}

}  // namespace

Status DbImpl::backup(const std::string& dest) {
  auto target = check_destination(storage_.dir, dest);
  if (!target.ok()) return std::move(target).error();

  TempDirectory temp(temp_path_for(*target));
  if (Status made = create_directories(temp.path()); !made.ok()) {
    const int err = made.error().os_errno();
    if (err == EACCES || err == EPERM || err == EROFS) return bad_destination(dest, "is not writable: " + made.error().detail());
    return made;
  }

  const std::string log_name = base_name(wal_.path());
  std::vector<HeldFile> held;
  for (int attempt = 1;; ++attempt) {
    Result<std::optional<std::vector<HeldFile>>> got = std::optional<std::vector<HeldFile>>();
    {
      // A writer's saves and appends all hold the log mutex, so under it the directory is still.
      std::unique_lock<std::mutex> wal;
      if (!read_only_) {
        wal = std::unique_lock(wal_mutex_);
        // As a save would, so that the copy never holds a snapshot only a writer can complete.
        QUARN_TRY(storage_.finish_interrupted_save());
      }
      // Under the lock no save is running; a reader gives another process's save time to end.
      got = hold_files(storage_, log_name, !read_only_ || attempt == kAttempts);
    }
    if (!got.ok()) return std::move(got).error();
    if (*got) {
      held = std::move(**got);
      break;
    }
    if (attempt == kAttempts) {
      return QuarnError::invalid_argument("backup of '" + storage_.dir +
                                          "' failed: its files kept changing while they were opened");
    }
    std::this_thread::sleep_for(kRetryPause);
  }

  for (HeldFile& file : held) {
    auto copied = copy_to_new_file(file.file, file.length, join_path(temp.path(), file.name));
    if (!copied.ok()) return std::move(copied).error();
  }
  QUARN_TRY(sync_directory(temp.path()));
  if (Status renamed = rename_file(temp.path(), *target); !renamed.ok()) {
    const int err = renamed.error().os_errno();
    if (err == ENOTEMPTY || err == EEXIST || err == ENOTDIR || err == EISDIR) {
      return bad_destination(dest, "exists and is not empty");
    }
    return renamed;
  }
  temp.keep();
  return sync_directory(parent_directory(*target));
}

}  // namespace quarn
