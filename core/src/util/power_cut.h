#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "quarn/result.h"
#include "util/file.h"

namespace quarn {

// A power cut, simulated through the file layer's fault hook and observer, for the files of one
// directory (not its subdirectories). For tests.
//
// It keeps what a disk would hold: for each file, its contents as of its last sync plus what was
// written or cut since, in order; for the directory, its entries as of its last sync plus the
// creations, renames and unlinks since. From the cut on, every file call on the directory fails
// with EIO, a call already under way included: the machine is off. restore() then rewrites the
// directory as the disk may have held it: each file keeps a random prefix of its unsynced
// changes in pieces of at most 4096 bytes (none, often), and the directory a random prefix of
// its unsynced changes.
//
// One at a time: it owns the process-wide hook and observer from construction to restore() or
// destruction.
class PowerCut {
 public:
  static constexpr std::size_t kPiece = 4096;

  // The directory's files as they are now count as durable. `cut_at` is the file call on the
  // directory, counted from 1, that finds the power off; 0: only cut_now() cuts.
  PowerCut(std::string dir, std::uint64_t cut_at);
  ~PowerCut();
  PowerCut(const PowerCut&) = delete;
  PowerCut& operator=(const PowerCut&) = delete;

  void cut_now();
  bool is_cut() const;
  // File calls on the directory so far.
  std::uint64_t calls() const;

  struct Outcome {
    std::size_t files = 0;                // files the directory holds afterwards
    std::size_t files_torn = 0;           // of those, files that kept some but not all unsynced changes
    std::uint64_t bytes_lost = 0;         // written but not kept, over all files
    std::size_t directory_changes_undone = 0;
  };
  // Cuts (if not yet cut), removes the hooks and rewrites the directory as the simulated disk
  // holds it, choosing what survives with a generator seeded by `seed`. Call it once nothing
  // uses the directory any more (the database closed).
  Result<Outcome> restore(std::uint64_t seed);

 private:
  // One change to a file since its last sync: bytes at an offset, or a truncation to `offset`.
  struct Piece {
    bool truncate = false;
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
  };
  struct Node {
    std::vector<std::uint8_t> durable;
    std::vector<Piece> pending;
  };
  // One directory change: entries set to a node, or removed (nothing).
  using DirChange = std::vector<std::pair<std::string, std::optional<std::size_t>>>;
  static constexpr std::size_t kDirectoryFd = static_cast<std::size_t>(-1);

  int before_call(FileOp op, const std::string& path);
  int after_call(const FileEvent& event);
  std::optional<std::string> name_in_dir(const std::string& path) const;
  std::optional<std::size_t> node_of(int fd, const std::string& path) const;
  void uninstall();

  const std::string dir_;
  const std::uint64_t cut_at_;
  mutable std::mutex mutex_;
  bool installed_ = false;
  bool cut_ = false;
  std::uint64_t calls_ = 0;
  std::vector<Node> nodes_;
  std::map<std::string, std::size_t> names_;          // the directory as the processes see it
  std::map<std::string, std::size_t> durable_names_;  // as of its last sync
  std::vector<DirChange> pending_dir_;
  std::unordered_map<int, std::size_t> fd_nodes_;
};

}  // namespace quarn
