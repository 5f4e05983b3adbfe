#include <limits>

#include "quarn/database.h"
#include "quarn/io.h"

namespace quarn {

namespace {

constexpr char kBadMetric[] = "metric must be 'cosine', 'euclidean'/'l2', or 'dot'/'dot_product'";
constexpr std::size_t kDefaultM = 16;
constexpr std::size_t kDefaultEfConstruction = 200;
// Every parameter is stored as a u32 in graph.quarn.
constexpr std::uint64_t kMaxStored = std::numeric_limits<std::uint32_t>::max();

OpenError engine_error(QuarnError error) { return OpenError{OpenError::Kind::Engine, error.text(), std::move(error)}; }

OpenError bad_parameter(std::string message) {
  return OpenError{OpenError::Kind::BadParameter, std::move(message), std::nullopt};
}

// The parameters of a database about to be created; nothing when they are acceptable.
std::optional<OpenError> check_creation(const OpenOptions& options) {
  const std::uint64_t dim = *options.dim;
  if (dim == 0) return bad_parameter("dim must be at least 1");
  if (dim > kMaxStored) return bad_parameter("dim must be at most 4294967295");
  const std::uint64_t m = options.m.value_or(kDefaultM);
  // With m below 2 the level multiplier 1 / ln(m) is infinite or negative.
  if (m < 2) return bad_parameter("m must be at least 2");
  if (m > kMaxStored) return bad_parameter("m must be at most 4294967295");
  if (options.ef_construction.value_or(kDefaultEfConstruction) > kMaxStored) {
    return bad_parameter("ef_construction must be at most 4294967295");
  }
  return std::nullopt;
}

}  // namespace

std::variant<std::unique_ptr<Database>, OpenError> Database::open(const std::string& path,
                                                                 const OpenOptions& options) {
  const Storage storage = Storage::make(path);
  const std::string wal_path = join_path(path, wal_format::kFileName);
  const bool create = options.dim.has_value();

  Metric metric = Metric::Cosine;
  if (create) {
    if (options.metric) {
      auto parsed = parse_metric(*options.metric);
      if (!parsed) return OpenError{OpenError::Kind::BadMetric, kBadMetric, std::nullopt};
      metric = *parsed;
    }
    // A directory that does not exist yet can only be created: reject bad parameters before
    // making it.
    if (!path_exists(path)) {
      if (auto error = check_creation(options)) return *error;
    }
    Status made = create_directories(path);
    if (!made.ok()) return engine_error(std::move(made).error());
  }

  Status finished = storage.finish_interrupted_save();
  if (!finished.ok()) return engine_error(std::move(finished).error());

  std::unique_ptr<Database> db;
  if (storage.snapshot_present()) {
    const bool quantize = (create && options.quantize) || path_exists(storage.quantized_path);
    auto loaded = storage.load();
    if (!loaded.ok()) return engine_error(std::move(loaded).error());
    HnswIndex& index = *loaded->index;
    const std::size_t slots = index.node_count();
    const std::size_t dim = index.dim();
    db.reset(new Database(storage, wal_path, std::move(loaded->index), dim, quantize));
    // The loader guarantees distinct ids and distinct live slots below the node count.
    db->id_to_slot_.reserve(loaded->records.size());
    db->slot_to_id_.assign(slots, std::string());
    db->metadata_.assign(slots, std::nullopt);
    for (MetaRecord& record : loaded->records) {
      db->id_to_slot_.emplace(record.id, record.slot);
      db->slot_to_id_[record.slot] = std::move(record.id);
      db->metadata_[record.slot] = std::move(record.metadata);
    }
    db->metadata_index_.rebuild(db->metadata_, db->index_->deleted());
  } else if (create) {
    if (auto error = check_creation(options)) return *error;
    db = create_empty(path, *options.dim, metric, options.m.value_or(kDefaultM),
                      options.ef_construction.value_or(kDefaultEfConstruction), options.quantize);
  } else {
    return engine_error(QuarnError::database_not_found(path));
  }

  // A log found without a snapshot belongs to a database that was written and never saved:
  // it is replayed onto the empty database like any other.
  Status replayed = db->replay_wal();
  if (!replayed.ok()) return engine_error(std::move(replayed).error());
  return db;
}

}  // namespace quarn
