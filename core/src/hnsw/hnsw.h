#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <utility>
#include <variant>
#include <vector>

#include "distance/distance.h"
#include "hnsw/disk_rows.h"
#include "hnsw/graph_links.h"
#include "quantize/quantizer.h"
#include "quarn/result.h"
#include "util/cache_aligned.h"
#include "util/file_mapping.h"

namespace quarn {

class BufferedWriter;

inline constexpr Slot kNoEntryPoint = 0xFFFFFFFFu;
// dim x live vectors below this is answered by exhaustive scan.
inline constexpr std::size_t kScanLimit = 10'000'000;
// Islands left by inserts are linked back whenever the rows linked since the last repair reach
// 1/kRepairShare of the nodes, so a batch of at least that share is repaired when it ends.
inline constexpr std::size_t kRepairShare = 32;
// Rows at least this long are prefetched into the outer cache rather than the first level.
inline constexpr std::size_t kOuterCacheHintBytes = 1024;

// (slot, distance) pair; result lists are ordered by ascending distance.
struct Candidate {
  Slot slot;
  float distance;
};

// All vectors, slot-major: an owned array, a read-only map of vectors.bin whose vector floats
// are followed by the stored norms, or rows kept in files (DiskRows) for a collection larger
// than memory.
class VectorStore {
 public:
  struct Owned {
    CacheAlignedFloats data;
  };
  struct Mapped {
    FileMapping map;
    std::size_t float_count;  // number of vector floats (n * dim) at the start of the map
  };
  struct OnDisk {
    DiskRows rows;
  };

  VectorStore() : repr_(Owned{}) {}
  explicit VectorStore(const std::vector<float>& data) : repr_(Owned{{data.begin(), data.end()}}) {}
  // Precondition: the map holds at least float_count floats (checked by the loader).
  VectorStore(FileMapping map, std::size_t float_count) : repr_(Mapped{std::move(map), float_count}) {}
  explicit VectorStore(DiskRows rows) : repr_(OnDisk{std::move(rows)}) {}

  bool is_mapped() const { return std::holds_alternative<Mapped>(repr_); }
  // Rows read from files as needed rather than held: kept in DiskRows, or mapped without
  // being read in at the open.
  bool on_disk() const {
    if (std::holds_alternative<OnDisk>(repr_)) return true;
    const auto* mapped = std::get_if<Mapped>(&repr_);
    return mapped != nullptr && !mapped->map.populated();
  }
  // Inline: every distance of a walk reads it.
  const float* data() const {
    if (const auto* owned = std::get_if<Owned>(&repr_)) return owned->data.data();
    if (const auto* disk = std::get_if<OnDisk>(&repr_)) return disk->rows.data();
    return reinterpret_cast<const float*>(std::get_if<Mapped>(&repr_)->map.data());
  }
  // Number of vector floats (n * dim).
  std::size_t float_count() const;
  std::span<const float> row(Slot s, std::size_t dim) const { return {data() + std::size_t{s} * dim, dim}; }

  // For a mapped store, a copy of every float after the vector floats; nothing otherwise.
  std::optional<std::vector<float>> mapped_norms() const;
  // Copies the mapped vector floats into an owned array and releases the map; no-op when owned
  // or on disk.
  void ensure_owned();
  // Owned array (converting a map first); a store on disk has none.
  CacheAlignedFloats& owned();
  // Room for `floats` floats in all, so that data() stays put while they are appended.
  Status reserve(std::size_t floats);
  Status append(std::span<const float> floats);
  // Overwrites floats from `offset` on, all below float_count().
  void write(std::size_t offset, std::span<const float> floats);
  // For rows in files: has the kernel start reading [offset, offset + floats) without waiting.
  void will_need(std::size_t offset, std::size_t floats) const;
  // Moves the rows into DiskRows with a scratch file in `dir`; a mapped store maps
  // `vectors_path` (the file it maps) again instead of copying it.
  Status move_to_disk(const std::string& vectors_path, const std::string& dir);

 private:
  std::variant<Owned, Mapped, OnDisk> repr_;
};

// Told how many records of a batch insert are linked into the graph so far.
using LinkProgress = std::function<void(std::size_t linked)>;

struct QuantizedSearch {
  ScalarQuantizer quantizer;
  std::vector<std::uint8_t> codes;  // dim codes per slot, one row for every slot
};

class HnswIndex {
 public:
  HnswIndex(std::size_t dim, std::size_t m, std::size_t ef_construction, Metric metric);

  // Reconstruction from a snapshot: lists, deleted set and parameters as stored.
  struct Parts {
    std::size_t dim;
    Metric metric;
    std::size_t m;
    std::size_t ef_construction;
    Slot entry_point;
    std::size_t max_level;
    VectorStore store;
    std::vector<float> norms;
    GraphLinks links;
    std::unordered_set<Slot> deleted;
  };
  explicit HnswIndex(Parts parts);

  HnswIndex(const HnswIndex&) = delete;
  HnswIndex& operator=(const HnswIndex&) = delete;

  // ---- construction (caller holds the index write lock) ----
  Slot insert(std::vector<float> vector);
  // Slots are consecutive from the node count before the call, in input order. `progress` is
  // called on the calling thread only (never from a worker), with counts that never decrease,
  // and last with the batch's size once every record is linked. It must not throw.
  std::vector<Slot> batch_insert(std::vector<std::vector<float>> vectors, const LinkProgress& progress = {});
  // The same for rows given as one row-major block of dim-float rows, appended to the store at once.
  std::vector<Slot> batch_insert_rows(std::span<const float> rows, const LinkProgress& progress = {});
  // batch_insert of rows given by pointer (dim floats each), read in place: the same index.
  std::vector<Slot> batch_insert_gather(std::span<const float* const> rows, const LinkProgress& progress = {});
  // Links one node at every layer it owns; safe to run concurrently on different slots.
  void connect_node(Slot slot, std::size_t level, Slot entry);
  void update_vector(Slot slot, std::span<const float> vector);
  std::size_t random_level() const;
  // Reseeds the calling thread's level generator, so that a build run on one thread is
  // reproducible (tests, benchmarks).
  static void seed_levels(std::uint64_t seed);

  // ---- search (caller holds the index lock at least shared) ----
  // Exhaustive scan when scan_answers(), graph search otherwise. With quantized search, `rerank`
  // (at least k; 0 for the whole beam) is how many of the walk's nearest candidates by code are
  // scored exactly to pick the k returned.
  std::vector<Candidate> search(std::span<const float> query, std::size_t k, std::size_t ef,
                                std::size_t rerank = 0) const;
  // Whether search() scans: dim x live count below kScanLimit.
  bool scan_answers() const { return dim_ * live_count() < kScanLimit; }
  // The graph path of `search` whatever the size: beam max(ef, k), deleted slots dropped, and
  // with quantized search the candidates re-ranked by exact distance.
  std::vector<Candidate> search_graph(std::span<const float> query, std::size_t k, std::size_t ef,
                                      std::size_t rerank = 0) const;
  // Graph search whose results hold only live slots that `accept` passes; rejected slots still
  // route the walk, which goes on until it holds max(ef, k) accepted results. Distances are exact
  // (re-ranked when quantized). Returns nothing when the walk scored more than `budget` nodes or
  // ended with fewer than k accepted: an exact scan of the accepted slots is then the answer.
  std::optional<std::vector<Candidate>> search_accepting(std::span<const float> query, std::size_t k,
                                                         std::size_t ef, const std::function<bool(Slot)>& accept,
                                                         std::size_t budget, std::size_t rerank = 0) const;
  // Whether search() would answer every query by the brute-force scan without deletions,
  // the case search_many_exhaustive speeds up.
  bool batch_scan_applies() const;
  // search() for each query, one result list per query in query order, equal to what search()
  // returns for it. When batch_scan_applies() the queries share one pass over the store; pass
  // a small tile of queries. Otherwise each query is searched on its own.
  std::vector<std::vector<Candidate>> search_many_exhaustive(std::span<const std::span<const float>> queries,
                                                              std::size_t k, std::size_t ef) const;
  // search() for each query, one result list per query in query order, each equal to what
  // search() returns for it, spread over the pool; graph searches run in descent_order.
  std::vector<std::vector<Candidate>> search_many(std::span<const std::span<const float>> queries,
                                                  std::size_t k, std::size_t ef, std::size_t rerank = 0) const;
  // Every query's descent through the upper layers, on the pool, and an order to run the
  // layer-0 walks in: queries whose descents took the same path come next to each other, so
  // that they run one after another on a worker and later ones find the rows the earlier ones
  // fetched still in the cache. order[j] is the query to run j-th; entries[i] is query i's
  // layer-0 entry, to pass to search_accepting_from. Needs an entry point.
  struct DescentOrder {
    std::vector<std::size_t> order;
    std::vector<Slot> entries;
  };
  DescentOrder descent_order(std::span<const std::span<const float>> queries) const;
  // search_accepting's walk from a layer-0 entry that descent_order gave; k above 0.
  std::optional<std::vector<Candidate>> search_accepting_from(std::span<const float> query, std::size_t k,
                                                              std::size_t ef, const std::function<bool(Slot)>& accept,
                                                              std::size_t budget, Slot entry,
                                                              std::size_t rerank = 0) const;
  Slot search_layer_single(std::span<const float> query, Slot entry, std::size_t layer) const;
  std::vector<Candidate> search_layer(std::span<const float> query, Slot entry, std::size_t ef,
                                      std::size_t layer) const;

  // ---- rows kept in files ----
  // Moves the full-precision rows into files (DiskRows, scratch file in `dir`; a store mapped
  // from `vectors_path` maps it again) and keeps quantized search on from then on: it is
  // enabled now when rows exist, else once the first rows come, and retrained whenever the
  // rows have doubled since it was trained, so the codes follow the data as it grows.
  Status move_rows_to_disk(const std::string& vectors_path, const std::string& dir);
  bool rows_on_disk() const { return store_.on_disk(); }

  // ---- quantized search ----
  void enable_quantized_search();
  void disable_quantized_search() { quantized_.reset(); }
  void load_quantized(ScalarQuantizer quantizer, std::vector<std::uint8_t> codes);
  bool has_quantized() const { return quantized_.has_value(); }
  const std::optional<QuantizedSearch>& quantized() const { return quantized_; }
  float quantized_distance(std::span<const float> query, Slot slot, std::span<float> scratch) const;
  // quantized_distance for two slots at once, into out[0] and out[1]: the same values.
  void quantized_distance_pair(std::span<const float> query, Slot a, Slot b, std::span<float> scratch,
                               float* out) const;
  std::vector<Candidate> search_layer_quantized(std::span<const float> query, Slot entry, std::size_t ef) const;

  // ---- deletion (the Database does this under the index write lock) ----
  // Adds the slot to the deleted set and decrements the live count when it is a live slot
  // below the node count; returns whether it did.
  bool mark_deleted(Slot slot);
  bool is_deleted(Slot slot) const { return deleted_.count(slot) != 0; }
  const std::unordered_set<Slot>& deleted() const { return deleted_; }

  // ---- connectivity ----
  // One mark per node: whether a walk from the entry point can reach it over layer-0 links,
  // deleted nodes included (they route walks as live ones do).
  std::vector<std::uint8_t> reachable_on_layer0() const;
  // Live nodes among those reachable on layer 0; live_count() when the graph has no islands.
  std::size_t live_reachable_on_layer0() const;
  // Links every live node that no layer-0 walk from the entry point reaches from its nearest
  // reachable node; a node cut off by a replaced link is linked in turn.
  void repair_layer0();

  // ---- persistence ----
  // Writes the graph.quarn header, deleted slots and node records, then flushes the writer.
  Status save_graph(BufferedWriter& out) const;

  // ---- accessors ----
  std::span<const float> vector(Slot s) const { return store_.row(s, dim_); }
  const VectorStore& store() const { return store_; }
  const std::vector<float>& norms() const { return norms_; }
  std::size_t node_count() const { return links_.size(); }
  const GraphLinks& links() const { return links_; }
  std::size_t level(Slot s) const { return links_.level(s); }
  // How many rows a walk hints ahead of the one it scores: enough to keep memory busy, but no
  // more than about 96 cache lines in flight, so long rows do not evict each other.
  std::size_t prefetch_ahead() const {
    const std::size_t lines = (dim_ * sizeof(float) + 63) / 64;
    return std::clamp<std::size_t>(96 / std::max<std::size_t>(lines, 1), 1, 4);
  }
  // Hints every cache line of the slot's row, so that scoring it soon does not wait for memory.
  void prefetch_row(Slot s) const { prefetch_lines(row_data(s), dim_ * sizeof(float)); }
  // Hints every cache line of the slot's SQ8 code row, for the quantized walks.
  void prefetch_codes(Slot s) const {
    const std::vector<std::uint8_t>& codes = quantized_->codes;
    const std::size_t offset = std::size_t{s} * dim_;
    if (offset + dim_ > codes.size()) return;
    prefetch_lines(codes.data() + offset, dim_);
  }
  // Distance from a query whose vector_norm is `query_norm` to a stored slot, as the graph
  // walks score it.
  float query_distance(std::span<const float> query, float query_norm, Slot s) const {
    return row_distance_(query.data(), query_norm, row_data(s), norm_of(s), dim_);
  }
  // query_distance for two slots at once, into out[0] and out[1]: the same values, computed
  // side by side.
  void query_distance_pair(std::span<const float> query, float query_norm, Slot a, Slot b, float* out) const {
    row_pair_distance_(query.data(), query_norm, row_data(a), norm_of(a), row_data(b), norm_of(b), dim_, out);
  }
  std::size_t live_count() const { return live_count_.load(std::memory_order_acquire); }
  std::size_t deleted_count() const { return deleted_.size(); }
  std::size_t max_level() const { return max_level_; }
  Slot entry_point() const { return entry_point_; }
  std::size_t dim() const { return dim_; }
  std::size_t m() const { return m_; }
  std::size_t m0() const { return m0_; }
  std::size_t ef_construction() const { return ef_construction_; }
  double ml() const { return ml_; }
  Metric metric() const { return metric_; }

 private:
  const float* row_data(Slot s) const { return store_.data() + std::size_t{s} * dim_; }
  // The norm the row kernels take: only cosine reads it, so the other metrics skip the load (a
  // likely cache miss beside the row's).
  float norm_of(Slot s) const { return metric_ == Metric::Cosine ? norms_[s] : 0.0f; }
  // Hints every cache line of [data, data + bytes). Rows of 1 KB and more go to the outer cache
  // only: a few such rows ahead are more lines than the first level can have outstanding, and
  // hints waiting for a slot there stall the walk. Shorter rows measured faster with full hints.
  static void prefetch_lines(const void* data, std::size_t bytes) {
    if (bytes >= kOuterCacheHintBytes) {
      prefetch_range<1>(data, bytes);
    } else {
      prefetch_range<3>(data, bytes);
    }
  }
  float pair_distance(Slot a, Slot b) const {
    return row_distance_(row_data(a), norm_of(a), row_data(b), norm_of(b), dim_);
  }
  // pair_distance(a, b0) and pair_distance(a, b1) into out[0] and out[1], side by side.
  void pair_distances(Slot a, Slot b0, Slot b1, float* out) const {
    row_pair_distance_(row_data(a), norm_of(a), row_data(b0), norm_of(b0), row_data(b1), norm_of(b1), dim_, out);
  }
  // Appends {x, pair_distance(owner, x)} for every x of `others`, in order.
  void append_distances(Slot owner, const std::vector<Slot>& others, std::vector<Candidate>& out) const;
  // Appends codes (if quantized), norm, floats and an empty node, converting a mapped store.
  Slot append_row(std::span<const float> vector, std::size_t level);
  // append_row without the floats, for a row whose floats the store already holds.
  Slot append_node(std::span<const float> vector, std::size_t level);
  // Draws the levels of `count` new rows and makes room for them in every array.
  std::vector<std::size_t> prepare_batch(std::size_t count);
  // Links the appended rows from `start` on, one per level; see batch_insert.
  std::vector<Slot> link_batch(Slot start, const std::vector<std::size_t>& levels, const LinkProgress& progress);
  // Counts rows linked since the last repair_layer0 and repairs when they reach the share.
  void note_linked(std::size_t rows);
  // Writes the slot's code row when quantized search is on.
  void write_codes(Slot slot, std::span<const float> vector);
  // Exhaustive scan: brute-force kernel without deletions, pairwise distances otherwise.
  std::vector<Candidate> scan(std::span<const float> query, std::size_t k) const;
  // Rows the brute-force kernel scores: every row of the store.
  std::size_t scan_rows() const;
  // The greedy descent through layers max_level_..1 that starts every graph search, scored as
  // the walk below it is (by codes when quantized). Returns the layer-0 entry; when `path` is
  // given, path[i] is the slot it ended on at layer max_level_ - i.
  Slot descend(std::span<const float> query, Slot* path) const;
  // The rest of search_graph: the layer-0 walk from descend()'s entry, k already clamped to the
  // live count and above 0, beam max(ef, k) clamped to the node count.
  std::vector<Candidate> search_graph_from(std::span<const float> query, std::size_t k, std::size_t beam,
                                           Slot entry, std::size_t rerank) const;
  // Its quantized walk: codes for the walk, then live candidates re-ranked by exact distance.
  std::vector<Candidate> search_layer0_quantized(std::span<const float> query, std::size_t k, std::size_t beam,
                                                 Slot entry, std::size_t rerank) const;
  // Keeps the first max(rerank, k) of `found` (all when rerank is 0; ordered by code distance),
  // scores them exactly and sorts them by that. Rows in files are asked for all at once first.
  void rerank_exact(std::span<const float> query, std::vector<Candidate>& found, std::size_t k,
                    std::size_t rerank) const;
  // With rows in files: quantized search on once rows exist, retrained when they doubled.
  void keep_codes_current();

  VectorStore store_;
  std::vector<float> norms_;
  GraphLinks links_;
  std::optional<QuantizedSearch> quantized_;
  std::unordered_set<Slot> deleted_;
  std::size_t max_level_ = 0;
  std::size_t m_;
  std::size_t m0_;
  std::size_t ef_construction_;
  double ml_;
  std::size_t dim_;
  std::atomic<std::size_t> live_count_{0};
  Slot entry_point_ = kNoEntryPoint;
  std::size_t linked_since_repair_ = 0;
  bool codes_follow_rows_ = false;  // set by move_rows_to_disk
  std::size_t codes_trained_on_ = 0;  // rows the quantizer was last trained on there
  Metric metric_;
  RowDistanceFn row_distance_;
  RowPairDistanceFn row_pair_distance_;
  CodeDistanceFn code_distance_;
  CodePairDistanceFn code_pair_distance_;
  SpanDistanceFn span_distance_;
};

}  // namespace quarn
