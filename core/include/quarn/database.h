#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <span>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "quarn/filter.h"
#include "quarn/hnsw.h"
#include "quarn/json.h"
#include "quarn/metadata_index.h"
#include "quarn/result.h"
#include "quarn/storage.h"
#include "quarn/wal.h"

namespace quarn {

struct SearchResult {
  std::string id;
  float distance;
  std::optional<Json> metadata;
};

struct SearchParams {
  std::size_t k = 10;
  std::optional<std::size_t> ef_search;
  const Filter* filter = nullptr;  // owned by the caller for the duration of the call
  std::optional<float> max_distance;
};

// max(200, k + floor(10 * sqrt(k))).
std::size_t default_ef(std::size_t k);

struct Item {
  std::string id;
  std::vector<float> vector;
  std::optional<Json> metadata;
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
};

// Why an open failed; the binding words the message from it.
struct OpenError {
  enum class Kind { BadMetric, BadParameter, Engine };
  Kind kind;
  std::string message;             // BadMetric / BadParameter: the full message to raise
  std::optional<QuarnError> error;  // Engine
};

struct Stats {
  std::size_t num_vectors = 0;
  std::size_t num_deleted = 0;
  std::size_t num_layers = 0;
  double avg_degree_layer0 = 0.0;
  std::size_t max_degree_layer0 = 0;
  std::size_t min_degree_layer0 = 0;
  std::size_t memory_vectors_bytes = 0;
  std::size_t memory_graph_bytes = 0;
  std::size_t memory_quantized_bytes = 0;
  bool uses_brute_force = true;
  bool uses_quantized_search = false;
};

class Database {
 public:
  // Create-or-open with a dimension, open-only without one.
  static std::variant<std::unique_ptr<Database>, OpenError> open(const std::string& path, const OpenOptions& options);
  // An empty database; touches nothing on disk.
  static std::unique_ptr<Database> create_empty(const std::string& path, std::size_t dim, Metric metric,
                                                std::size_t m, std::size_t ef_construction, bool quantize);

  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  ~Database();

  // ---- single-record writes and reads ----
  Status add(const std::string& id, std::vector<float> vector, std::optional<Json> metadata);
  Status upsert(const std::string& id, std::vector<float> vector, std::optional<Json> metadata);
  Status update(const std::string& id, std::optional<std::vector<float>> vector, std::optional<Json> metadata);
  Result<bool> remove(const std::string& id);
  Result<std::pair<std::vector<float>, std::optional<Json>>> get(const std::string& id) const;
  std::vector<std::string> ids() const;
  bool contains(const std::string& id) const;
  // The slot holding a live id (diagnostics and tests).
  std::optional<Slot> slot_of(const std::string& id) const;
  std::size_t size() const;
  std::size_t dim() const { return dim_; }
  std::string metric_name() const;
  std::size_t total_slots() const;
  std::size_t deleted_count() const;
  bool quantize_setting() const { return quantize_; }
  bool read_only() const { return read_only_; }
  const std::string& path() const { return storage_.dir; }

  // ---- batch writes ----
  Status add_many(std::vector<Item> items);
  Status upsert_many(std::vector<Item> items);
  Result<std::size_t> delete_many(const std::vector<std::string>& ids);

  // ---- search ----
  Result<std::vector<SearchResult>> search(std::span<const float> query, const SearchParams& params) const;
  Result<std::vector<std::vector<SearchResult>>> search_many(const std::vector<std::vector<float>>& queries,
                                                             const SearchParams& params) const;
  std::size_t count(const Filter* filter) const;

  // ---- maintenance ----
  Status save();
  void compact();
  Stats stats() const;
  void enable_quantized_search();
  void disable_quantized_search();
  bool quantized_search() const;

  // Applies the records of wal.quarn (used by open).
  Status replay_wal();

  // Verifies that the id map, slot table, metadata table, metadata index and live count agree
  // (for tests); returns a description of the first disagreement, or nothing.
  std::optional<std::string> check_invariants() const;

 private:
  Database(Storage storage, std::string wal_path, std::unique_ptr<HnswIndex> index, std::size_t dim, bool quantize);

  // Exclusive guards of the index and the three per-slot tables, taken in lock order.
  struct TableGuard {
    explicit TableGuard(const Database& db);
    std::unique_lock<std::shared_mutex> index;
    std::unique_lock<std::shared_mutex> slot_table;
    std::unique_lock<std::shared_mutex> metadata;
    std::unique_lock<std::shared_mutex> metadata_index;
  };

  // ---- write steps shared by single writes, batch writes and log replay ----
  // The caller holds id_map_lock_ exclusively for each of these.
  //
  // Inserts a new record under the next slot (the id must not be live) and maps the id to it.
  Slot insert_record_locked(const std::string& id, std::vector<float> vector, std::optional<Json> metadata);
  // Replaces the vector (when given) and the metadata (when given; an empty inner value
  // clears it) of a live slot.
  void replace_record_locked(Slot slot, const std::vector<float>* vector,
                             std::optional<std::optional<Json>> metadata);
  // Unmaps a live id and turns its slot into a tombstone.
  void delete_record_locked(const std::string& id, Slot slot);
  // Inserts new records with one batch_insert, each id once: the slot goes to the first
  // occurrence of an id, the contents to its last. Maps the ids. Caller also holds `guard`.
  void insert_batch_held(std::vector<Item> items, const TableGuard& guard);
  // Writes id and metadata into the tables at a freshly inserted slot; caller holds the
  // slot-table, metadata and metadata-index locks exclusively.
  void store_record_held(Slot slot, const std::string& id, std::optional<Json> metadata);
  // Tombstones a slot in the index and the tables; caller holds `guard`.
  void clear_slot_held(Slot slot, const TableGuard& guard);

  // Appends one record to the log under the log mutex.
  Status log_append(const WalEntry& entry);
  // Metadata entry of a slot, or none for a slot beyond the table.
  const std::optional<Json>& metadata_at(Slot slot) const;

  // Filtered k-nearest search; caller holds the index, slot-table and metadata locks shared.
  std::vector<Candidate> search_filtered(std::span<const float> query, std::size_t k, std::size_t ef,
                                         const Filter& filter, const std::optional<SlotSet>& candidates) const;
  std::vector<Candidate> scan_filtered(std::span<const float> query, std::size_t k, const Filter& filter,
                                       const std::optional<SlotSet>& candidates) const;
  // Graph walk that accepts only matching records, giving way to scan_filtered when it scores
  // more than `matches` nodes or finds fewer than k.
  std::vector<Candidate> walk_filtered(std::span<const float> query, std::size_t k, std::size_t ef,
                                       const Filter& filter, const std::optional<SlotSet>& candidates,
                                       std::size_t matches) const;
  // Matching live records estimated from a fixed sample of slots (for filters the metadata
  // index cannot answer).
  std::size_t estimate_matches(const Filter& filter) const;
  // Turns pairs into results with ids and metadata, applying the max_distance cut; caller holds
  // the slot-table and metadata locks shared.
  std::vector<SearchResult> assemble(const std::vector<Candidate>& pairs, std::optional<float> max_distance) const;
  // Replaces the metadata of a live slot in the table and the metadata index; caller holds
  // the metadata and metadata-index locks exclusively.
  void replace_metadata_locked(Slot slot, std::optional<Json> metadata);
  // Applies one decoded log record through the shared write steps, never appending to the log.
  void apply_wal_entry(WalEntry entry);
  // The read-only error when this database may not be written.
  std::optional<QuarnError> refuse_write() const;

  // fork() safety: every live database is registered, and before a fork the forking thread takes
  // the locks of each in lock order, so that the child never inherits one held by a thread that
  // does not exist in it; the parent releases them after the fork, the child makes them anew.
  static void lock_all_for_fork();
  static void unlock_all_after_fork();
  static void reset_all_in_child();
  void register_for_fork();
  void unregister_for_fork();

  // Lock order, whenever two or more are held at once:
  //   id_map_lock_ -> wal_mutex_ -> index_lock_ -> slot_table_lock_ -> metadata_lock_ -> metadata_index_lock_
  // Writers and compaction hold id_map_lock_ exclusively from their look-ups until the index and
  // tables are changed (across the log append); searches never take it.
  mutable std::shared_mutex index_lock_;
  std::unique_ptr<HnswIndex> index_;
  mutable std::shared_mutex id_map_lock_;
  std::unordered_map<std::string, Slot> id_to_slot_;
  mutable std::shared_mutex slot_table_lock_;
  std::vector<std::string> slot_to_id_;
  mutable std::shared_mutex metadata_lock_;
  std::vector<std::optional<Json>> metadata_;
  mutable std::shared_mutex metadata_index_lock_;
  MetadataIndex metadata_index_;
  Storage storage_;
  mutable std::mutex wal_mutex_;
  Wal wal_;
  std::size_t dim_;
  bool quantize_;
  bool read_only_ = false;
  // Open with an exclusive flock for a writer, closed for a read-only database.
  FileHandle writer_lock_;
};

}  // namespace quarn
