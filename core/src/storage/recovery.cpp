#include <cstring>

#include "storage/documents_format.h"
#include "storage/graph_parse.h"
#include "storage/snapshot_format.h"
#include "storage/storage.h"
#include "util/bytes.h"
#include "util/file.h"

namespace quarn {

// A save writes vectors.tmp, then vectors.sq8.tmp (quantize setting on), documents.tmp (when a
// record has a document), then graph.tmp, and renames them only after all are complete; it
// removes stale temporaries first. So a
// graph.tmp that parses completely proves that the other temporaries of the same save were
// complete too, and the save can be finished by doing its remaining renames. The log is kept:
// its records set absolute state, so replaying it over the newer snapshot gives the same
// records.

namespace {

bool has_size(const std::string& path, std::uint64_t size) {
  auto actual = file_size(path);
  return actual.ok() && *actual == size;
}

// Whether a quantizer file has the given dimension and one code row for each of n slots.
bool quantized_matches(const std::string& path, std::uint32_t dim, std::uint64_t n) {
  auto head = read_file_prefix(path, 4);
  if (!head.ok() || head->size() != 4) return false;
  std::uint32_t stored;
  std::memcpy(&stored, head->data(), 4);
  const std::uint64_t size = 4 + 8 * std::uint64_t{dim} + n * dim;
  return stored == dim && has_size(path, size);
}

// Whether a documents file parses beside the graph of graph.tmp.
bool documents_match(const std::string& path, std::size_t n, const std::vector<MetaRecord>& records) {
  auto bytes = read_file(path);
  return bytes.ok() && parse_documents_file(*bytes, n, records).ok();
}

Status sync_file(const std::string& path) {
  auto file = FileHandle::open_read(path);
  if (!file.ok()) return std::move(file).error();
  return file->sync();
}

}  // namespace

Status Storage::finish_interrupted_save() const {
  bool rolled_forward = false;
  QUARN_TRY(finish_snapshot_renames(rolled_forward));
  return finish_manifest(rolled_forward);
}

// A save renames manifest.partial to manifest.tmp before graph.tmp appears and manifest.tmp to
// manifest.quarn after graph.tmp is gone. So beside graph.tmp (a save the renames above could
// not finish) manifest.tmp names files that are not in place; without it, the save either never
// began its renames or did them all, and a check of every file tells which.
Status Storage::finish_manifest(bool rolled_forward) const {
  (void)remove_file(manifest_partial_path);
  if (!path_exists(manifest_temp_path)) {
    if (rolled_forward && path_exists(manifest_path)) QUARN_TRY(remove_file(manifest_path));
    return Status::success();
  }
  bool matches = !path_exists(graph_temp_path);
  auto manifest = read_manifest(manifest_temp_path);
  matches = matches && manifest.ok() && manifest->has_value();
  if (matches) {
    const Manifest& m = **manifest;
    for (const auto& [name, path] : {std::pair{snapshot_format::kGraphFile, graph_path},
                                     std::pair{snapshot_format::kVectorsFile, vectors_path},
                                     std::pair{snapshot_format::kQuantizedFile, quantized_path},
                                     std::pair{documents_format::kFileName, documents_path}}) {
      const ManifestFile* entry = m.find(name);
      if (entry == nullptr) {
        matches = matches && !path_exists(path);
        continue;
      }
      auto actual = checksum_file(path, name, m.block_size);
      matches = matches && actual.ok() && *actual == *entry;
    }
  }
  if (!matches) {
    QUARN_TRY(remove_file(manifest_temp_path));
    if (rolled_forward && path_exists(manifest_path)) QUARN_TRY(remove_file(manifest_path));
    return sync_directory(dir);
  }
  QUARN_TRY(rename_file(manifest_temp_path, manifest_path));
  return sync_directory(dir);
}

Status Storage::finish_snapshot_renames(bool& rolled_forward) const {
  if (!path_exists(graph_temp_path)) return Status::success();
  auto bytes = read_file(graph_temp_path);
  if (!bytes.ok()) return Status::success();
  ByteReader in(*bytes);
  auto graph = storage_detail::parse_graph(in);
  if (!graph.ok()) return Status::success();
  const std::size_t n = graph->links.size();
  auto records = storage_detail::parse_metadata_section(in, n, graph->deleted);
  if (!records.ok()) return Status::success();
  const auto vectors_size = vectors_file_size(n, graph->dim);
  if (!vectors_size) return Status::success();

  const bool vectors_pending = path_exists(vectors_temp_path);
  if (vectors_pending ? !has_size(vectors_temp_path, *vectors_size) : !has_size(vectors_path, *vectors_size)) {
    return Status::success();
  }

  // The save may have died before it synced its temporaries: sync them before they replace
  // anything, and the directory after the renames, as the save itself does.
  const bool quantized_pending =
      path_exists(quantized_temp_path) && quantized_matches(quantized_temp_path, graph->dim, n);
  // A documents.bin left from an older snapshot may still match; the log, which is kept, then
  // sets every document that changed since.
  const bool documents_pending =
      path_exists(documents_temp_path) && documents_match(documents_temp_path, n, *records);
  if (vectors_pending) QUARN_TRY(sync_file(vectors_temp_path));
  if (quantized_pending) QUARN_TRY(sync_file(quantized_temp_path));
  if (documents_pending) QUARN_TRY(sync_file(documents_temp_path));
  QUARN_TRY(sync_file(graph_temp_path));

  if (vectors_pending) QUARN_TRY(rename_file(vectors_temp_path, vectors_path));
  if (quantized_pending) {
    QUARN_TRY(rename_file(quantized_temp_path, quantized_path));
  } else if (path_exists(quantized_path) && !quantized_matches(quantized_path, graph->dim, n)) {
    // Left from an older snapshot; the new one was saved without quantized vectors.
    (void)remove_file(quantized_path);
  }
  if (documents_pending) {
    QUARN_TRY(rename_file(documents_temp_path, documents_path));
  } else if (path_exists(documents_path) && !documents_match(documents_path, n, *records)) {
    QUARN_TRY(remove_file(documents_path));
  }
  QUARN_TRY(rename_file(graph_temp_path, graph_path));
  rolled_forward = true;
  return sync_directory(dir);
}

}  // namespace quarn
