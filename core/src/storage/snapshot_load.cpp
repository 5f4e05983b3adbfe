#include <string>
#include <utility>

#include "quantize/quantizer.h"
#include "storage/documents_format.h"
#include "storage/graph_parse.h"
#include "storage/manifest_format.h"
#include "storage/snapshot_format.h"
#include "storage/storage.h"
#include "util/bytes.h"
#include "util/file.h"
#include "util/file_mapping.h"

namespace quarn {

namespace fmt = snapshot_format;
using storage_detail::ParsedGraph;

std::optional<std::uint64_t> vectors_file_size(std::uint64_t n, std::uint64_t dim) {
  std::uint64_t floats_per_slot;
  std::uint64_t floats;
  std::uint64_t bytes;
  if (__builtin_add_overflow(dim, 1, &floats_per_slot)) return std::nullopt;
  if (__builtin_mul_overflow(n, floats_per_slot, &floats)) return std::nullopt;
  if (__builtin_mul_overflow(floats, 4, &bytes)) return std::nullopt;
  return bytes;
}

Storage Storage::make(const std::string& dir) {
  Storage s;
  s.dir = dir;
  s.graph_path = join_path(dir, fmt::kGraphFile);
  s.vectors_path = join_path(dir, fmt::kVectorsFile);
  s.quantized_path = join_path(dir, fmt::kQuantizedFile);
  s.graph_temp_path = join_path(dir, fmt::kGraphTemp);
  s.graph_partial_path = join_path(dir, fmt::kGraphPartial);
  s.vectors_temp_path = join_path(dir, fmt::kVectorsTemp);
  s.quantized_temp_path = join_path(dir, fmt::kQuantizedTemp);
  s.documents_path = join_path(dir, documents_format::kFileName);
  s.documents_temp_path = join_path(dir, documents_format::kTempName);
  s.manifest_path = join_path(dir, manifest_format::kFileName);
  s.manifest_temp_path = join_path(dir, manifest_format::kTempName);
  s.manifest_partial_path = join_path(dir, manifest_format::kPartialName);
  return s;
}

bool Storage::snapshot_present() const { return path_exists(graph_path) && path_exists(vectors_path); }

namespace {

// Reads vectors.sq8 and checks it against the graph: the quantizer must have the graph's
// dimension and there must be one code row per slot.
Result<QuantizedSearch> read_quantized(const std::string& path, const ParsedGraph& g, const ManifestCheck& check) {
  auto bytes = read_file(path);
  if (!bytes.ok()) return std::move(bytes).error().concerning(path);
  ByteReader in(*bytes);
  auto quantizer = ScalarQuantizer::load(in);
  if (!quantizer.ok()) return std::move(quantizer).error().concerning(path);
  if (quantizer->dim != g.dim) {
    return QuarnError::corrupt("vectors.sq8 dimension " + std::to_string(quantizer->dim) +
                                   " does not match the graph dimension " + std::to_string(g.dim),
                               path);
  }
  const std::uint64_t expected = std::uint64_t{g.dim} * g.links.size();
  if (in.remaining() != expected) {
    return QuarnError::corrupt(
        "vectors.sq8 holds " + std::to_string(in.remaining()) + " codes, expected " + std::to_string(expected), path);
  }
  QUARN_TRY(check.check(fmt::kQuantizedFile, path, *bytes));
  auto rest = in.rest();
  return QuantizedSearch{std::move(*quantizer), std::vector<std::uint8_t>(rest.begin(), rest.end())};
}

}  // namespace

Result<Storage::Loaded> Storage::load(const ManifestCheck& check, bool populate) const {
  // graph.quarn is parsed in place from a mapping: reading it into a fresh buffer costs a page
  // fault and a copy per page, more than the parse itself. Everything kept is copied out of it.
  auto graph = FileMapping::map_file(graph_path);
  if (!graph.ok()) return std::move(graph).error().concerning(graph_path);
  auto mapping = FileMapping::map_file(vectors_path, populate);
  if (!mapping.ok()) return std::move(mapping).error().concerning(vectors_path);

  QUARN_TRY(check.check_present({{fmt::kGraphFile, graph_path},
                                  {fmt::kVectorsFile, vectors_path},
                                  {fmt::kQuantizedFile, quantized_path},
                                  {documents_format::kFileName, documents_path}}));
  const std::span<const std::uint8_t> graph_bytes(graph->data(), graph->file_size());
  ByteReader in(graph_bytes);
  auto parsed = storage_detail::parse_graph(in);
  if (!parsed.ok()) return std::move(parsed).error().concerning(graph_path);
  // Damage that still parses is found here, before it is taken for another file's.
  QUARN_TRY(check.check(fmt::kGraphFile, graph_path, graph_bytes));
  ParsedGraph& g = *parsed;
  const std::size_t n = g.links.size();

  // The file must hold exactly the vectors and norms of every slot.
  const auto expected = vectors_file_size(n, g.dim);
  if (!expected || mapping->file_size() != *expected) {
    return QuarnError::corrupt("vectors.bin holds " + std::to_string(mapping->file_size()) + " bytes, expected " +
                                   (expected ? std::to_string(*expected) : std::string("more than 2^64")) + " for " +
                                   std::to_string(n) + " slots of dimension " + std::to_string(g.dim),
                               vectors_path);
  }

  QUARN_TRY(check.check(fmt::kVectorsFile, vectors_path,
                        std::span<const std::uint8_t>(mapping->data(), mapping->file_size()),
                        std::uint64_t{4} * n * g.dim));

  std::optional<QuantizedSearch> quantized;
  if (path_exists(quantized_path)) {
    auto q = read_quantized(quantized_path, g, check);
    if (!q.ok()) return std::move(q).error();
    quantized = std::move(*q);
  }

  auto records = storage_detail::parse_metadata_section(in, n, g.deleted);
  if (!records.ok()) return std::move(records).error().concerning(graph_path);
  for (Slot s : storage_detail::unnamed_live_slots(n, g.deleted, *records)) g.deleted.insert(s);

  std::vector<DocumentRecord> documents;
  if (path_exists(documents_path)) {
    auto bytes = read_file(documents_path);
    if (!bytes.ok()) return std::move(bytes).error().concerning(documents_path);
    auto parsed_documents = parse_documents_file(*bytes, n, *records);
    if (!parsed_documents.ok()) return std::move(parsed_documents).error().concerning(documents_path);
    QUARN_TRY(check.check(documents_format::kFileName, documents_path, *bytes));
    documents = std::move(*parsed_documents);
  }

  const std::size_t float_count = n * std::size_t{g.dim};
  VectorStore store(std::move(*mapping), float_count);
  std::vector<float> norms = std::move(*store.mapped_norms());
  HnswIndex::Parts parts{g.dim,
                         g.metric,
                         g.m,
                         g.ef_construction,
                         g.entry_point,
                         g.top_layer,
                         std::move(store),
                         std::move(norms),
                         std::move(g.links),
                         std::move(g.deleted)};
  Loaded loaded;
  loaded.index = std::make_unique<HnswIndex>(std::move(parts));
  if (quantized) loaded.index->load_quantized(std::move(quantized->quantizer), std::move(quantized->codes));
  loaded.records = std::move(*records);
  loaded.documents = std::move(documents);
  return loaded;
}

}  // namespace quarn
