// Writes seed corpora for the fuzz targets, produced by the engine's own writers:
//   make_seeds <out>  ->  <out>/snapshot, <out>/wal, <out>/json, <out>/filter
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <variant>
#include <vector>

#include "db/db_impl.h"
#include "quarn/json.h"
#include "wal/wal.h"

namespace fs = std::filesystem;
using namespace quarn;

namespace {

std::vector<std::uint8_t> slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put(const fs::path& dir, const std::string& name, const std::vector<std::uint8_t>& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void put_text(const fs::path& dir, const std::string& name, const std::string& text) {
  put(dir, name, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void append_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void append(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

Json J(const char* text) { return *json_parse(text).value; }

std::unique_ptr<Database> open_new(const fs::path& dir, std::uint64_t dim, const char* metric, bool quantize) {
  fs::remove_all(dir);
  OpenOptions o;
  o.dim = dim;
  o.metric = metric;
  o.quantize = quantize;
  o.m = 4;
  o.ef_construction = 32;
  auto outcome = Database::open(dir.string(), o);
  if (!outcome.ok()) {
    std::fprintf(stderr, "open failed: %s\n", outcome.error().text().c_str());
    std::exit(1);
  }
  return std::move(*outcome);
}

// Adds, upserts, updates and deletes with a fixed seed, so that both a snapshot and a log
// hold every kind of record.
void write_mix(Database& db, std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> value(-1.0f, 1.0f);
  const Json metas[] = {J(R"({"a":1,"tag":"x"})"), J(R"({"a":2.5,"b":[1,2],"tag":"y"})"), J(R"({"c":null,"d":true})"),
                        J(R"({"nested":{"k":"v"},"a":-3})"), J(R"({"s":"\u00e9\ud83d\ude00"})")};
  auto vec = [&] {
    std::vector<float> v(db.dim());
    for (float& x : v) x = value(rng);
    return v;
  };
  for (std::size_t i = 0; i < n; ++i) {
    const std::string id = "id" + std::to_string(i);
    std::optional<Json> meta;
    if (i % 3 != 0) meta = metas[i % std::size(metas)];
    (void)db.add(id, vec(), meta);
  }
  std::vector<Item> batch;
  for (std::size_t i = 0; i < 4; ++i) batch.push_back(Item{"batch" + std::to_string(i), vec(), metas[i]});
  (void)db.add_many(std::move(batch));
  (void)db.upsert("id1", vec(), J(R"({"tag":"z"})"));
  (void)db.update("id2", std::nullopt, J(R"({"a":7})"));
  (void)db.update("id4", vec(), std::nullopt);
  if (n > 5) (void)db.remove("id5");
  (void)db.remove("batch0");
}

void snapshot_seeds(const fs::path& work, const fs::path& out) {
  struct Case {
    const char* name;
    std::size_t n;
    const char* metric;
    bool quantize;
    bool compact;
  };
  const Case cases[] = {{"empty", 0, "cosine", false, false},   {"small_l2", 8, "l2", false, false},
                        {"layers_cos", 60, "cosine", false, false}, {"quantized_dot", 30, "dot", true, false},
                        {"compacted", 40, "l2", true, true}};
  for (const Case& c : cases) {
    const fs::path dir = work / c.name;
    auto db = open_new(dir, 4, c.metric, c.quantize);
    if (c.n > 0) write_mix(*db, c.n, 7);
    if (c.compact) db->compact();
    if (!db->save().ok()) std::exit(1);
    db.reset();
    const auto graph = slurp(dir / "graph.quarn");
    const auto vectors = slurp(dir / "vectors.bin");
    const auto quantized = fs::exists(dir / "vectors.sq8") ? slurp(dir / "vectors.sq8") : std::vector<std::uint8_t>{};
    for (std::uint8_t flags : {std::uint8_t{0}, std::uint8_t{1}, std::uint8_t{2}, std::uint8_t{4}}) {
      if ((flags & 2) != 0 && quantized.empty()) continue;
      std::vector<std::uint8_t> seed{flags};
      append_u32(seed, static_cast<std::uint32_t>(graph.size()));
      append(seed, graph);
      append_u32(seed, static_cast<std::uint32_t>(quantized.size()));
      append(seed, quantized);
      append(seed, vectors);
      put(out, std::string(c.name) + "_" + std::to_string(flags), seed);
    }
  }
}

void wal_seeds(const fs::path& work, const fs::path& out) {
  const fs::path dir = work / "wal";
  auto db = open_new(dir, 4, "l2", false);
  write_mix(*db, 12, 11);
  db.reset();  // never saved: everything stays in the log
  const auto log = slurp(dir / wal_format::kFileName);
  std::vector<std::uint8_t> file_seed{1};
  append(file_seed, log);
  put(out, "file", file_seed);
  std::vector<std::uint8_t> replay_seed{2, 3};
  append(replay_seed, log);
  put(out, "replay", replay_seed);
  // A torn last record.
  std::vector<std::uint8_t> torn(replay_seed.begin(), replay_seed.end() - 3);
  put(out, "replay_torn", torn);

  const WalEntry entries[] = {
      WalInsert{"a", {1.0f, 2.0f, 3.0f, 4.0f}, J(R"({"k":[1,{"x":null}]})")},
      WalInsert{"b", {0.5f, -0.5f, 0.0f, 1e30f}, std::nullopt},
      WalDelete{"a"},
      WalUpdate{"b", std::vector<float>{1, 1, 1, 1}, std::optional<std::optional<Json>>(std::optional<Json>())},
      WalUpdate{"b", std::nullopt, std::optional<std::optional<Json>>(J(R"({"t":1.5})"))},
  };
  int i = 0;
  for (const WalEntry& e : entries) {
    const auto frame = encode_wal_entry(e);
    // Mode 0 takes the type byte and the bare payload.
    std::vector<std::uint8_t> seed{0, frame[0]};
    seed.insert(seed.end(), frame.begin() + 5, frame.end() - 4);
    put(out, "payload" + std::to_string(i++), seed);
  }
}

void json_seeds(const fs::path& out) {
  const char* texts[] = {
      "null", "true", "0", "-0", "-0.0", "1.5e300", "18446744073709551615", "18446744073709551616",
      "-9223372036854775808", "-9223372036854775809", "1e-320", R"("\u00e9\ud83d\ude00\n\"")",
      R"({"b":[1,2,{"c":null}],"a":"x"})", "[[[[[]]]]]", R"({"a":1,"a":2})", " [1, 2.0, \"3\"] ",
  };
  int i = 0;
  for (const char* t : texts) put_text(out, "json" + std::to_string(i++), t);
}

void filter_seeds(const fs::path& out) {
  const std::string records =
      R"([{"a":1,"tag":"x"},{"a":2.5,"tag":"y","b":true},null,{"a":-1,"c":null},{"tag":"x","a":1.0},)"
      R"({"n":[1,2]},{"a":0,"b":false},5])";
  const char* filters[] = {
      R"({"tag":"x"})",
      R"({"a":{"$gt":0}})",
      R"({"a":{"$gte":1,"$lt":3},"tag":{"$ne":"y"}})",
      R"({"tag":{"$in":["x","y",null]}})",
      R"({"c":null})",
      R"({"b":{"$in":[true,1]}})",
      R"({"$and":[{"tag":"x"},{"a":{"$lte":1}}]})",
      R"({})",
      R"({"n":[1,2]})",
      R"({"a":-0.0})",
  };
  int i = 0;
  for (const char* f : filters) put_text(out, "filter" + std::to_string(i++), records + "\n" + f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output directory>\n", argv[0]);
    return 2;
  }
  const fs::path out = argv[1];
  const fs::path work = out / "work";
  fs::create_directories(work);
  snapshot_seeds(work, out / "snapshot");
  wal_seeds(work, out / "wal");
  json_seeds(out / "json");
  filter_seeds(out / "filter");
  fs::remove_all(work);
  return 0;
}
