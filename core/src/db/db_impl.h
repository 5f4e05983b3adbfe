#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

#include "db/document_table.h"
#include "db/id_table.h"
#include "db/keyword_mirror.h"
#include "filter/filter_index.h"
#include "filter/metadata_index.h"
#include "hnsw/hnsw.h"
#include "db/save_queue.h"
#include "quarn/database.h"
#include "storage/storage.h"
#include "util/file.h"
#include "wal/group_sync.h"
#include "wal/wal.h"

namespace quarn {

// The database behind the public interface: the graph index, the id and metadata tables, the
// log and the snapshot paths, with the locks that guard them.
class DbImpl final : public Database {
 public:
  // Opens as Database::open describes.
  static Result<std::unique_ptr<Database>> open(const std::string& path, const OpenOptions& options);
  // An empty database; touches nothing on disk.
  static std::unique_ptr<DbImpl> create_empty(const std::string& path, std::size_t dim, Metric metric,
                                                std::size_t m, std::size_t ef_construction, bool quantize);

  ~DbImpl() override;

  // ---- single-record writes and reads ----
  Status add(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
             std::optional<std::string> document = std::nullopt) override;
  Status upsert(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
                std::optional<std::string> document = std::nullopt) override;
  Status update(const std::string& id, std::optional<std::vector<float>> vector, std::optional<Json> metadata,
                DocumentChange document = std::nullopt) override;
  Result<bool> remove(const std::string& id) override;
  Result<std::pair<std::vector<float>, std::optional<Json>>> get(const std::string& id) const override;
  Result<Record> get_record(const std::string& id) const override;
  std::vector<std::string> ids() const override;
  Result<std::vector<std::string>> ids_matching(const Filter* filter, const DocumentFilter* document_filter,
                                                std::size_t offset, std::optional<std::size_t> limit) const override;
  std::vector<std::string> ids_matching(const Filter* filter, std::size_t offset,
                                        std::optional<std::size_t> limit) const override;
  bool contains(const std::string& id) const override;
  // The slot holding a live id (diagnostics and tests).
  std::optional<std::uint32_t> slot_of(const std::string& id) const override;
  std::size_t size() const override;
  std::size_t dim() const override { return dim_; }
  std::string metric_name() const override;
  std::size_t total_slots() const override;
  std::size_t deleted_count() const override;
  bool quantize_setting() const override { return quantize_; }
  bool vectors_in_memory() const override;
  std::size_t m() const override;
  std::size_t ef_construction() const override;
  bool read_only() const override { return read_only_; }
  const std::string& path() const override { return storage_.dir; }

  // ---- batch writes ----
  Status add_many(std::vector<Item> items, const BatchOptions& options = {}) override;
  Status upsert_many(std::vector<Item> items, const BatchOptions& options = {}) override;
  Status add_block(ItemBlock block, const BatchOptions& options = {}) override;
  Status upsert_block(ItemBlock block, const BatchOptions& options = {}) override;
  Result<std::size_t> delete_many(const std::vector<std::string>& ids) override;
  Result<std::size_t> delete_where(const Filter& filter) override;

  // ---- search ----
  Result<std::vector<SearchResult>> search(std::span<const float> query, const SearchParams& params) const override;
  Result<std::vector<std::vector<SearchResult>>> search_many(const std::vector<std::vector<float>>& queries,
                                                             const SearchParams& params) const override;
  std::size_t count(const Filter* filter) const override;
  Result<std::size_t> count(const Filter* filter, const DocumentFilter* document_filter) const override;
  Result<std::vector<SearchResult>> search_keyword(std::string_view query, const SearchParams& params) const override;
  KeywordSettings keyword_settings() const override;
  CollectionStatistics keyword_statistics(std::string_view query) const override;
  Result<std::vector<std::vector<SearchResult>>> search_keyword_many(const std::vector<std::string>& queries,
                                                                     const SearchParams& params) const override;
  Result<std::vector<std::vector<SearchResult>>> search_hybrid_many(const std::vector<std::vector<float>>& vectors,
                                                                    const std::vector<std::string>& queries,
                                                                    const SearchParams& params,
                                                                    const HybridParams& hybrid) const override;
  Result<std::vector<SearchResult>> search_hybrid(std::span<const float> vector, std::string_view query,
                                                  const SearchParams& params,
                                                  const HybridParams& hybrid = {}) const override;

  // ---- maintenance ----
  Status save() override;
  Status sync() override;
  Durability durability() const override { return durability_; }
  Status backup(const std::string& dest) override;
  Status compact() override;
  Stats stats() const override;
  void enable_quantized_search() override;
  void disable_quantized_search() override;
  bool quantized_search() const override;

  // Applies the records of wal.quarn (used by open).
  Status replay_wal(bool recover = false);

  // Attaches a listener told of every document change after the keyword index (null detaches
  // it); it hears the current documents at once.
  void set_document_listener(DocumentListener* listener);

  // Verifies that the id map, slot table, metadata table, metadata index and live count agree
  // (for tests); returns a description of the first disagreement, or nothing.
  std::optional<std::string> check_invariants() const override;
  Result<FileCheck> verify_files() const override;
  const std::vector<RecoveryNote>& recovery_report() const override { return recovery_report_; }

 private:
  DbImpl(Storage storage, std::string wal_path, std::unique_ptr<HnswIndex> index, std::size_t dim, bool quantize);

  // Exclusive guards of the index and the three per-slot tables, taken in lock order.
  struct TableGuard {
    explicit TableGuard(const DbImpl& db);
    std::unique_lock<std::shared_mutex> index;
    std::unique_lock<std::shared_mutex> slot_table;
    std::unique_lock<std::shared_mutex> metadata;
    std::unique_lock<std::shared_mutex> metadata_index;
  };

  // ---- write steps shared by single writes, batch writes and log replay ----
  // The caller holds id_map_lock_ exclusively for each of these.
  //
  // Inserts a new record under the next slot (the id must not be live) and maps the id to it.
  Slot insert_record_locked(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
                            std::optional<std::string> document);
  // Replaces the vector (when given), the metadata and the document (each when given; an empty
  // inner value clears it) of a live slot.
  void replace_record_locked(Slot slot, const std::vector<float>* vector,
                             std::optional<std::optional<Json>> metadata, DocumentChange document);
  // Unmaps a live id and turns its slot into a tombstone.
  void delete_record_locked(const std::string& id, Slot slot);
  // Inserts new records with one batch_insert, each id once: the slot goes to the first
  // occurrence of an id, the contents to its last. Maps the ids. Caller also holds `guard`.
  // `progress` is told the distinct records linked so far, as batch_insert tells it.
  void insert_batch_held(std::vector<Item> items, const TableGuard& guard, const LinkProgress& progress = {});
  // insert_batch_held for the given rows of a block (ascending; every row when null), taking
  // their ids and metadata out of it. Inserting a whole block of distinct ids copies no floats
  // but into the store.
  void insert_rows_held(ItemBlock& block, const std::vector<std::size_t>* rows, const TableGuard& guard,
                        const LinkProgress& progress);
  // Writes id, metadata and document into the tables at a freshly inserted slot; caller holds
  // the slot-table, metadata and metadata-index locks exclusively.
  void store_record_held(Slot slot, const std::string& id, std::optional<Json> metadata,
                         std::optional<std::string> document);
  // Tombstones a slot in the index and the tables; caller holds `guard`.
  void clear_slot_held(Slot slot, const TableGuard& guard);

  // Appends one record to the log under the log mutex.
  Status log_append(const WalEntry& entry);
  // Metadata entry of a slot, or none for a slot beyond the table.
  const std::optional<Json>& metadata_at(Slot slot) const;

  // How a filtered search runs, decided from the filter alone and so shared by every query of a
  // batch: the exact scan, or the walk with the estimated matching records as its budget.
  struct FilterPlan {
    bool walk = false;
    std::size_t matches = 0;
  };
  // Where a filtered search looks: `candidates` (every slot when none), each passing `test`
  // (the metadata filter, or null when the candidates need no look at the metadata).
  struct Narrowing {
    std::optional<Candidates> candidates;
    const Filter* test = nullptr;
  };
  // The metadata index's candidates for `filter` cut to the records whose documents pass
  // `document_filter`; caller holds the index, slot-table, metadata and metadata-index locks shared.
  Result<Narrowing> narrow(const Filter* filter, const DocumentFilter* document_filter) const;
  // The live slots whose documents pass `filter`; caller holds the locks as for narrow.
  Result<SlotSet> document_slots(const DocumentFilter& filter) const;
  FilterPlan plan_filtered(const Filter* test, const SlotSet* candidates) const;
  // Filtered k-nearest search among `candidates` (every slot when null); caller holds the index,
  // slot-table and metadata locks shared, and the metadata-index lock too when the candidates
  // are a set inside the index. `entry` is the query's layer-0 entry from the index's
  // descent_order, or kNoEntryPoint for a walk that descends on its own.
  std::vector<Candidate> search_filtered(std::span<const float> query, std::size_t k, std::size_t ef,
                                         const Filter* test, const SlotSet* candidates, const FilterPlan& plan,
                                         Slot entry) const;
  std::vector<Candidate> scan_filtered(std::span<const float> query, std::size_t k, const Filter* test,
                                       const SlotSet* candidates) const;
  // Graph walk that accepts only matching records, giving way to scan_filtered when it scores
  // more than `matches` nodes or finds fewer than k.
  std::vector<Candidate> walk_filtered(std::span<const float> query, std::size_t k, std::size_t ef,
                                       const Filter* test, const SlotSet* candidates, std::size_t matches,
                                       Slot entry) const;
  // Calls fn(slot) for every live slot whose record matches the filter (every live slot without
  // one), in ascending slot order, until fn returns false. Holds the index, slot-table, metadata
  // and metadata-index locks shared meanwhile, so fn may read the slot's id and metadata.
  // A document filter too (when not null) narrows them; a malformed one fails before any call.
  Status visit_matching(const Filter* filter, const DocumentFilter* document_filter,
                        const std::function<bool(Slot)>& fn) const;
  // Matching live records estimated from a fixed sample of slots (for filters the metadata
  // index cannot answer).
  std::size_t estimate_matches(const Filter& filter) const;
  // Turns pairs into results with ids, metadata and (when asked) documents, applying the
  // max_distance cut; caller holds the slot-table and metadata locks shared.
  std::vector<SearchResult> assemble(const std::vector<Candidate>& pairs, const SearchParams& params) const;
  // Replaces the metadata of a live slot in the table and the metadata index; caller holds
  // the metadata and metadata-index locks exclusively.
  void replace_metadata_locked(Slot slot, std::optional<Json> metadata);
  // Applies one decoded log record through the shared write steps, never appending to the log.
  void apply_wal_entry(WalEntry entry);
  // The read-only error when this database may not be written.
  std::optional<QuarnError> refuse_write() const;
  // The writes as logged and applied, before any sync the durability setting asks for; the
  // public writes of the same names run these and then commit().
  Status add_logged(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
                    std::optional<std::string> document);
  Status upsert_logged(const std::string& id, std::vector<float> vector, std::optional<Json> metadata,
                       std::optional<std::string> document);
  Status update_logged(const std::string& id, std::optional<std::vector<float>> vector, std::optional<Json> metadata,
                       DocumentChange document);
  Result<bool> remove_logged(const std::string& id);
  Status add_block_logged(ItemBlock block, const BatchOptions& options);
  Status upsert_block_logged(ItemBlock block, const BatchOptions& options);
  Result<std::size_t> delete_many_logged(const std::vector<std::string>& ids);
  Result<std::size_t> delete_where_logged(const Filter& filter);
  // Deletes the live ones of `ids` (each once) as one logged batch; caller holds id_map_lock_
  // exclusively.
  Result<std::size_t> delete_ids_held(const std::vector<std::string>& ids);
  // In sync mode, waits until every record logged so far is on the disk; otherwise nothing.
  Status commit();
  // Syncs the log (and its directory entry when the file is new); how many records that covers.
  Result<std::uint64_t> sync_log_now();

  // id_map_lock_ taken exclusively by a write or compaction, counted so that the next save lets
  // it in first.
  std::unique_lock<std::shared_mutex> lock_id_map_for_write();
  // One save under the locks; save() queues callers into it.
  Status save_locked();

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
  IdTable id_to_slot_;
  mutable std::shared_mutex slot_table_lock_;
  std::vector<std::string> slot_to_id_;
  // Guards the documents as well as the metadata: both are per-slot contents read and written
  // together.
  mutable std::shared_mutex metadata_lock_;
  std::vector<std::optional<Json>> metadata_;
  DocumentTable documents_;
  // The keyword index of the documents, the table's listener; guarded like them.
  KeywordMirror keyword_;
  mutable std::shared_mutex metadata_index_lock_;
  MetadataIndex metadata_index_;
  Storage storage_;
  mutable std::mutex wal_mutex_;
  Wal wal_;
  SaveQueue save_queue_;
  GroupSync group_sync_;
  Durability durability_ = Durability::Flush;
  WriterAdmission writer_admission_;
  std::size_t dim_;
  bool quantize_;
  bool read_only_ = false;
  std::vector<RecoveryNote> recovery_report_;
  // Open with an exclusive flock for a writer, closed for a read-only database.
  FileHandle writer_lock_;
};

}  // namespace quarn
