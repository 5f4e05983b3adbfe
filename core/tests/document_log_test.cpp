// Documents in the log and at the write calls: the frames that carry them (checked against bytes
// built by hand), what readers make of damaged ones, and the check that refuses a bad document
// before anything of its write or batch reaches the log or memory.
#include <gtest/gtest.h>

#include "database_test_util.h"
#include "wal/wal.h"

namespace quarn::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes payload_of_insert(const std::string& id, const std::vector<float>& v, const std::string& json) {
  Bytes p;
  put_str(p, id);
  put_vec(p, v);
  put_str(p, json);
  return p;
}

TEST(DocumentFrames, EachDocumentChangeHasItsOwnFrameAndRecordsWithoutOneKeepTheOldFrames) {
  struct Case {
    const char* what;
    WalEntry entry;
    Bytes expected;
  };
  auto with = [](Bytes p, std::initializer_list<std::uint8_t> tail, const std::string& s = {}, bool str = false) {
    p.insert(p.end(), tail);
    if (str) put_str(p, s);
    return p;
  };
  Bytes update_head;
  put_str(update_head, "a");
  update_head.push_back(0);  // no vector
  update_head.push_back(0);  // no metadata
  const std::vector<Case> cases = {
      {"insert without document", WalInsert{"a", {1.0f}, std::nullopt, std::nullopt},
       frame(1, payload_of_insert("a", {1.0f}, ""))},
      {"insert with document", WalInsert{"a", {1.0f}, std::nullopt, std::string("h\xC3\xA9")},
       frame(5, with(payload_of_insert("a", {1.0f}, ""), {}, "h\xC3\xA9", true))},
      {"insert with empty document", WalInsert{"a", {1.0f}, std::nullopt, std::string()},
       frame(5, with(payload_of_insert("a", {1.0f}, ""), {}, "", true))},
      {"update keeping the document", WalUpdate{"a", std::nullopt, std::nullopt, std::nullopt}, frame(3, update_head)},
      {"update clearing the document", WalUpdate{"a", std::nullopt, std::nullopt, std::optional<std::string>()},
       frame(6, with(update_head, {0}))},
      {"update setting the document", WalUpdate{"a", std::nullopt, std::nullopt, std::optional<std::string>("xy")},
       frame(6, with(update_head, {1}, "xy", true))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes encoded = encode_wal_entry(c.entry);
    EXPECT_EQ(encoded, c.expected);
    // The payload decodes back to the same record.
    const Bytes payload(encoded.begin() + 5, encoded.end() - 4);
    auto decoded = decode_wal_payload(encoded[0], payload);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(encode_wal_entry(*decoded), encoded);
  }
  Bytes reused;
  const std::string doc = "text";
  ASSERT_TRUE(encode_wal_insert(reused, "a", std::vector<float>{1.0f}, std::nullopt, &doc));
  EXPECT_EQ(reused, encode_wal_entry(WalInsert{"a", {1.0f}, std::nullopt, doc}));
}

TEST(DocumentFrames, DamagedDocumentFieldsMakeTheRecordUndecodable) {
  Bytes update_head;
  put_str(update_head, "a");
  update_head.push_back(0);
  update_head.push_back(0);
  Bytes bad_utf8 = payload_of_insert("a", {1.0f}, "");
  put_str(bad_utf8, "\xED\xA0\x80");  // an encoded surrogate
  Bytes cut = payload_of_insert("a", {1.0f}, "");
  put_str(cut, "abcd");
  cut.pop_back();
  Bytes flag_two = update_head;
  flag_two.push_back(2);
  Bytes flag_missing = update_head;
  const std::vector<std::pair<std::uint8_t, Bytes>> cases = {
      {wal_format::kInsertDocument, bad_utf8},
      {wal_format::kInsertDocument, cut},
      {wal_format::kInsertDocument, payload_of_insert("a", {1.0f}, "")},  // no document at all
      {wal_format::kUpdateDocument, flag_two},
      {wal_format::kUpdateDocument, flag_missing},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_FALSE(decode_wal_payload(cases[i].first, cases[i].second).has_value()) << "case " << i;
  }
}

// ---- refused documents ----

std::string text_of(const Status& s) { return s.ok() ? "<ok>" : s.error().text(); }

TEST(DocumentChecks, BadDocumentFailsTheWholeWriteNamingItsRowAndWritesNothing) {
  const std::string over(kMaxDocumentBytes + 1, 'x');
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"\xFF", "invalid utf-8 sequence at byte 0"},
      {"ok\xED\xA0\x80", "invalid utf-8 sequence at byte 2"},  // encoded lone surrogate
      {"\xC3", "incomplete utf-8 sequence at byte 0"},
      {over, std::to_string(over.size()) + " bytes, over the limit of 16777216"},
  };
  const std::vector<float> v{0.5f, 0.5f};
  for (const auto& [document, reason] : bad) {
    SCOPED_TRACE(reason);
    TempDir dir;
    auto db = make_db(dir, 2);
    ASSERT_TRUE(db->add("kept", v, std::nullopt, std::string("old")).ok());
    const Bytes log_before = dir.wal_bytes();

    EXPECT_EQ(text_of(db->add("n", v, std::nullopt, document)), "document: " + reason);
    EXPECT_EQ(text_of(db->upsert("kept", v, std::nullopt, document)), "document: " + reason);
    EXPECT_EQ(text_of(db->update("kept", std::nullopt, std::nullopt, DocumentChange(document))),
              "document: " + reason);
    std::vector<Item> items = {{"x0", v, std::nullopt, std::string("fine")}, {"x1", v, std::nullopt, std::nullopt},
                               {"x2", v, std::nullopt, document}};
    const std::string batch_error = "documents[2] (id 'x2'): " + reason;
    EXPECT_EQ(text_of(db->add_many(items)), batch_error);
    EXPECT_EQ(text_of(db->upsert_many(items)), batch_error);
    std::vector<float> floats(6, 0.25f);
    ItemBlock block{{"kept", "y", "x2"}, floats, {}, {std::nullopt, std::string("fine"), document}};
    EXPECT_EQ(text_of(db->upsert_block(block)), batch_error);

    EXPECT_EQ(dir.wal_bytes(), log_before);
    EXPECT_EQ(db->size(), 1u);
    EXPECT_EQ(db->get_record("kept")->document, std::optional<std::string>("old"));
    EXPECT_EQ(db->check_invariants(), std::nullopt);
  }
}

TEST(DocumentChecks, ADocumentOfExactlyTheLimitAndAnEmptyOneAreStored) {
  TempDir dir;
  auto db = make_db(dir, 1);
  const std::string at_limit(kMaxDocumentBytes, 'y');
  ASSERT_TRUE(db->add("big", {1.0f}, std::nullopt, at_limit).ok());
  ASSERT_TRUE(db->add("empty", {2.0f}, std::nullopt, std::string()).ok());
  ASSERT_TRUE(db->add("none", {3.0f}, std::nullopt).ok());
  EXPECT_EQ(db->get_record("big")->document->size(), kMaxDocumentBytes);
  EXPECT_EQ(db->get_record("empty")->document, std::optional<std::string>(""));
  EXPECT_EQ(db->get_record("none")->document, std::nullopt);
}

TEST(DocumentChecks, BlockWithADocumentListOfTheWrongLengthIsRefused) {
  TempDir dir;
  auto db = make_db(dir, 1);
  std::vector<float> floats{1.0f, 2.0f};
  ItemBlock block{{"a", "b"}, floats, {}, {std::string("only one")}};
  EXPECT_EQ(text_of(db->add_block(block)), "1 documents for 2 records");
  EXPECT_FALSE(dir.wal_exists());
}

}  // namespace
}  // namespace quarn::testing
