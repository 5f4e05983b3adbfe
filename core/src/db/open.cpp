#include <chrono>
#include <limits>
#include <thread>

#include "db/db_impl.h"
#include "util/file.h"
#include "storage/keyword_settings.h"
#include "storage/manifest.h"
#include "storage/manifest_format.h"
#include "storage/snapshot_format.h"

namespace quarn {

namespace {

namespace fmt = snapshot_format;

constexpr char kBadMetric[] = "metric must be 'cosine', 'euclidean'/'l2', or 'dot'/'dot_product'";
// Held with flock by the one writer of a directory; never deleted, since removing a lock file
// races with a process that has just opened it.
constexpr char kWriterLockFile[] = "writer.lock";
constexpr std::size_t kDefaultM = 16;
constexpr std::size_t kDefaultEfConstruction = 200;
// The dimension is stored as a u32 in graph.quarn.
constexpr std::uint64_t kMaxDim = std::numeric_limits<std::uint32_t>::max();

QuarnError bad_parameter(std::string message) { return QuarnError::invalid_argument(std::move(message)); }

// The parameters of a database about to be created; nothing when they are acceptable.
std::optional<QuarnError> check_creation(const OpenOptions& options) {
  const std::uint64_t dim = *options.dim;
  if (dim == 0) return bad_parameter("dim must be at least 1");
  if (dim > kMaxDim) return bad_parameter("dim must be at most 4294967295");
  const std::uint64_t m = options.m.value_or(kDefaultM);
  // With m below 2 the level multiplier 1 / ln(m) is infinite or negative.
  if (m < fmt::kMinM) return bad_parameter("m must be at least 2");
  if (m > fmt::kMaxM) return bad_parameter("m must be at most " + std::to_string(fmt::kMaxM));
  const std::uint64_t ef = options.ef_construction.value_or(kDefaultEfConstruction);
  if (ef < fmt::kMinEfConstruction || ef > fmt::kMaxEfConstruction) {
    return bad_parameter("ef_construction must be between " + std::to_string(fmt::kMinEfConstruction) + " and " +
                         std::to_string(fmt::kMaxEfConstruction));
  }
  return std::nullopt;
}

// Which snapshot files a directory holds.
struct SnapshotFiles {
  bool graph = false;
  bool vectors = false;
  bool quantized = false;
  bool log = false;

  bool complete() const { return graph && vectors; }
  bool any_snapshot_file() const { return graph || vectors || quantized; }
};

Result<SnapshotFiles> find_files(const Storage& storage, const std::string& wal_path) {
  SnapshotFiles files;
  for (auto [path, flag] : {std::pair{&storage.graph_path, &files.graph}, std::pair{&storage.vectors_path, &files.vectors},
                            std::pair{&storage.quantized_path, &files.quantized}, std::pair{&wal_path, &files.log}}) {
    auto exists = file_exists(*path);
    if (!exists.ok()) return std::move(exists).error();
    *flag = *exists;
  }
  return files;
}

// A snapshot that lost graph.quarn (or vectors.bin) must not be taken for a new database: the
// first save of that one would overwrite the vectors that are left.
QuarnError incomplete_snapshot(const std::string& dir, const SnapshotFiles& files) {
  std::string present = files.vectors ? "vectors.bin" : (files.graph ? "graph.quarn" : "vectors.sq8");
  std::string missing = files.graph ? "vectors.bin" : "graph.quarn";
  return QuarnError::corrupt("incomplete snapshot in '" + dir + "': " + present + " is there but " + missing +
                             " is missing");
}

// The dimension of the vectors of a log, from its first Insert record or vector update.
std::optional<std::size_t> logged_dimension(const std::vector<WalEntry>& entries) {
  for (const WalEntry& entry : entries) {
    if (const auto* insert = std::get_if<WalInsert>(&entry)) return insert->vector.size();
    if (const auto* update = std::get_if<WalUpdate>(&entry); update != nullptr && update->vector) {
      return update->vector->size();
    }
  }
  return std::nullopt;
}

using ManifestRead = Result<std::optional<Manifest>>;

bool same_manifest(const ManifestRead& a, const ManifestRead& b) {
  if (a.ok() != b.ok()) return false;
  return a.ok() ? *a == *b : a.error().text() == b.error().text();
}

std::string base_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether this open keeps the rows on disk: the argument when given, else the directory's mode.
// A writer stores a given argument in the directory, as the marker file's presence.
Result<bool> settle_rows_mode(const std::string& dir, const OpenOptions& options) {
  const std::string marker = join_path(dir, fmt::kRowsOnDiskFile);
  auto stored = file_exists(marker);
  if (!stored.ok()) return std::move(stored).error();
  if (!options.vectors_in_memory.has_value()) return *stored;
  const bool on_disk = !*options.vectors_in_memory;
  if (options.read_only || on_disk == *stored) return on_disk;
  if (on_disk) {
    auto file = FileHandle::create_truncate(marker);
    if (!file.ok()) return std::move(file).error();
    QUARN_TRY(file->sync());
    QUARN_TRY(file->close());
  } else {
    QUARN_TRY(remove_file(marker));
  }
  QUARN_TRY(sync_directory(dir));
  return on_disk;
}

}  // namespace

Result<std::unique_ptr<Database>> DbImpl::open(const std::string& path,
                                                                 const OpenOptions& options) {
  const Storage storage = Storage::make(path);
  const std::string wal_path = join_path(path, wal_format::kFileName);
  const bool create = options.dim.has_value() && !options.read_only;
  // Keyword settings that could never be used are refused before anything is created.
  if (options.keyword) {
    auto usable = KeywordIndex::create(keyword_index_options(*options.keyword));
    if (!usable.ok()) return std::move(usable).error();
  }

  Metric metric = Metric::Cosine;
  if (create) {
    if (options.metric) {
      auto parsed = parse_metric(*options.metric);
      if (!parsed) return QuarnError::invalid_argument(kBadMetric);
      metric = *parsed;
    }
    auto dir_exists = file_exists(path);
    if (!dir_exists.ok()) return std::move(dir_exists).error();
    // A directory that does not exist yet can only be created: reject bad parameters before
    // making it.
    if (!*dir_exists) {
      if (auto error = check_creation(options)) return std::move(*error);
    }
    Status made = create_directories(path);
    if (!made.ok()) return std::move(made).error();
    if (!*dir_exists) {
      Status synced = sync_directory(parent_directory(path));
      if (!synced.ok()) return std::move(synced).error();
    }
  } else {
    // Opening only: nothing is created, not even the lock file, where no database is.
    auto found = find_files(storage, wal_path);
    if (!found.ok()) return std::move(found).error();
    if (!found->any_snapshot_file() && !found->log) return QuarnError::database_not_found(path);
  }

  FileHandle writer_lock;
  if (!options.read_only) {
    auto lock_file = FileHandle::open_lock_file(join_path(path, kWriterLockFile));
    if (!lock_file.ok()) return std::move(lock_file).error();
    auto locked = lock_file->try_lock_exclusive();
    if (!locked.ok()) return std::move(locked).error();
    if (!*locked) return QuarnError::locked(path);
    writer_lock = std::move(*lock_file);

    // Only the writer may finish another writer's interrupted save.
    Status finished = storage.finish_interrupted_save();
    if (!finished.ok()) return std::move(finished).error();
  }
  auto rows_mode = settle_rows_mode(path, options);
  if (!rows_mode.ok()) return std::move(rows_mode).error();
  const bool rows_on_disk = *rows_mode;

  // Loads the snapshot, checked against `manifest` (the directory's, read before), and replays
  // the log. Returns the database, or the failure.
  auto load = [&](const ManifestRead& manifest) -> Result<std::unique_ptr<Database>> {
    std::vector<RecoveryNote> notes;
    std::vector<QuarnError> tolerated;
    ManifestCheck check{nullptr, options.recover ? &tolerated : nullptr};
    if (manifest.ok() && manifest->has_value()) {
      check.manifest = &**manifest;
    } else if (!manifest.ok()) {
      if (!options.recover) return manifest.error();
      notes.push_back({manifest_format::kFileName, "checksum", 0, 0, 0, manifest.error().text() + "; not used"});
    }
    auto found = find_files(storage, wal_path);
    if (!found.ok()) return std::move(found).error();
    const SnapshotFiles files = *found;

    std::unique_ptr<DbImpl> db;
    bool write_creation_snapshot = false;
    // The keyword settings: the stored ones (defaults without keyword.json) for a database that
    // exists, which settings given at this open must equal; the given ones for a new one.
    auto stored = read_keyword_settings(path);
    if (!stored.ok()) return std::move(stored).error();
    KeywordSettings keyword_settings;
    if (*stored) {
      auto parsed = keyword_settings_from_json(**stored, join_path(path, keyword_settings_format::kFileName));
      if (!parsed.ok()) return std::move(parsed).error();
      keyword_settings = *parsed;
    }
    if (files.complete() && options.keyword && !(*options.keyword == keyword_settings)) {
      return QuarnError::invalid_argument("keyword settings " + describe(*options.keyword) +
                                          " differ from the database's " + describe(keyword_settings));
    }
    if (files.complete()) {
      // Rows kept on disk are searched by their codes, which a save then keeps in vectors.sq8.
      const bool quantize = (create && options.quantize) || files.quantized || rows_on_disk;
      auto loaded = storage.load(check, !rows_on_disk);
      if (!loaded.ok()) return std::move(loaded).error();
      for (const QuarnError& e : tolerated) {
        notes.push_back({base_name(e.file()), "checksum", 0, 0, 0, e.text() + "; used anyway"});
      }
      HnswIndex& index = *loaded->index;
      const std::size_t slots = index.node_count();
      const std::size_t dim = index.dim();
      db.reset(new DbImpl(storage, wal_path, std::move(loaded->index), dim, quantize));
      db->keyword_.reset(KeywordIndex::create(keyword_index_options(keyword_settings)).value());
      // The loader guarantees distinct ids and distinct live slots below the node count.
      db->id_to_slot_.reserve(loaded->records.size());
      db->slot_to_id_.assign(slots, std::string());
      db->metadata_.assign(slots, std::nullopt);
      for (MetaRecord& record : loaded->records) {
        db->id_to_slot_.insert_or_assign(record.id, record.slot);
        db->slot_to_id_[record.slot] = std::move(record.id);
        db->metadata_[record.slot] = std::move(record.metadata);
      }
      db->metadata_index_.rebuild(db->metadata_, db->index_->deleted());
      DocumentTable::Map documents;
      for (DocumentRecord& d : loaded->documents) {
        documents.emplace_hint(documents.end(), d.slot, std::move(d.document));
      }
      // The saved keyword index when it belongs to these documents; else it is rebuilt.
      if (auto saved = load_keyword_file(path, documents, keyword_index_options(keyword_settings))) {
        db->keyword_.preload(std::move(*saved));
      }
      db->documents_.replace_all(std::move(documents));
    } else if (files.any_snapshot_file()) {
      return incomplete_snapshot(path, files);
    } else if (create) {
      if (auto error = check_creation(options)) return std::move(*error);
      std::size_t dim = *options.dim;
      if (files.log) {
        // A log without a snapshot comes from a version that kept a database's parameters only in
        // memory until its first save. Its records carry the dimension, which wins over the
        // argument, so that none of them is skipped; the metric was never recorded.
        Wal old_log(wal_path);
        auto entries = old_log.read_all();
        if (!entries.ok()) return std::move(entries).error();
        if (auto logged = logged_dimension(*entries)) dim = *logged;
        if (dim == 0 || dim > kMaxDim) return QuarnError::corrupt("log holds empty vectors", wal_path);
      }
      db = create_empty(path, dim, metric, options.m.value_or(kDefaultM),
                        options.ef_construction.value_or(kDefaultEfConstruction), options.quantize || rows_on_disk);
      // Stored before the snapshot that makes the database exist; a file left by a creation
      // that died before its snapshot is replaced, or removed for the defaults.
      keyword_settings = options.keyword.value_or(KeywordSettings{});
      const bool defaults = keyword_settings == KeywordSettings{};
      Status stored_settings = write_keyword_settings(
          path, defaults ? std::nullopt : std::optional<Json>(keyword_settings_json(keyword_settings)));
      if (!stored_settings.ok()) return std::move(stored_settings).error();
      db->keyword_.reset(KeywordIndex::create(keyword_index_options(keyword_settings)).value());
      write_creation_snapshot = true;
    } else {
      return QuarnError::database_not_found(path);
    }
    db->read_only_ = options.read_only;
    db->durability_ = options.durability;
    db->writer_lock_ = std::move(writer_lock);
    db->recovery_report_ = std::move(notes);
    if (rows_on_disk) {
      // The rows move into files that take the writes to come (the log's, for a reader). A
      // reader that may not make the scratch file keeps the lazy map of vectors.bin, and rows
      // the log replays are then copied into memory.
      Status moved = db->index_->move_rows_to_disk(files.complete() ? storage.vectors_path : "", path);
      if (!moved.ok() && !options.read_only) return std::move(moved).error();
      if (!db->index_->has_quantized()) db->index_->enable_quantized_search();
    }

    Status replayed = db->replay_wal(options.recover);
    if (!replayed.ok()) return std::move(replayed).error();
    // A new database is saved at once, so that its parameters are on the disk from the start and
    // a later open, with or without them, finds the database as it was created.
    if (write_creation_snapshot) {
      Status saved = db->save();
      if (!saved.ok()) return std::move(saved).error();
    }
    return std::unique_ptr<Database>(std::move(db));
  };

  if (!options.read_only) return load(read_manifest(storage.manifest_path));
  // A reader is not excluded by the writer's lock: a save may rename its files while the reader
  // opens them, or delete the log before the reader reads it. A save's renames all happen while
  // manifest.tmp or graph.tmp stands, and it replaces the manifest after them (and graph.quarn
  // before), so a load is kept only when no save was renaming before or after it and the
  // manifest and graph.quarn are the same before and after it; otherwise it is tried again. A
  // save that died mid-way leaves its temporaries for the writer: the last attempt is kept.
  constexpr int kReaderAttempts = 200;
  auto save_renaming = [&] { return path_exists(storage.manifest_temp_path) || path_exists(storage.graph_temp_path); };
  for (int attempt = 1;; ++attempt) {
    const bool last = attempt == kReaderAttempts;
    if (!save_renaming() || last) {
      auto before = file_identity(storage.graph_path);
      ManifestRead manifest = read_manifest(storage.manifest_path);
      // A save that died after its renames left the manifest of its files as manifest.tmp.
      if (last && path_exists(storage.manifest_temp_path) && !path_exists(storage.graph_temp_path)) {
        auto result = load(read_manifest(storage.manifest_temp_path));
        if (result.ok()) return result;
      }
      auto result = load(manifest);
      auto after = file_identity(storage.graph_path);
      const bool stable = !save_renaming() && before.ok() && after.ok() && *before == *after &&
                          same_manifest(manifest, read_manifest(storage.manifest_path));
      if (stable || last) return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

Result<std::unique_ptr<Database>> Database::open(const std::string& path,
                                                                  const OpenOptions& options) {
  return DbImpl::open(path, options);
}

}  // namespace quarn
