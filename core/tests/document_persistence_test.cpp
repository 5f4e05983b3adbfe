// Documents kept with their records: through every write, log replay, save and reopen and
// compaction (checked against a model of the records), in documents.bin (checked against bytes
// built by hand, and refused when damaged), in search results, and towards a DocumentListener.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "persistence_test_util.h"
#include "storage/documents_format.h"

namespace quarn::testing {
namespace {

constexpr std::size_t kDim = 4;

using Docs = std::map<std::string, std::optional<std::string>>;

// Every live id with its document, read through get_record.
Docs read_docs(const Database& db) {
  Docs out;
  for (const std::string& id : db.ids()) {
    auto record = db.get_record(id);
    if (!record.ok()) {
      ADD_FAILURE() << record.error().text();
      continue;
    }
    out[id] = record->document;
  }
  return out;
}

// A fixed-seed stream of writes of every kind, applied to the database and to a model.
void random_writes(Database& db, Docs& model, std::uint32_t seed, int count) {
  std::mt19937 rng(seed);
  auto id = [&] { return "r" + std::to_string(rng() % 40); };
  auto vec = [&] {
    std::vector<float> v(kDim);
    for (float& x : v) x = static_cast<float>(rng() % 1000) / 100.0f;
    return v;
  };
  auto doc = [&]() -> std::optional<std::string> {
    if (rng() % 3 == 0) return std::nullopt;
    return "doc " + std::to_string(rng() % 1000) + " \xE2\x82\xAC";
  };
  for (int step = 0; step < count; ++step) {
    const std::string a = id();
    switch (rng() % 8) {
      case 0: {
        auto d = doc();
        if (db.add(a, vec(), std::nullopt, d).ok()) model[a] = d;
        break;
      }
      case 1: {
        auto d = doc();
        ASSERT_TRUE(db.upsert(a, vec(), std::nullopt, d).ok());
        model[a] = d;
        break;
      }
      case 2: {  // update: keep, clear or set
        const unsigned how = rng() % 3;
        DocumentChange change;
        if (how == 1) change.emplace();
        if (how == 2) change.emplace("updated " + std::to_string(step));
        const bool live = model.count(a) != 0;
        EXPECT_EQ(db.update(a, std::nullopt, J("{}"), change).ok(), live);
        if (live && change) model[a] = *change;
        break;
      }
      case 3:
        (void)db.remove(a);
        model.erase(a);
        break;
      case 4: {
        std::vector<Item> items;
        for (int i = 0; i < 3; ++i) items.push_back({id(), vec(), std::nullopt, doc()});
        ASSERT_TRUE(db.upsert_many(items).ok());
        for (const Item& it : items) model[it.id] = it.document;
        break;
      }
      case 5: {
        std::vector<Item> items;
        for (int i = 0; i < 3; ++i) items.push_back({"n" + std::to_string(seed) + "_" + std::to_string(step) + "_" + std::to_string(i), vec(),
                                                     std::nullopt, doc()});
        ASSERT_TRUE(db.add_many(items).ok());
        for (const Item& it : items) model[it.id] = it.document;
        break;
      }
      case 6:
        (void)db.update(a, vec(), std::nullopt);  // a vector alone keeps the document
        break;
      default: {
        std::vector<std::string> ids = {id(), id()};
        ASSERT_TRUE(db.delete_many(ids).ok());
        for (const auto& d : ids) model.erase(d);
        break;
      }
    }
  }
}

TEST(DocumentPersistence, DocumentsFollowTheModelThroughReplaySaveReopenAndCompaction) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    TempDir dir;
    Docs model;
    auto db = open_ok(dir.path(), create_options(kDim, "l2"));
    random_writes(*db, model, seed, 200);
    ASSERT_EQ(read_docs(*db), model);

    db.reset();  // replay of the log alone
    db = open_ok(dir.path(), open_only());
    ASSERT_EQ(read_docs(*db), model) << "after replay";
    ASSERT_EQ(db->check_invariants(), std::nullopt);

    ASSERT_TRUE(db->save().ok());
    random_writes(*db, model, seed + 100, 100);  // a snapshot with a log on top
    db.reset();
    db = open_ok(dir.path(), open_only());
    ASSERT_EQ(read_docs(*db), model) << "after save, writes and reopen";

    ASSERT_TRUE(db->compact().ok());
    ASSERT_EQ(read_docs(*db), model) << "after compaction";
    ASSERT_EQ(db->check_invariants(), std::nullopt);
    random_writes(*db, model, seed + 200, 50);
    db.reset();  // the log written before and after compaction replays over the old snapshot
    db = open_ok(dir.path(), open_only());
    ASSERT_EQ(read_docs(*db), model) << "after compaction and replay";
    ASSERT_TRUE(db->compact().ok());
    ASSERT_TRUE(db->save().ok());
    db.reset();
    db = open_ok(dir.path(), open_only());
    ASSERT_EQ(read_docs(*db), model) << "after compaction, save and reopen";
    ASSERT_EQ(db->check_invariants(), std::nullopt);
  }
}

TEST(DocumentPersistence, FailedLogAppendLeavesNoDocumentBehind) {
  TempDir dir;
  auto db = make_db(dir, 1);
  ASSERT_TRUE(db->add("a", {1.0f}, std::nullopt, std::string("kept")).ok());
  const auto log_before = dir.wal_bytes();
  // The batch frame is written, its first record is not.
  int writes = 0;
  set_file_fault_hook([&](FileOp op, const std::string& path, const std::string&) {
    return op == FileOp::Write && path == dir.wal_path() && ++writes > 1 ? EIO : 0;
  });
  std::vector<Item> items = {{"a", {2.0f}, std::nullopt, std::string("new")}, {"b", {3.0f}, std::nullopt, std::string("b")}};
  EXPECT_FALSE(db->upsert_many(items).ok());
  EXPECT_FALSE(db->update("a", std::nullopt, std::nullopt, DocumentChange(std::in_place)).ok());
  set_file_fault_hook({});
  EXPECT_EQ(read_docs(*db), (Docs{{"a", "kept"}}));
  EXPECT_EQ(dir.wal_bytes(), log_before);
}

// ---- documents.bin ----

std::vector<std::uint8_t> documents_file(std::uint32_t slots,
                                         const std::vector<std::tuple<std::uint32_t, std::string, std::string>>& rs) {
  std::vector<std::uint8_t> out;
  for (std::uint32_t v : {documents_format::kMagic, documents_format::kVersion, slots, static_cast<std::uint32_t>(rs.size())}) {
    put_u32le(out, v);
  }
  for (const auto& [slot, id, doc] : rs) {
    put_u32le(out, slot);
    put_str(out, id);
    put_str(out, doc);
  }
  put_u32le(out, static_cast<std::uint32_t>(::crc32(0L, out.data(), static_cast<uInt>(out.size()))));
  return out;
}

TEST(DocumentsFile, WrittenOnlyWhileALiveRecordHasADocumentInTheDocumentedLayout) {
  TempDir dir;
  const std::string path = dir.path() + "/documents.bin";
  auto db = open_ok(dir.path(), create_options(2, "l2"));
  ASSERT_TRUE(db->add("a", {1.0f, 0.0f}, std::nullopt).ok());
  ASSERT_TRUE(db->save().ok());
  EXPECT_FALSE(fs::exists(path)) << "a database without documents writes no documents.bin";

  ASSERT_TRUE(db->add("bb", {0.0f, 1.0f}, std::nullopt, std::string("hi")).ok());
  ASSERT_TRUE(db->add("c", {1.0f, 1.0f}, std::nullopt, std::string("")).ok());
  ASSERT_TRUE(db->save().ok());
  EXPECT_EQ(read_bytes(path), documents_file(3, {{1, "bb", "hi"}, {2, "c", ""}}));

  ASSERT_TRUE(*db->remove("c"));
  ASSERT_TRUE(db->save().ok());
  EXPECT_EQ(read_bytes(path), documents_file(3, {{1, "bb", "hi"}})) << "a deleted record's document is gone";

  ASSERT_TRUE(db->update("bb", std::nullopt, std::nullopt, DocumentChange(std::optional<std::string>())).ok());
  ASSERT_TRUE(db->save().ok());
  EXPECT_FALSE(fs::exists(path)) << "the last document cleared removes the file";
  db.reset();
  EXPECT_EQ(read_docs(*open_ok(dir.path(), open_only())), (Docs{{"a", std::nullopt}, {"bb", std::nullopt}}));
}

TEST(DocumentsFile, DamagedOrForeignFileFailsTheOpenNamingIt) {
  TempDir dir;
  auto db = open_ok(dir.path(), create_options(2, "l2"));
  ASSERT_TRUE(db->add("a", {1.0f, 0.0f}, std::nullopt, std::string("one")).ok());
  ASSERT_TRUE(db->add("b", {0.0f, 1.0f}, std::nullopt).ok());
  ASSERT_TRUE(db->save().ok());
  db.reset();
  const std::string path = dir.path() + "/documents.bin";
  const auto good = read_bytes(path);
  auto flipped = good;
  flipped[20] ^= 1;
  auto cut = good;
  cut.resize(cut.size() - 3);
  const std::vector<std::pair<std::vector<std::uint8_t>, std::string>> cases = {
      {flipped, "checksum mismatch"},
      {cut, "checksum mismatch"},
      {std::vector<std::uint8_t>(good.begin(), good.begin() + 10), "shorter than its header"},
      {documents_file(3, {{0, "a", "one"}}), "written for 3 slots, the graph has 2"},
      {documents_file(2, {{0, "b", "one"}}), "slot 0 does not hold the record of the document"},
      {documents_file(2, {{1, "b", "x"}, {0, "a", "y"}}), "record 1 names slot 0 out of order or range"},
      {documents_file(2, {{0, "a", "\xC0\x80"}}), "the document of slot 0 is not UTF-8"},
  };
  for (const auto& [bytes, reason] : cases) {
    write_bytes(path, bytes);
    EXPECT_EQ(engine_text(open_fails(dir.path(), open_only())), damage_in(dir.path(), "documents.bin") + reason);
  }
  write_bytes(path, good);
  EXPECT_EQ(read_docs(*open_ok(dir.path(), open_only())), (Docs{{"a", "one"}, {"b", std::nullopt}}));
}

// ---- reads ----

TEST(DocumentReads, SearchesReturnDocumentsOnlyWhenAsked) {
  TempDir dir;
  auto db = make_db(dir, 2);
  ASSERT_TRUE(db->add("a", {0.0f, 0.0f}, J("{\"t\":1}"), std::string("alpha")).ok());
  ASSERT_TRUE(db->add("b", {1.0f, 0.0f}, J("{\"t\":1}")).ok());
  const Filter filter = Filter::eq("t", J("1"));
  for (const Filter* f : {static_cast<const Filter*>(nullptr), static_cast<const Filter*>(&filter)}) {
    SearchParams p = top(2, f);
    auto plain = db->search(std::vector<float>{0.0f, 0.0f}, p);
    ASSERT_TRUE(plain.ok());
    ASSERT_EQ(plain->size(), 2u);
    EXPECT_EQ((*plain)[0].document, std::nullopt);
    p.include_documents = true;
    for (const auto& hits : {*db->search(std::vector<float>{0.0f, 0.0f}, p),
                             (*db->search_many({{0.0f, 0.0f}}, p))[0]}) {
      ASSERT_EQ(hits.size(), 2u);
      EXPECT_EQ(hits[0].id, "a");
      EXPECT_EQ(hits[0].document, std::optional<std::string>("alpha"));
      EXPECT_EQ(hits[1].document, std::nullopt);
    }
  }
}

// ---- the listener seam ----

// Mirrors the documents by slot from what it is told.
class Mirror : public DocumentListener {
 public:
  void document_changed(Slot slot, const std::string* before, const std::string* after) override {
    auto it = docs.find(slot);
    const std::string* held = it == docs.end() ? nullptr : &it->second;
    if ((held == nullptr) != (before == nullptr) || (held != nullptr && *held != *before)) ++mismatched_before;
    if (after != nullptr) {
      docs[slot] = *after;
    } else {
      docs.erase(slot);
    }
  }
  void documents_replaced(const DocumentTable& table) override { docs = table.entries(); }

  DocumentTable::Map docs;
  int mismatched_before = 0;
};

DocumentTable::Map docs_by_slot(const Database& db) {
  DocumentTable::Map out;
  for (const std::string& id : db.ids()) {
    if (auto d = db.get_record(id)->document) out[*db.slot_of(id)] = *d;
  }
  return out;
}

TEST(DocumentListenerSeam, AListenerIsToldEnoughToMirrorTheDocumentsThroughWritesAndCompaction) {
  TempDir dir;
  auto opened = open_ok(dir.path(), create_options(kDim, "l2"));
  auto& db = dynamic_cast<DbImpl&>(*opened);
  Docs model;
  random_writes(db, model, 7, 60);
  Mirror mirror;
  db.set_document_listener(&mirror);
  EXPECT_EQ(mirror.docs, docs_by_slot(db)) << "attached: told the current documents";
  random_writes(db, model, 8, 200);
  EXPECT_EQ(mirror.docs, docs_by_slot(db));
  ASSERT_TRUE(db.compact().ok());
  EXPECT_EQ(mirror.docs, docs_by_slot(db)) << "after compaction renumbered the slots";
  random_writes(db, model, 9, 100);
  EXPECT_EQ(mirror.docs, docs_by_slot(db));
  EXPECT_EQ(mirror.mismatched_before, 0) << "every change named the document it replaced";
  db.set_document_listener(nullptr);
}

}  // namespace
}  // namespace quarn::testing
