// The snapshot loader: graph.quarn parsed and loaded beside a vectors.bin and an optional
// vectors.sq8, then searched through the loaded graph and opened as a database.
//
// Input: flags byte, graph.quarn (length-prefixed), vectors.sq8 (length-prefixed), then the
// bytes that fill vectors.bin. Flags:
//   bit 0: vectors.bin gets exactly the size the graph header implies (the rest of the input
//          repeated), so that loading gets past the size check; otherwise the raw rest.
//   bit 1: vectors.sq8 is written (the section as it is).
//   bit 2: a graph.tmp is written too (the same graph bytes) for the open's roll-forward.
// A load that succeeds must give a graph that every search walks without fault, an open that
// succeeds with consistent tables, and a save that reopens to the same records.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "db_state.h"
#include "fuzz_util.h"
#include "storage/graph_parse.h"
#include "db/db_impl.h"
#include "util/bytes.h"
#include "util/file.h"
#include "storage/snapshot_format.h"
#include "storage/storage.h"

using namespace quarn;

namespace {

// Larger vectors.bin files than this are not generated, to keep each run fast.
constexpr std::uint64_t kMaxVectorBytes = 8u << 20;
// A header may name any dimension up to 2^32 - 1 for an empty graph; queries are only built
// for dimensions up to this.
constexpr std::size_t kMaxQueryDim = 1u << 16;

std::vector<std::uint8_t> fill_to(std::span<const std::uint8_t> pattern, std::uint64_t size) {
  std::vector<std::uint8_t> out(size, 0);
  if (!pattern.empty()) {
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = pattern[i % pattern.size()];
  }
  return out;
}

void search_graph(const HnswIndex& index, std::span<const std::uint8_t> seed) {
  const std::size_t dim = index.dim();
  std::vector<float> query(dim, 0.25f);
  for (std::size_t i = 0; i < dim && i < seed.size(); ++i) query[i] = static_cast<float>(seed[i]) / 16.0f - 8.0f;
  for (std::size_t k : {std::size_t{1}, std::size_t{5}}) {
    for (std::size_t ef : {std::size_t{1}, std::size_t{16}}) {
      auto found = index.search_graph(query, k, ef);
      FUZZ_CHECK(found.size() <= std::max(k, ef), "a graph search returns at most its beam");
      for (const Candidate& c : found) {
        FUZZ_CHECK(c.slot < index.node_count(), "search results name existing slots");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quarn_fuzz::Splitter in(data, size);
  const std::uint8_t flags = in.byte();
  const auto graph = in.section();
  const auto quantized = in.section();
  const auto rest = in.rest();

  // Header fields decide the size of vectors.bin before anything is loaded.
  std::optional<std::uint64_t> vectors_size;
  {
    ByteReader reader(graph);
    auto parsed = storage_detail::parse_graph(reader);
    if (parsed.ok()) vectors_size = vectors_file_size(parsed->links.size(), parsed->dim);
  }

  const std::string& dir = quarn_fuzz::scratch().fresh();
  const Storage storage = Storage::make(dir);
  quarn_fuzz::write_bytes(storage.graph_path, graph);
  if ((flags & 1) != 0 && vectors_size && *vectors_size <= kMaxVectorBytes) {
    quarn_fuzz::write_bytes(storage.vectors_path, fill_to(rest, *vectors_size));
  } else {
    quarn_fuzz::write_bytes(storage.vectors_path, rest);
  }
  if ((flags & 2) != 0) quarn_fuzz::write_bytes(storage.quantized_path, quantized);
  if ((flags & 4) != 0) quarn_fuzz::write_bytes(storage.graph_temp_path, graph);

  bool loaded_ok = false;
  if ((flags & 4) == 0) {
    auto loaded = storage.load();
    loaded_ok = loaded.ok();
    if (loaded.ok()) {
      FUZZ_CHECK(loaded->index->live_count() <= loaded->index->node_count(), "live slots are existing slots");
      if (loaded->index->dim() <= kMaxQueryDim) search_graph(*loaded->index, rest);
    }
  }

  auto db = quarn_fuzz::open_db(dir, OpenOptions{}, /*must=*/false);
  if ((flags & 4) == 0) FUZZ_CHECK(loaded_ok == (db != nullptr), "the open succeeds exactly when the load does");
  if (!db) return 0;
  quarn_fuzz::check_invariants(*db);
  const quarn_fuzz::State state = quarn_fuzz::read_state(*db);
  if (db->dim() > kMaxQueryDim) return 0;
  std::vector<float> query(db->dim(), 0.5f);
  SearchParams params;
  params.k = 3;
  auto found = db->search(query, params);
  FUZZ_CHECK(found.ok(), "a search of the right dimension succeeds");
  FUZZ_CHECK(found->size() <= std::min<std::size_t>(3, state.size()), "at most k live results");
  for (const SearchResult& r : *found) FUZZ_CHECK(state.count(r.id) == 1, "results are live ids");
  quarn_fuzz::check_save_roundtrip(std::move(db), dir);
  return 0;
}
