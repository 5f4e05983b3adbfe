#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "quarn/error.h"
#include "quarn/filter.h"
#include "quarn/json.h"
#include "quarn/result.h"

// The engine's public interface: a database directory opened as one Database, its options,
// search parameters and results, and the Status/Result/QuarnError vocabulary of its calls.
// Everything else under core/src is internal.

namespace quarn {

struct SearchResult {
  std::string id;
  float distance;
  std::optional<Json> metadata;
  std::optional<std::string> document = std::nullopt;  // filled only when SearchParams::include_documents
};

// BM25's collection statistics for the terms of one keyword query: what a sharded collection
// gathers from its parts so that each scores as one database of the whole collection would.
struct CollectionStatistics {
  std::vector<std::string> terms;  // the query's distinct terms, in order of first appearance
  std::uint64_t documents = 0;     // documents with at least one term
  std::uint64_t total_length = 0;  // their terms, repeats counted
  std::vector<std::uint64_t> document_frequencies;  // documents holding each term
};

struct SearchParams {
  std::size_t k = 10;
  std::optional<std::size_t> ef_search;
  const Filter* filter = nullptr;  // owned by the caller for the duration of the call
  std::optional<float> max_distance;
  bool include_documents = false;
  // Only records whose documents pass it; owned by the caller like `filter`.
  const DocumentFilter* document_filter = nullptr;
  // Keyword search only: the statistics BM25 uses instead of the database's own; its terms must
  // be the query's (InvalidArgument otherwise). Owned by the caller like `filter`.
  const CollectionStatistics* keyword_statistics = nullptr;
  // With quantized search, how many of the walk's nearest candidates by code are scored with
  // their full-precision rows to pick the k returned (at least k is used; 0 is refused).
  // Absent: the whole beam, or default_rerank(k) when the rows are kept on disk.
  std::optional<std::size_t> rerank;
};

// A record's document is an optional UTF-8 string of at most this many bytes; a longer one or
// one that is not well-formed UTF-8 fails its write with an InvalidArgument error.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{16} << 20;

// How search_hybrid fuses the vector ranking and the keyword ranking. Rrf scores a record
// sum(1 / (rrf_k + rank)) over the rankings that hold it (rank from 1); Weighted maps each
// ranking's scores onto [0, 1] by min-max (best 1, all 1 when they are equal) and adds `weight`
// times the vector score to (1 - weight) times the keyword score.
enum class Fusion { Rrf, Weighted };

struct HybridParams {
  Fusion fusion = Fusion::Rrf;
  float weight = 0.5f;  // in [0, 1]; Weighted only
  std::size_t rrf_k = 60;
};

// A change of a record's document by update: absent keeps it, an empty inner value clears it.
using DocumentChange = std::optional<std::optional<std::string>>;

// max(200, k + floor(10 * sqrt(k))).
std::size_t default_ef(std::size_t k);
// The re-rank depth of a search whose rows are kept on disk: max(4 * k, 40).
std::size_t default_rerank(std::size_t k);

struct Item {
  std::string id;
  std::vector<float> vector;
  std::optional<Json> metadata;
  std::optional<std::string> document = std::nullopt;
};

// One record as get_record returns it.
struct Record {
  std::vector<float> vector;
  std::optional<Json> metadata;
  std::optional<std::string> document;
};

// Progress of a batch write: (records done, records in the batch). It is called on the thread
// that made the call, never concurrently, in steps of about 1% as records are linked into the
// graph, with `done` rising, and last with done == total. It runs while the batch holds the
// database's locks, so it must not call into the same database. An exception thrown by it ends
// the reports, not the batch.
using BatchProgress = std::function<void(std::size_t done, std::size_t total)>;

struct BatchOptions {
  BatchProgress progress;  // none when empty
};

// A batch as one block: row i of `vectors` (dim floats, rows one after another) is the vector of
// ids[i], and metadata is empty (no metadata for any row) or holds one entry per row; so do
// documents. The floats are read in place for the duration of the call and copied only into the
// database's own store.
struct ItemBlock {
  std::vector<std::string> ids;
  std::span<const float> vectors;
  std::vector<std::optional<Json>> metadata;
  std::vector<std::optional<std::string>> documents = {};
};

// When a write returns: Flush once its log record is handed to the operating system (a process
// crash loses nothing, a power cut may lose the writes since the last save or sync()); Sync once
// the record is on the disk. Concurrent writers in Sync mode share one sync.
enum class Durability : std::uint8_t { Flush, Sync };

// How the keyword index makes terms and scores them: optional English stop words (dropped
// before stemming) and Snowball English stemming, and BM25's k1 (>= 0) and b (in [0, 1]).
// Chosen when the database is created and stored with it (only when they differ from these
// defaults, so a database using the defaults writes no file for them).
struct KeywordSettings {
  bool english_stop_words = false;
  bool english_stemming = false;
  float k1 = 1.2f;
  float b = 0.75f;
  bool operator==(const KeywordSettings&) const = default;
};

struct OpenOptions {
  std::optional<std::uint64_t> dim;
  std::optional<std::string> metric;
  std::optional<std::uint64_t> m;
  std::optional<std::uint64_t> ef_construction;
  bool quantize = false;
  // Load the snapshot and replay the log in memory only: nothing is created, locked or written,
  // and every write fails. Without it the open takes the directory's writer lock for the life
  // of the Database.
  bool read_only = false;
  // Chosen per open; not stored.
  Durability durability = Durability::Flush;
  // At creation, the keyword settings to store; at a reopen, when given, they must equal the
  // stored ones (InvalidArgument naming both otherwise). Absent: the stored ones (or defaults).
  std::optional<KeywordSettings> keyword;
  // Open what can be saved from a damaged directory instead of failing: the log's records
  // before a damaged one, snapshot files whose checksums fail but which still parse, a
  // snapshot without its damaged manifest. What was left out or found damaged is listed in
  // Database::recovery_report().
  bool recover = false;
  // false: full-precision rows stay in files and are read only to re-rank a search's final
  // candidates, while the graph and 8-bit codes (quantized search, always on in this mode) stay
  // in memory. A writer's open stores the choice in the directory (the file vectors.ondisk,
  // present only while the mode is on), so an open without it keeps the directory's mode;
  // true switches the directory back. A read-only open uses it for this open only.
  std::optional<bool> vectors_in_memory;
};

// One thing an open left out of a database or found damaged in it.
struct RecoveryNote {
  std::string file;  // the file's name in the directory, e.g. "wal.quarn"
  // "torn_tail": the log's last record or batch was cut short (also without recover);
  // "damage": the log from a damaged record on, with readable records after it;
  // "checksum": a snapshot file or the manifest failed its checks and was used anyway, or ignored.
  std::string kind;
  std::uint64_t offset = 0;   // where what was left out begins (the damaged record for "damage")
  std::uint64_t bytes = 0;    // bytes left out
  std::uint64_t records = 0;  // readable records among them
  std::string message;
};

// What verify_files found: whether a manifest names the snapshot's generation (no manifest:
// unchecked), and the problems with the files on the disk.
struct FileCheck {
  bool checked = false;
  std::uint64_t generation = 0;
  std::uint64_t files = 0;  // snapshot files whose every block was checked
  std::uint64_t bytes = 0;  // bytes checked
  std::vector<std::string> problems;
};

struct Stats {
  std::size_t num_vectors = 0;
  std::size_t num_deleted = 0;
  std::size_t num_layers = 0;
  double avg_degree_layer0 = 0.0;
  std::size_t max_degree_layer0 = 0;
  std::size_t min_degree_layer0 = 0;
  // Live vectors a walk from the entry point reaches over layer-0 links; num_vectors when the
  // graph has no islands.
  std::size_t reachable_layer0 = 0;
  std::size_t memory_vectors_bytes = 0;
  std::size_t memory_graph_bytes = 0;
  std::size_t memory_quantized_bytes = 0;
  bool uses_brute_force = true;
  bool uses_quantized_search = false;
  // false while full-precision rows are kept in files (memory_vectors_bytes is then 0).
  bool vectors_in_memory = true;
};

// One open database directory. Every call is safe from several threads at once.
class Database {
 public:
  // Create-or-open with a dimension, open-only without one. Parameters it cannot take (a
  // metric, dim, m or ef_construction out of range) fail with an InvalidArgument error whose
  // text is the message to show.
  static Result<std::unique_ptr<Database>> open(const std::string& path, const OpenOptions& options);

  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  // Flushes and closes the log and releases the writer lock; nothing is saved.
  virtual ~Database() = default;

  // ---- single-record writes and reads ----
  // A record written without a document has none; upsert replaces the document with its own.
  virtual Status add(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
                     std::optional<std::string> document = std::nullopt) = 0;
  virtual Status upsert(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
                        std::optional<std::string> document = std::nullopt) = 0;
  virtual Status update(const std::string& id, std::optional<std::vector<float>> vector,
                        std::optional<Json> metadata, DocumentChange document = std::nullopt) = 0;
  virtual Result<bool> remove(const std::string& id) = 0;
  virtual Result<std::pair<std::vector<float>, std::optional<Json>>> get(const std::string& id) const = 0;
  // get with the record's document, all read at one moment.
  virtual Result<Record> get_record(const std::string& id) const = 0;
  virtual std::vector<std::string> ids() const = 0;
  // Ids of the live records matching a filter (every live record without one) in slot order,
  // which is the order the ids were first added and survives updates and compaction; the
  // first `offset` are skipped and at most `limit` returned.
  virtual std::vector<std::string> ids_matching(const Filter* filter, std::size_t offset,
                                                std::optional<std::size_t> limit) const = 0;
  // The same, also passing a document filter (when not null).
  virtual Result<std::vector<std::string>> ids_matching(const Filter* filter, const DocumentFilter* document_filter,
                                                        std::size_t offset, std::optional<std::size_t> limit) const = 0;
  virtual bool contains(const std::string& id) const = 0;
  // The slot (record number) holding a live id (diagnostics and tests).
  virtual std::optional<std::uint32_t> slot_of(const std::string& id) const = 0;
  virtual std::size_t size() const = 0;
  virtual std::size_t dim() const = 0;
  virtual std::string metric_name() const = 0;
  virtual std::size_t total_slots() const = 0;
  virtual std::size_t deleted_count() const = 0;
  virtual bool quantize_setting() const = 0;
  // Whether full-precision rows are held in memory (OpenOptions::vectors_in_memory).
  virtual bool vectors_in_memory() const = 0;
  // The graph's parameters, as stored: links per node above layer 0, and the build beam.
  virtual std::size_t m() const = 0;
  virtual std::size_t ef_construction() const = 0;
  virtual bool read_only() const = 0;
  virtual const std::string& path() const = 0;

  // ---- batch writes ----
  // Each is one batch in the log: a replay applies all of it or none of it. add_many and
  // add_block take each id once: an id repeated in the batch fails it (InvalidArgument naming
  // the id and both rows) before anything is written. The upserts keep an id's last occurrence.
  virtual Status add_many(std::vector<Item> items, const BatchOptions& options = {}) = 0;
  virtual Status upsert_many(std::vector<Item> items, const BatchOptions& options = {}) = 0;
  // add_many and upsert_many of a block: the same records and the same log bytes as the item
  // forms, without a vector per record.
  virtual Status add_block(ItemBlock block, const BatchOptions& options = {}) = 0;
  virtual Status upsert_block(ItemBlock block, const BatchOptions& options = {}) = 0;
  virtual Result<std::size_t> delete_many(const std::vector<std::string>& ids) = 0;
  // Deletes every live record the filter matches, as one delete_many batch of their ids: a
  // replay deletes all of them or none, and no write lands between the matching and the
  // deleting. Returns how many were deleted.
  virtual Result<std::size_t> delete_where(const Filter& filter) = 0;

  // ---- search ----
  virtual Result<std::vector<SearchResult>> search(std::span<const float> query, const SearchParams& params) const = 0;
  virtual Result<std::vector<std::vector<SearchResult>>> search_many(const std::vector<std::vector<float>>& queries,
                                                                     const SearchParams& params) const = 0;
  virtual std::size_t count(const Filter* filter) const = 0;
  virtual Result<std::size_t> count(const Filter* filter, const DocumentFilter* document_filter) const = 0;
  // The k records whose documents score best by BM25 for the query's terms (k1 1.2, b 0.75;
  // terms are case-folded runs of Unicode letters and numbers, no stop words, no stemming),
  // best first, equal scores in slot order; distance = -score, so smaller is nearer. The
  // filter and max_distance apply as for search; ef_search is not used. A query without
  // terms gives no hits.
  virtual Result<std::vector<SearchResult>> search_keyword(std::string_view query,
                                                           const SearchParams& params) const = 0;
  // search and search_keyword, each giving its own top k, fused into one ranking of k
  // (HybridParams); distance = -fused score. Equal scores keep the order in which the vector
  // hits, then the keyword hits, first name a record. max_distance cuts the fused ranking.
  virtual Result<std::vector<SearchResult>> search_hybrid(std::span<const float> vector, std::string_view query,
                                                          const SearchParams& params,
                                                          const HybridParams& hybrid = {}) const = 0;
  virtual KeywordSettings keyword_settings() const = 0;
  // This database's share of the statistics of the query's terms.
  virtual CollectionStatistics keyword_statistics(std::string_view query) const = 0;
  // search_keyword and search_hybrid of each query (with vectors[i] for queries[i]), spread over
  // the worker threads; each query reads the database at its own moment. The first failing
  // query fails the call; vectors and queries of different lengths fail with InvalidArgument.
  virtual Result<std::vector<std::vector<SearchResult>>> search_keyword_many(const std::vector<std::string>& queries,
                                                                             const SearchParams& params) const = 0;
  virtual Result<std::vector<std::vector<SearchResult>>> search_hybrid_many(
      const std::vector<std::vector<float>>& vectors, const std::vector<std::string>& queries,
      const SearchParams& params, const HybridParams& hybrid = {}) const = 0;

  // ---- maintenance ----
  virtual Status save() = 0;
  // Syncs the log now: every write that returned before the call is then on the disk, in either
  // durability mode. Nothing to do for a read-only database.
  virtual Status sync() = 0;
  virtual Durability durability() const = 0;
  // Copies the database as it stood at one moment into `dest` (absent, or an empty directory)
  // while writes go on: they wait only while the files are opened, not for the copy. The copy
  // opens as a database equal to this one at that moment. A read-only database copies the
  // directory as it stands at the call, with writes made since it opened. A destination that
  // exists and is not empty, lies inside this database's directory or cannot be created fails
  // with InvalidArgument; a failed backup leaves nothing at `dest`.
  virtual Status backup(const std::string& dest) = 0;
  // Rebuilds the index from the live records, renumbering their slots; in memory only. A
  // read-only database refuses it like any write.
  virtual Status compact() = 0;
  virtual Stats stats() const = 0;
  virtual void enable_quantized_search() = 0;
  virtual void disable_quantized_search() = 0;
  virtual bool quantized_search() const = 0;

  // Verifies that the id map, slot table, metadata table, metadata index and live count agree
  // (for tests); returns a description of the first disagreement, or nothing.
  virtual std::optional<std::string> check_invariants() const = 0;
  // Checks every block of the snapshot files on the disk against the manifest of their
  // generation, which files are there, and the log for damage before its end (which a reader
  // opening it now would meet); a save meanwhile makes it check the new generation.
  virtual Result<FileCheck> verify_files() const = 0;
  // What the open left out or found damaged (recover, or a torn tail of the log); empty when
  // it read everything.
  virtual const std::vector<RecoveryNote>& recovery_report() const = 0;

 protected:
  Database() = default;
};

}  // namespace quarn
