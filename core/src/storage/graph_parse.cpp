#include "storage/graph_parse.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "quarn/json.h"
#include "storage/snapshot_format.h"
#include "util/utf8.h"

namespace quarn::storage_detail {

namespace fmt = snapshot_format;

static_assert(std::endian::native == std::endian::little, "graph.quarn words are read as they sit in memory");

namespace {

QuarnError invalid(std::string message) { return QuarnError::corrupt(std::move(message)); }

std::string out_of_range(const char* what, std::uint64_t slot, std::size_t node_count) {
  return std::string(what) + " " + std::to_string(slot) + " out of range for " + std::to_string(node_count) +
         " nodes";
}

// Reads the node records straight into the flat lists; every count is checked against the
// bytes left before anything is allocated for it.
Status parse_nodes(ByteReader& in, std::uint32_t n, ParsedGraph& g) {
  if (in.remaining() / fmt::kMinNodeRecord < n) return QuarnError::io_eof();
  GraphLinks& links = g.links;
  links.reserve(n);
  for (std::uint32_t s = 0; s < n; ++s) {
    auto layers = in.read_u32();
    if (!layers.ok()) return std::move(layers).error();
    if (*layers == 0 || *layers > fmt::kMaxLayerCount) {
      return invalid("node " + std::to_string(s) + " has an invalid layer count: " + std::to_string(*layers));
    }
    links.append(*layers - 1);
    for (std::uint32_t l = 0; l < *layers; ++l) {
      auto count = in.read_u32();
      if (!count.ok()) return std::move(count).error();
      if (in.remaining() / 4 < *count) return QuarnError::io_eof();
      if (*count > links.capacity(l)) {
        return invalid("node " + std::to_string(s) + " lists " + std::to_string(*count) + " neighbours on layer " +
                       std::to_string(l) + ", more than the " + std::to_string(links.capacity(l)) + " it can hold");
      }
      auto bytes = in.read_bytes(std::size_t{*count} * 4);
      if (!bytes.ok()) return std::move(bytes).error();
      Slot* words = links.raw(s, l);
      words[0] = *count;
      std::memcpy(words + 1, bytes->data(), bytes->size());
      for (std::uint32_t i = 1; i <= *count; ++i) {
        if (words[i] >= n) {
          return invalid("node " + std::to_string(s) + " lists " + out_of_range("neighbour slot", words[i], n));
        }
      }
    }
  }
  return Status::success();
}

// Reads `count` metadata records into `records`, checking each but for a repeated id; on a
// failure, `records` holds the records before the failing one.
Status parse_records(ByteReader& in, std::uint32_t count, std::size_t node_count,
                     const std::unordered_set<Slot>& deleted, std::vector<MetaRecord>& records) {
  std::vector<bool> seen_slots(node_count, false);
  for (std::uint32_t i = 0; i < count; ++i) {
    auto slot = in.read_u32();
    if (!slot.ok()) return std::move(slot).error();
    auto id_len = in.read_u32();
    if (!id_len.ok()) return std::move(id_len).error();
    auto id = in.read_bytes(*id_len);
    if (!id.ok()) return std::move(id).error();
    std::string utf8_error;
    if (!is_valid_utf8(*id, &utf8_error)) return invalid(utf8_error);
    auto json_len = in.read_u32();
    if (!json_len.ok()) return std::move(json_len).error();
    auto json = in.read_bytes(*json_len);
    if (!json.ok()) return std::move(json).error();

    if (*slot >= node_count) return invalid(out_of_range("metadata record slot", *slot, node_count));
    if (deleted.count(*slot) != 0) return invalid("metadata record for deleted slot " + std::to_string(*slot));
    if (seen_slots[*slot]) return invalid("duplicate metadata record for slot " + std::to_string(*slot));
    seen_slots[*slot] = true;

    MetaRecord& record = records.emplace_back();
    record.id.assign(reinterpret_cast<const char*>(id->data()), id->size());
    record.slot = *slot;
    // Empty or unparsable JSON leaves the record without metadata.
    if (*json_len != 0) {
      JsonParse parsed = json_parse(std::string_view(reinterpret_cast<const char*>(json->data()), json->size()));
      record.metadata = std::move(parsed.value);
    }
  }
  return Status::success();
}

// The first record whose id an earlier record has, or nothing. Open addressing over record
// indices; a cell keeps the upper half of the id's hash beside the index, so that a probe
// compares ids only when those agree. The hashes are taken first, so that the cell of a
// record some way ahead can be fetched while this one is placed.
std::optional<std::size_t> first_repeated_id(const std::vector<MetaRecord>& records) {
  constexpr std::uint64_t kLow = 0xFFFFFFFF;
  // No cell holds it: its index would be the last of 2^32 records, more than a section holds.
  constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
  constexpr std::size_t kAhead = 16;
  const std::size_t n = records.size();
  std::vector<std::uint64_t> hashes(n);
  for (std::size_t i = 0; i < n; ++i) hashes[i] = std::hash<std::string_view>{}(records[i].id);
  std::size_t capacity = 16;
  while (capacity < n + n / 2) capacity *= 2;
  const std::size_t mask = capacity - 1;
  std::vector<std::uint64_t> cells(capacity, kEmpty);
  for (std::size_t i = 0; i < n; ++i) {
    if (i + kAhead < n) __builtin_prefetch(&cells[hashes[i + kAhead] & mask], 1);
    const std::uint64_t tag = hashes[i] & ~kLow;
    for (std::size_t c = hashes[i] & mask;; c = (c + 1) & mask) {
      const std::uint64_t cell = cells[c];
      if (cell == kEmpty) {
        cells[c] = tag | i;
        break;
      }
      if ((cell & ~kLow) == tag && records[cell & kLow].id == records[i].id) return i;
    }
  }
  return std::nullopt;
}

}  // namespace

Result<ParsedGraph> parse_graph(ByteReader& in) {
  ParsedGraph g;
  auto magic = in.read_u32();
  if (!magic.ok()) return std::move(magic).error();
  if (*magic != fmt::kGraphMagic) return invalid("bad graph magic");
  auto version = in.read_u32();
  if (!version.ok()) return std::move(version).error();
  if (*version != fmt::kGraphVersion) return invalid("unsupported graph version: " + std::to_string(*version));
  auto dim = in.read_u32();
  if (!dim.ok()) return std::move(dim).error();
  auto metric = in.read_u8();
  if (!metric.ok()) return std::move(metric).error();
  if (*metric >= 3) return invalid("unknown metric: " + std::to_string(*metric));

  std::uint32_t fields[6];  // m, ef_construction, entry point, top layer, N, D
  for (std::uint32_t& f : fields) {
    auto v = in.read_u32();
    if (!v.ok()) return std::move(v).error();
    f = *v;
  }
  g.dim = *dim;
  g.metric = static_cast<Metric>(*metric);
  g.m = fields[0];
  g.ef_construction = fields[1];
  g.entry_point = fields[2];
  g.top_layer = fields[3];
  const std::uint32_t n = fields[4];
  const std::uint32_t d = fields[5];
  if (g.dim == 0) return invalid("graph dimension is 0");
  if (g.m < fmt::kMinM || g.m > fmt::kMaxM) {
    return invalid("graph m is " + std::to_string(g.m) + ", outside " + std::to_string(fmt::kMinM) + ".." +
                   std::to_string(fmt::kMaxM));
  }
  if (g.ef_construction < fmt::kMinEfConstruction || g.ef_construction > fmt::kMaxEfConstruction) {
    return invalid("graph ef_construction is " + std::to_string(g.ef_construction) + ", outside " +
                   std::to_string(fmt::kMinEfConstruction) + ".." + std::to_string(fmt::kMaxEfConstruction));
  }

  if (in.remaining() / 4 < d) return QuarnError::io_eof();
  for (std::uint32_t i = 0; i < d; ++i) {
    const Slot s = *in.read_u32();
    if (s >= n) return invalid(out_of_range("deleted slot", s, n));
    g.deleted.insert(s);
  }

  g.links = GraphLinks(g.m);
  QUARN_TRY(parse_nodes(in, n, g));

  if (n == 0) {
    if (g.entry_point != kNoEntryPoint) return invalid(out_of_range("entry point", g.entry_point, 0));
    if (g.top_layer != 0) return invalid("empty graph with top layer " + std::to_string(g.top_layer));
  } else {
    if (g.entry_point >= n) return invalid(out_of_range("entry point", g.entry_point, n));
    const std::size_t level = g.links.level(g.entry_point);
    if (g.top_layer != level) {
      return invalid("top layer " + std::to_string(g.top_layer) + " does not match the entry point's level " +
                     std::to_string(level));
    }
  }
  return g;
}

Result<std::vector<MetaRecord>> parse_metadata_section(ByteReader& in, std::size_t node_count,
                                                       const std::unordered_set<Slot>& deleted) {
  auto magic = in.read_u32();
  if (!magic.ok()) return std::move(magic).error();
  if (*magic != fmt::kMetaMagic) return invalid("bad metadata section magic");
  auto count = in.read_u32();
  if (!count.ok()) return std::move(count).error();
  if (in.remaining() / fmt::kMinMetaRecord < *count) return QuarnError::io_eof();

  std::vector<MetaRecord> records;
  records.reserve(*count);
  // The check for repeated ids runs last, over the records before any failure, and so reports
  // the failure that a check record by record would report first.
  Status parsed = parse_records(in, *count, node_count, deleted, records);
  if (auto repeated = first_repeated_id(records)) {
    return invalid("duplicate metadata record for id '" + records[*repeated].id + "'");
  }
  if (!parsed.ok()) return std::move(parsed).error();
  return records;
}

std::vector<Slot> unnamed_live_slots(std::size_t node_count, const std::unordered_set<Slot>& deleted,
                                     const std::vector<MetaRecord>& records) {
  // The records name distinct live slots, so when there are as many as live slots they name all.
  if (records.size() + deleted.size() == node_count) return {};
  std::vector<bool> named(node_count, false);
  for (const MetaRecord& r : records) named[r.slot] = true;
  std::vector<Slot> out;
  for (std::size_t s = 0; s < node_count; ++s) {
    if (!named[s] && deleted.count(static_cast<Slot>(s)) == 0) out.push_back(static_cast<Slot>(s));
  }
  return out;
}

}  // namespace quarn::storage_detail
