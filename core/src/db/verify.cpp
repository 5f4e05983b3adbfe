// verify_files: every block of the snapshot files on the disk against their manifest, and the
// log read as an open would read it.
#include <chrono>
#include <thread>

#include "db/db_impl.h"
#include "storage/documents_format.h"
#include "storage/manifest.h"
#include "storage/manifest_format.h"
#include "storage/snapshot_format.h"
#include "util/file.h"
#include "util/file_mapping.h"

namespace quarn {

namespace {

// One pass over the files; false when a save replaced the manifest meanwhile.
bool check_generation(const Storage& storage, const Manifest& manifest, FileCheck& out) {
  const std::pair<const char*, const std::string*> known[] = {
      {snapshot_format::kGraphFile, &storage.graph_path},
      {snapshot_format::kVectorsFile, &storage.vectors_path},
      {snapshot_format::kQuantizedFile, &storage.quantized_path},
      {documents_format::kFileName, &storage.documents_path}};
  for (const auto& [name, path] : known) {
    if (manifest.find(name) == nullptr && path_exists(*path)) {
      out.problems.push_back(*path + ": the manifest of generation " + std::to_string(manifest.generation) +
                             " does not name this file");
    }
  }
  for (const ManifestFile& entry : manifest.files) {
    const std::string path = join_path(storage.dir, entry.name);
    auto mapping = FileMapping::map_file(path);
    if (!mapping.ok()) {
      out.problems.push_back(std::move(mapping).error().concerning(path).text());
      continue;
    }
    const std::span<const std::uint8_t> bytes(mapping->data(), mapping->file_size());
    Status checked = check_blocks(entry, manifest.block_size, bytes, path);
    if (!checked.ok()) {
      out.problems.push_back(checked.error().text());
      continue;
    }
    ++out.files;
    out.bytes += bytes.size();
  }
  auto again = read_manifest(storage.manifest_path);
  return again.ok() && again->has_value() && **again == manifest;
}

}  // namespace

Result<FileCheck> DbImpl::verify_files() const {
  constexpr int kAttempts = 50;
  FileCheck out;
  for (int attempt = 1;; ++attempt) {
    out = FileCheck{};
    auto manifest = read_manifest(storage_.manifest_path);
    if (!manifest.ok()) {
      out.checked = true;
      out.problems.push_back(manifest.error().text());
      break;
    }
    if (!manifest->has_value()) break;
    out.checked = true;
    out.generation = (*manifest)->generation;
    if (check_generation(storage_, **manifest, out) || attempt == kAttempts) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The log as a new open would read it: damage before its end is a problem, a torn tail not.
  Wal log(wal_.path());
  auto entries = log.read_all();
  if (!entries.ok()) out.problems.push_back(entries.error().text());
  return out;
}

}  // namespace quarn
