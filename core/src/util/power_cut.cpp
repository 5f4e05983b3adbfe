#include "util/power_cut.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <random>

namespace quarn {

namespace {

std::string trimmed(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

void apply(std::vector<std::uint8_t>& contents, const auto& piece) {
  if (piece.truncate) {
    contents.resize(static_cast<std::size_t>(piece.offset));
    return;
  }
  const auto end = static_cast<std::size_t>(piece.offset) + piece.bytes.size();
  if (contents.size() < end) contents.resize(end);
  std::copy(piece.bytes.begin(), piece.bytes.end(), contents.begin() + static_cast<std::ptrdiff_t>(piece.offset));
}

// How many of `n` unsynced changes survive: none half of the time, else any number.
std::size_t surviving(std::mt19937_64& rng, std::size_t n) {
  if (n == 0 || rng() % 2 == 0) return 0;
  return static_cast<std::size_t>(rng() % (n + 1));
}

}  // namespace

PowerCut::PowerCut(std::string dir, std::uint64_t cut_at) : dir_(trimmed(std::move(dir))), cut_at_(cut_at) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
    if (!entry.is_regular_file()) continue;
    auto bytes = read_file(entry.path().string());
    nodes_.push_back(Node{bytes.ok() ? std::move(*bytes) : std::vector<std::uint8_t>{}, {}});
    names_[entry.path().filename().string()] = nodes_.size() - 1;
  }
  durable_names_ = names_;
  set_file_fault_hook([this](FileOp op, const std::string& path, const std::string&) { return before_call(op, path); });
  set_file_observer([this](const FileEvent& event) { return after_call(event); });
  installed_ = true;
}

PowerCut::~PowerCut() { uninstall(); }

void PowerCut::uninstall() {
  if (!installed_) return;
  set_file_fault_hook({});
  set_file_observer({});
  installed_ = false;
}

void PowerCut::cut_now() {
  std::lock_guard guard(mutex_);
  cut_ = true;
}

bool PowerCut::is_cut() const {
  std::lock_guard guard(mutex_);
  return cut_;
}

std::uint64_t PowerCut::calls() const {
  std::lock_guard guard(mutex_);
  return calls_;
}

std::optional<std::string> PowerCut::name_in_dir(const std::string& path) const {
  if (path.size() <= dir_.size() + 1 || path.compare(0, dir_.size(), dir_) != 0 || path[dir_.size()] != '/') {
    return std::nullopt;
  }
  std::string name = path.substr(dir_.size() + 1);
  if (name.find('/') != std::string::npos) return std::nullopt;
  return name;
}

std::optional<std::size_t> PowerCut::node_of(int fd, const std::string& path) const {
  if (auto it = fd_nodes_.find(fd); it != fd_nodes_.end()) return it->second;
  // A descriptor opened before this simulation began.
  if (auto name = name_in_dir(path)) {
    if (auto it = names_.find(*name); it != names_.end()) return it->second;
  }
  return std::nullopt;
}

int PowerCut::before_call(FileOp, const std::string& path) {
  if (trimmed(path) != dir_ && !name_in_dir(path)) return 0;
  std::lock_guard guard(mutex_);
  ++calls_;
  if (cut_at_ != 0 && calls_ >= cut_at_) cut_ = true;
  return cut_ ? EIO : 0;
}

int PowerCut::after_call(const FileEvent& event) {
  const bool is_dir = trimmed(event.path) == dir_;
  const auto name = name_in_dir(event.path);
  std::lock_guard guard(mutex_);
  if (!is_dir && !name) {
    if (event.op == FileOp::Open) fd_nodes_.erase(event.fd);  // the number now means another file
    return 0;
  }
  if (cut_) return EIO;
  switch (event.op) {
    case FileOp::Open: {
      if (is_dir) {
        fd_nodes_[event.fd] = kDirectoryFd;
        break;
      }
      auto it = names_.find(*name);
      std::size_t node;
      if (it != names_.end()) {
        node = it->second;
      } else {
        nodes_.push_back(Node{});
        node = nodes_.size() - 1;
        names_[*name] = node;
        pending_dir_.push_back({{*name, node}});
      }
      if (event.flags & O_TRUNC) nodes_[node].pending.push_back(Piece{true, 0, {}});
      fd_nodes_[event.fd] = node;
      break;
    }
    case FileOp::Write: {
      const auto node = node_of(event.fd, event.path);
      if (!node || *node == kDirectoryFd) break;
      std::uint64_t offset = event.offset;
      const std::uint8_t* data = event.data;
      std::size_t left = event.size;
      while (left > 0) {
        const std::size_t take = std::min<std::size_t>(left, kPiece - offset % kPiece);
        nodes_[*node].pending.push_back(Piece{false, offset, std::vector<std::uint8_t>(data, data + take)});
        offset += take;
        data += take;
        left -= take;
      }
      break;
    }
    case FileOp::Sync: {
      const auto node = node_of(event.fd, event.path);
      if (!node) break;
      if (*node == kDirectoryFd) {
        durable_names_ = names_;
        pending_dir_.clear();
        break;
      }
      Node& n = nodes_[*node];
      for (const Piece& piece : n.pending) apply(n.durable, piece);
      n.pending.clear();
      break;
    }
    case FileOp::Rename: {
      const auto to = name_in_dir(event.target);
      auto it = names_.find(*name);
      if (!to || it == names_.end()) break;
      const std::size_t node = it->second;
      names_.erase(it);
      names_[*to] = node;
      pending_dir_.push_back({{*to, node}, {*name, std::nullopt}});
      break;
    }
    case FileOp::Unlink:
      names_.erase(*name);
      pending_dir_.push_back({{*name, std::nullopt}});
      break;
    case FileOp::Truncate:
      if (auto it = names_.find(*name); it != names_.end()) {
        nodes_[it->second].pending.push_back(Piece{true, event.offset, {}});
      }
      break;
    default:
      break;
  }
  return 0;
}

Result<PowerCut::Outcome> PowerCut::restore(std::uint64_t seed) {
  cut_now();
  uninstall();
  std::mt19937_64 rng(seed);
  Outcome outcome;

  std::map<std::string, std::size_t> names = durable_names_;
  const std::size_t kept_changes = surviving(rng, pending_dir_.size());
  outcome.directory_changes_undone = pending_dir_.size() - kept_changes;
  for (std::size_t i = 0; i < kept_changes; ++i) {
    for (const auto& [name, node] : pending_dir_[i]) {
      if (node) {
        names[name] = *node;
      } else {
        names.erase(name);
      }
    }
  }

  std::error_code ec;
  std::vector<std::string> present;
  for (const auto& entry : std::filesystem::directory_iterator(dir_, ec)) {
    if (entry.is_regular_file()) present.push_back(entry.path().string());
  }
  if (ec) return QuarnError::io_errno(ec.value(), dir_);
  for (const std::string& path : present) QUARN_TRY(remove_file(path));

  for (const auto& [name, node_index] : names) {
    const Node& node = nodes_[node_index];
    std::vector<std::uint8_t> contents = node.durable;
    const std::size_t kept = surviving(rng, node.pending.size());
    for (std::size_t i = 0; i < kept; ++i) apply(contents, node.pending[i]);
    for (std::size_t i = kept; i < node.pending.size(); ++i) outcome.bytes_lost += node.pending[i].bytes.size();
    if (kept > 0 && kept < node.pending.size()) ++outcome.files_torn;
    ++outcome.files;

    auto file = FileHandle::create_truncate(join_path(dir_, name));
    if (!file.ok()) return std::move(file).error();
    QUARN_TRY(file->write_all(contents.data(), contents.size()));
    QUARN_TRY(file->close());
  }
  return outcome;
}

}  // namespace quarn
