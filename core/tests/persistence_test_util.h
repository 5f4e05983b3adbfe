// Helpers for the snapshot, open, crash and damaged-file suites: opening through
// Database::open, reading whole database states, and writing snapshot files by hand.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "database_test_util.h"
#include "db/db_impl.h"
#include "distance/distance.h"
#include "quarn/json.h"

namespace quarn::testing {

namespace fs = std::filesystem;

inline OpenOptions create_options(std::uint64_t dim, const char* metric = nullptr, bool quantize = false) {
  OpenOptions o;
  o.dim = dim;
  if (metric != nullptr) o.metric = metric;
  o.quantize = quantize;
  return o;
}

inline OpenOptions open_only() { return OpenOptions{}; }

// Opens beside a writer that is still open: the state on the disk, nothing written or locked.
inline OpenOptions read_only() {
  OpenOptions o;
  o.read_only = true;
  return o;
}

using OpenOutcome = Result<std::unique_ptr<Database>>;

// Opens and fails the test (returning null) when the open fails.
inline std::unique_ptr<Database> open_ok(const std::string& path, const OpenOptions& options) {
  OpenOutcome outcome = Database::open(path, options);
  if (!outcome.ok()) {
    ADD_FAILURE() << "open of " << path << " failed: " << outcome.error().text();
    return nullptr;
  }
  return std::move(*outcome);
}

// The failure of an open that must fail.
inline QuarnError open_fails(const std::string& path, const OpenOptions& options) {
  OpenOutcome outcome = Database::open(path, options);
  if (!outcome.ok()) return std::move(outcome).error();
  ADD_FAILURE() << "open of " << path << " succeeded";
  return QuarnError::invalid_argument("<the open succeeded>");
}

// The start of the text of damage found in `file` of the database at `dir`.
inline std::string damage_in(const std::string& dir, const std::string& file) {
  return "corrupt data: " + dir + "/" + file + ": ";
}

// Text of an open's failure ("io error: ...").
inline std::string engine_text(const QuarnError& e) { return e.text(); }

inline std::vector<std::uint8_t> read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_bytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> hex(const std::string& text) {
  std::vector<std::uint8_t> out;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    out.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return out;
}

inline void copy_dir(const std::string& from, const std::string& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

// The records of a database: id -> (vector bits, metadata text or none, document or none).
struct RecordState {
  std::vector<float> vector;
  std::optional<std::string> metadata;  // compact JSON text
  std::optional<std::string> document;
  bool operator==(const RecordState& o) const {
    return vector.size() == o.vector.size() &&
           std::memcmp(vector.data(), o.vector.data(), vector.size() * sizeof(float)) == 0 && metadata == o.metadata &&
           document == o.document;
  }
};
using DbState = std::map<std::string, RecordState>;

inline RecordState record_state(const std::vector<float>& v, const std::optional<Json>& md,
                                std::optional<std::string> document = std::nullopt) {
  return RecordState{v, md ? std::optional<std::string>(json_dump(*md)) : std::nullopt, std::move(document)};
}

inline DbState read_state(const Database& db) {
  DbState out;
  for (const std::string& id : db.ids()) {
    auto got = db.get_record(id);
    if (!got.ok()) {
      ADD_FAILURE() << "get_record('" << id << "') failed: " << got.error().text();
      continue;
    }
    out[id] = record_state(got->vector, got->metadata, got->document);
  }
  return out;
}

inline std::string describe(const DbState& state) {
  std::string out;
  for (const auto& [id, r] : state) out += id + (r.metadata ? "=" + *r.metadata : "") + " ";
  return out;
}

// Little-endian floats of a file.
inline std::vector<float> read_floats(const std::string& path) {
  auto bytes = read_bytes(path);
  std::vector<float> out(bytes.size() / 4);
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 4);
  return out;
}

// Every norm stored in vectors.bin equals the norm recomputed from its vector.
inline void expect_norms_match_vectors(const std::string& vectors_path, std::size_t dim) {
  const std::vector<float> floats = read_floats(vectors_path);
  ASSERT_EQ(floats.size() % (dim + 1), 0u);
  const std::size_t n = floats.size() / (dim + 1);
  for (std::size_t s = 0; s < n; ++s) {
    const float expected = vector_norm(std::span<const float>(floats.data() + s * dim, dim));
    const float stored = floats[n * dim + s];
    EXPECT_EQ(std::memcmp(&expected, &stored, 4), 0) << "norm of slot " << s;
  }
}

// graph.quarn built field by field, for files the save never writes.
struct GraphFile {
  std::uint32_t magic = 0x48535747;
  std::uint32_t version = 2;
  std::uint32_t dim = 2;
  std::uint8_t metric = 1;
  std::uint32_t m = 16;
  std::uint32_t ef_construction = 200;
  std::uint32_t entry_point = 0xFFFFFFFF;
  std::uint32_t top_layer = 0;
  std::optional<std::uint32_t> node_count;     // default: nodes.size()
  std::optional<std::uint32_t> deleted_count;  // default: deleted.size()
  std::vector<std::uint32_t> deleted;
  std::vector<std::vector<std::vector<std::uint32_t>>> nodes;  // per node, per layer, neighbours
  std::uint32_t meta_magic = 0x4D455441;
  struct Record {
    std::uint32_t slot;
    std::string id;
    std::string json;
  };
  std::vector<Record> records;

  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> out;
    put_u32le(out, magic);
    put_u32le(out, version);
    put_u32le(out, dim);
    out.push_back(metric);
    for (std::uint32_t v : {m, ef_construction, entry_point, top_layer}) put_u32le(out, v);
    put_u32le(out, node_count.value_or(static_cast<std::uint32_t>(nodes.size())));
    put_u32le(out, deleted_count.value_or(static_cast<std::uint32_t>(deleted.size())));
    for (std::uint32_t s : deleted) put_u32le(out, s);
    for (const auto& node : nodes) {
      put_u32le(out, static_cast<std::uint32_t>(node.size()));
      for (const auto& layer : node) {
        put_u32le(out, static_cast<std::uint32_t>(layer.size()));
        for (std::uint32_t v : layer) put_u32le(out, v);
      }
    }
    put_u32le(out, meta_magic);
    put_u32le(out, static_cast<std::uint32_t>(records.size()));
    for (const Record& r : records) {
      put_u32le(out, r.slot);
      put_str(out, r.id);
      put_str(out, r.json);
    }
    return out;
  }

  // A consistent two-node graph: slots 0 and 1 linked on layer 0, ids "a" and "b".
  static GraphFile two_nodes() {
    GraphFile g;
    g.entry_point = 0;
    g.nodes = {{{1}}, {{0}}};
    g.records = {{0, "a", "{\"k\":1}"}, {1, "b", ""}};
    return g;
  }
};

// vectors.bin for n slots: slot s holds (s + 1, s + 1, ...), followed by the true norms.
inline std::vector<std::uint8_t> vectors_file(std::size_t n, std::size_t dim) {
  std::vector<float> floats;
  for (std::size_t s = 0; s < n; ++s) floats.insert(floats.end(), dim, static_cast<float>(s + 1));
  for (std::size_t s = 0; s < n; ++s) floats.push_back(vector_norm(std::span<const float>(floats.data() + s * dim, dim)));
  std::vector<std::uint8_t> out(floats.size() * 4);
  if (!out.empty()) std::memcpy(out.data(), floats.data(), out.size());
  return out;
}

// Writes graph.quarn and a matching vectors.bin into a directory.
inline void write_snapshot(const std::string& dir, const GraphFile& g) {
  fs::create_directories(dir);
  write_bytes(dir + "/graph.quarn", g.bytes());
  write_bytes(dir + "/vectors.bin", vectors_file(g.nodes.size(), g.dim));
}

}  // namespace quarn::testing
