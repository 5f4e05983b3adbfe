#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "quarn/result.h"
#include "util/file.h"

namespace quarn {

// Directory listings, whole-path resolution and byte copies between open files: what a copy of
// a database directory needs beyond file.h. Every call asks file.h's fault hook first: listing a
// directory as Read (each entry), resolving a path and an fstat as Stat, removing a directory as
// Unlink.

struct DirectoryEntry {
  std::string name;
  bool regular_file = false;
};

// The entries of a directory, without "." and "..", in no particular order.
Result<std::vector<DirectoryEntry>> list_directory(const std::string& dir);

// Removes an empty directory.
Status remove_directory(const std::string& dir);

// The absolute path with every symbolic link resolved. A path that does not exist yet resolves
// its deepest existing ancestor and appends the rest as written.
Result<std::string> resolve_path(const std::string& path);

// Device and inode (plus size and modification time) of an open file.
Result<FileIdentity> identity_of(const FileHandle& file);

// Copies from the current position of `from` into a new file at `to` until `limit` bytes or
// the end of `from`, whichever comes first; syncs and closes the new file. Returns the bytes
// copied.
Result<std::uint64_t> copy_to_new_file(FileHandle& from, std::uint64_t limit, const std::string& to);

}  // namespace quarn
