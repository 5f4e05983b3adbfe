#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "json_test_util.h"
#include <zlib.h>

#include "wal/wal.h"
#include "util/crc32.h"
#include "util/utf8.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;


Bytes file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A frame with a correct checksum around arbitrary payload bytes.
Bytes frame(std::uint8_t type, const Bytes& payload) {
  Bytes out{type};
  put_u32(out, static_cast<std::uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  const std::uint32_t crc = crc32(payload, crc32(std::span<const std::uint8_t>(&type, 1)));
  put_u32(out, crc);
  return out;
}

std::string id_of(const WalEntry& e) {
  return std::visit([](const auto& v) { return v.id; }, e);
}

std::vector<std::string> ids(const std::vector<WalEntry>& entries) {
  std::vector<std::string> out;
  for (const WalEntry& e : entries) out.push_back(id_of(e));
  return out;
}

class WalFile : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quarn_wal_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / wal_format::kFileName).string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::vector<WalEntry> read_ok(Wal& wal) {
    auto entries = wal.read_all();
    EXPECT_TRUE(entries.ok()) << (entries.ok() ? "" : entries.error().text());
    return entries.ok() ? std::move(*entries) : std::vector<WalEntry>{};
  }

  fs::path dir_;
  std::string path_;
};

TEST(WalFormat, InsertAndDeleteFramesMatchTheDocumentedBytes) {
  const Bytes insert = encode_wal_entry(WalInsert{"a", {1.0f, 2.0f, 3.0f}, std::nullopt});
  const Bytes expected_insert = {0x01, 0x19, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x61, 0x03, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00,
                                 0x40, 0x40, 0x00, 0x00, 0x00, 0x00, 0x0C, 0xA8, 0x63, 0x94};
  EXPECT_EQ(insert, expected_insert);

  const Bytes del = encode_wal_entry(WalDelete{"a"});
  const Bytes expected_delete = {0x02, 0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x61, 0xD6, 0x78, 0xDF, 0xFB};
  EXPECT_EQ(del, expected_delete);
}

// Insert frames encoded from their fields into one reused buffer: a long record followed by
// shorter ones must leave none of its bytes behind, and every frame must equal the entry form.
TEST(WalFormat, InsertEncodedFromFieldsIntoAReusedBufferEqualsTheEntryEncoding) {
  const std::vector<WalInsert> inserts = {
      WalInsert{"long-record-id", std::vector<float>(300, 0.25f), parse_json(R"({"tags":["x","y"],"n":12})")},
      WalInsert{"a", {1.0f, 2.0f, 3.0f}, std::nullopt},
      WalInsert{"", {}, std::nullopt},
      WalInsert{"\xC3\xA9", {-0.0f, 1e-30f}, parse_json(R"({"k":null})")},
  };
  Bytes reused;
  for (const WalInsert& insert : inserts) {
    SCOPED_TRACE(insert.id);
    ASSERT_TRUE(encode_wal_insert(reused, insert.id, insert.vector, insert.metadata));
    EXPECT_EQ(reused, encode_wal_entry(insert));
  }
  ASSERT_TRUE(encode_wal_insert(reused, "a", std::vector<float>{1.0f, 2.0f, 3.0f}, std::nullopt));
  EXPECT_EQ(reused, (Bytes{0x01, 0x19, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x61, 0x03, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00,
                           0x40, 0x40, 0x00, 0x00, 0x00, 0x00, 0x0C, 0xA8, 0x63, 0x94}));
}

TEST(WalFormat, Crc32EqualsZlibOnRandomData) {
  std::mt19937 rng(1);
  for (std::size_t len : {0u, 1u, 3u, 7u, 8u, 9u, 15u, 16u, 63u, 64u, 1000u, 4097u, 100000u}) {
    Bytes data(len);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    const auto expected = static_cast<std::uint32_t>(::crc32(0L, data.data(), static_cast<uInt>(len)));
    EXPECT_EQ(crc32(data), expected) << len;
    // Continuing from an earlier result equals one pass over the joined bytes.
    const std::size_t cut = len / 3;
    const std::span<const std::uint8_t> all(data);
    EXPECT_EQ(crc32(all.subspan(cut), crc32(all.first(cut))), expected) << len;
  }
}

TEST(WalFormat, EntriesRoundTrip) {
  const std::vector<WalEntry> entries = {
      WalInsert{"", {}, std::nullopt},
      WalInsert{"\xC3\xA9t\xC3\xA9", {-0.0f, 1e-30f, 3.5f}, parse_json(R"({"a":[1,2.5,null],"b":"\u00e9"})")},
      WalDelete{"gone"},
      WalUpdate{"u", std::nullopt, std::nullopt},
      WalUpdate{"u", std::vector<float>{1.0f}, std::optional<Json>()},
      WalUpdate{"u", std::nullopt, std::optional<Json>(parse_json(R"({"k":1})"))},
  };
  for (const WalEntry& entry : entries) {
    const Bytes bytes = encode_wal_entry(entry);
    ASSERT_GE(bytes.size(), wal_format::kFrameOverhead);
    const std::span<const std::uint8_t> payload(bytes.data() + 5, bytes.size() - wal_format::kFrameOverhead);
    auto decoded = decode_wal_payload(bytes[0], payload);
    ASSERT_TRUE(decoded.has_value());
    ASSERT_EQ(decoded->index(), entry.index());
    EXPECT_EQ(encode_wal_entry(*decoded), bytes);
  }
}

TEST(WalFormat, UpdateFlagsOnlyOneMeansPresent) {
  const Bytes bytes = encode_wal_entry(WalUpdate{"u", std::vector<float>{2.0f}, std::optional<Json>()});
  Bytes payload(bytes.begin() + 5, bytes.end() - 4);
  auto decoded = decode_wal_payload(wal_format::kUpdate, payload);
  ASSERT_TRUE(decoded.has_value());
  const auto& update = std::get<WalUpdate>(*decoded);
  ASSERT_TRUE(update.vector.has_value());
  EXPECT_EQ(*update.vector, std::vector<float>{2.0f});
  ASSERT_TRUE(update.metadata.has_value());  // present and empty: clear
  EXPECT_FALSE(update.metadata->has_value());

  // id (4 + 1 bytes), flag 2, flag 7: both fields absent, nothing else is read.
  Bytes odd;
  write_string(odd, "u");
  odd.push_back(2);
  odd.push_back(7);
  odd.push_back(0xEE);  // trailing bytes are ignored
  decoded = decode_wal_payload(wal_format::kUpdate, odd);
  ASSERT_TRUE(decoded.has_value());
  EXPECT_FALSE(std::get<WalUpdate>(*decoded).vector.has_value());
  EXPECT_FALSE(std::get<WalUpdate>(*decoded).metadata.has_value());

  // A missing flag byte makes the record undecodable.
  Bytes short_update;
  write_string(short_update, "u");
  short_update.push_back(0);
  EXPECT_FALSE(decode_wal_payload(wal_format::kUpdate, short_update).has_value());
  EXPECT_FALSE(decode_wal_payload(4, short_update).has_value());
}

TEST(WalFields, ReadersFailOnShortDataAndMoveToTheEnd) {
  Bytes data;
  write_string(data, "hello");
  write_vector(data, std::vector<float>{1.0f, 2.0f});
  write_metadata(data, parse_json(R"({"x":1})"));
  write_metadata(data, std::nullopt);

  ByteReader full{data};
  EXPECT_EQ(read_string(full), "hello");
  EXPECT_EQ(read_vector(full), (std::vector<float>{1.0f, 2.0f}));
  auto m = read_metadata(full);
  ASSERT_TRUE(m.has_value() && m->has_value());
  EXPECT_EQ(json_dump(**m), R"({"x":1})");
  m = read_metadata(full);
  ASSERT_TRUE(m.has_value());
  EXPECT_FALSE(m->has_value());
  EXPECT_EQ(full.position(), data.size());

  for (std::size_t cut = 0; cut < data.size(); ++cut) {
    const std::span<const std::uint8_t> part(data.data(), cut);
    ByteReader c{part};
    bool failed = !read_string(c) || !read_vector(c) || !read_metadata(c) || !read_metadata(c);
    EXPECT_TRUE(failed) << cut;
    EXPECT_EQ(c.position(), cut) << cut;
  }
}

TEST(WalFields, StringsMustBeUtf8AndMetadataMustParse) {
  for (const Bytes& raw : {Bytes{0xFF}, Bytes{0xC0, 0x80}, Bytes{0xED, 0xA0, 0x80}, Bytes{0xE2, 0x82},
                           Bytes{0xF4, 0x90, 0x80, 0x80}}) {
    Bytes data;
    put_u32(data, static_cast<std::uint32_t>(raw.size()));
    data.insert(data.end(), raw.begin(), raw.end());
    data.push_back('z');
    ByteReader c{data};
    EXPECT_FALSE(read_string(c).has_value());
    EXPECT_EQ(c.position(), data.size());
    std::string why;
    EXPECT_FALSE(is_valid_utf8(raw, &why));
    EXPECT_FALSE(why.empty());
  }
  const std::string good = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  EXPECT_TRUE(is_valid_utf8(std::span(reinterpret_cast<const std::uint8_t*>(good.data()), good.size())));

  for (const char* text : {"{\"a\":", "NaN", "{} {}", "{\"a\":1}x"}) {
    Bytes data;
    write_string(data, text);  // same layout as a metadata field
    ByteReader c{data};
    EXPECT_FALSE(read_metadata(c).has_value()) << text;
    EXPECT_EQ(c.position(), data.size());
  }
}

TEST(WalFields, VectorCountLargerThanThePayloadFails) {
  Bytes data;
  put_u32(data, 0x40000000u);
  put_f32(data, 1.0f);
  ByteReader c{data};
  EXPECT_FALSE(read_vector(c).has_value());
  EXPECT_EQ(c.position(), data.size());
}

TEST_F(WalFile, MissingOrEmptyFileHasNoEntries) {
  Wal wal(path_);
  EXPECT_TRUE(read_ok(wal).empty());
  EXPECT_FALSE(fs::exists(path_));
  write_bytes(path_, {});
  EXPECT_TRUE(read_ok(wal).empty());
}

TEST_F(WalFile, AppendCreatesTheFileLazilyAndResetDeletesIt) {
  Wal wal(path_);
  EXPECT_FALSE(wal.writer_open());
  EXPECT_FALSE(fs::exists(path_));
  ASSERT_TRUE(wal.append(WalInsert{"a", {1.0f, 2.0f, 3.0f}, std::nullopt}).ok());
  ASSERT_TRUE(wal.append(WalDelete{"a"}).ok());
  EXPECT_TRUE(wal.writer_open());
  // Each record is in the file as soon as append returns.
  EXPECT_EQ(file_bytes(path_).size(), 34u + 14u);

  ASSERT_TRUE(wal.reset().ok());
  EXPECT_FALSE(wal.writer_open());
  EXPECT_FALSE(fs::exists(path_));
  ASSERT_TRUE(wal.reset().ok());  // nothing to delete is fine

  ASSERT_TRUE(wal.append(WalDelete{"b"}).ok());
  EXPECT_EQ(ids(read_ok(wal)), std::vector<std::string>{"b"});
}

std::size_t open_descriptor_count() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// A reset hands the deleted log's descriptor to a background close; it must really be closed,
// or every save would leak one descriptor and keep the old log's pages. Closes still pending
// from earlier tests can only lower the count, never by the 20 a leak would add.
TEST_F(WalFile, ResetClosesTheOldLogsDescriptor) {
  const std::size_t before = open_descriptor_count();
  Wal wal(path_);
  for (int round = 0; round < 20; ++round) {
    ASSERT_TRUE(wal.append(WalDelete{"a"}).ok());
    ASSERT_TRUE(wal.reset().ok());
  }
  std::size_t now = open_descriptor_count();
  for (int waited = 0; now > before && waited < 500; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    now = open_descriptor_count();
  }
  EXPECT_LE(now, before);
}

TEST_F(WalFile, AppendAddsToAnExistingLog) {
  {
    Wal first(path_);
    ASSERT_TRUE(first.append(WalDelete{"1"}).ok());
  }
  Wal second(path_);
  EXPECT_EQ(ids(read_ok(second)), std::vector<std::string>{"1"});
  ASSERT_TRUE(second.append(WalDelete{"2"}).ok());
  EXPECT_EQ(ids(read_ok(second)), (std::vector<std::string>{"1", "2"}));
}

TEST_F(WalFile, OpenFailureLeavesTheWriterAbsent) {
  Wal wal((dir_ / "missing_dir" / wal_format::kFileName).string());
  Status s = wal.append(WalDelete{"a"});
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), QuarnError::Kind::Io);
  EXPECT_FALSE(wal.writer_open());
}

TEST_F(WalFile, ResetReportsDeletionFailures) {
  fs::create_directories(fs::path(path_) / "blocker");
  Wal wal(path_);
  Status s = wal.reset();
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error().kind(), QuarnError::Kind::Io);
}

TEST_F(WalFile, LargeRecordsBypassTheBufferIntact) {
  Wal wal(path_);
  std::vector<float> big(5000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<float>(i) * 0.5f;
  ASSERT_TRUE(wal.append(WalInsert{"big", big, parse_json(R"({"n":1})")}).ok());
  ASSERT_TRUE(wal.append(WalDelete{"x"}).ok());
  auto entries = read_ok(wal);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(std::get<WalInsert>(entries[0]).vector, big);
}

class WalReplay : public WalFile {
 protected:
  // Three records written through the writer; returns the byte offset of each record.
  std::vector<std::size_t> write_three() {
    Wal wal(path_);
    std::vector<std::size_t> offsets;
    const std::vector<WalEntry> entries = {
        WalInsert{"r1", {1.0f, 2.0f}, parse_json(R"({"k":"v"})")},
        WalUpdate{"r2", std::vector<float>{3.0f, 4.0f}, std::optional<Json>()},
        WalInsert{"r3", {5.0f, 6.0f}, std::nullopt},
    };
    for (const WalEntry& e : entries) {
      offsets.push_back(fs::exists(path_) ? fs::file_size(path_) : 0);
      EXPECT_TRUE(wal.append(e).ok());
    }
    offsets.push_back(fs::file_size(path_));
    return offsets;
  }
};

TEST_F(WalReplay, TornLastRecordKeepsEveryEarlierRecord) {
  const std::vector<std::size_t> offsets = write_three();
  const Bytes whole = file_bytes(path_);
  for (std::size_t cut = offsets[2]; cut < whole.size(); ++cut) {
    write_bytes(path_, Bytes(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut)));
    Wal wal(path_);
    EXPECT_EQ(ids(read_ok(wal)), (std::vector<std::string>{"r1", "r2"})) << "cut at " << cut;
    EXPECT_EQ(file_bytes(path_).size(), cut);  // reading changes nothing
  }
  write_bytes(path_, whole);
  Wal wal(path_);
  EXPECT_EQ(ids(read_ok(wal)), (std::vector<std::string>{"r1", "r2", "r3"}));
}

// A flipped byte in the last record is a torn tail, dropped quietly; in an earlier one, with a
// readable record after it, the read fails naming the damaged record's offset, and a read with
// recover keeps the records before it and says what it left out.
TEST_F(WalReplay, FlippedByteBeforeTheLastRecordIsDamageNotATornTail) {
  const std::vector<std::size_t> offsets = write_three();
  const Bytes whole = file_bytes(path_);
  const std::vector<std::string> all = {"r1", "r2", "r3"};
  for (std::size_t k = 0; k < 3; ++k) {
    const std::vector<std::string> before(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(k));
    for (std::size_t at = offsets[k]; at < offsets[k + 1]; ++at) {
      Bytes damaged = whole;
      damaged[at] ^= 0x20;
      write_bytes(path_, damaged);
      Wal wal(path_);
      std::optional<WalDrop> dropped;
      auto strict = wal.read_all(false, &dropped);
      if (k == 2) {
        ASSERT_TRUE(strict.ok()) << "byte " << at;
        EXPECT_EQ(ids(*strict), before);
        ASSERT_TRUE(dropped.has_value());
        EXPECT_FALSE(dropped->damage);
        EXPECT_EQ(dropped->offset, offsets[2]);
        continue;
      }
      ASSERT_FALSE(strict.ok()) << "record " << k << " byte " << at;
      EXPECT_EQ(strict.error().kind(), QuarnError::Kind::Corrupt);
      EXPECT_EQ(strict.error().file(), path_);
      EXPECT_NE(strict.error().detail().find("byte offset " + std::to_string(offsets[k]) + " "), std::string::npos)
          << strict.error().text();
      dropped.reset();
      auto recovered = wal.read_all(true, &dropped);
      ASSERT_TRUE(recovered.ok());
      EXPECT_EQ(ids(*recovered), before) << "record " << k << " byte " << at;
      ASSERT_TRUE(dropped.has_value());
      EXPECT_TRUE(dropped->damage);
      EXPECT_EQ(dropped->damage_offset, offsets[k]);
      EXPECT_EQ(dropped->offset, offsets[k]);
      EXPECT_EQ(dropped->bytes, whole.size() - offsets[k]);
      EXPECT_EQ(dropped->records, 2 - k) << "byte " << at;
    }
  }
}

TEST_F(WalReplay, UnknownTypeAndUndecodableRecordsAreSkipped) {
  Bytes log = encode_wal_entry(WalDelete{"before"});
  const Bytes unknown = frame(4, {1, 2, 3});
  Bytes bad_id;
  put_u32(bad_id, 1);
  bad_id.push_back(0xFF);
  const Bytes undecodable = frame(wal_format::kDelete, bad_id);
  Bytes bad_json;
  write_string(bad_json, "x");
  write_vector(bad_json, std::vector<float>{1.0f});
  write_string(bad_json, "{oops");
  const Bytes bad_metadata = frame(wal_format::kInsert, bad_json);
  const Bytes after = encode_wal_entry(WalDelete{"after"});
  for (const Bytes* part : {&unknown, &undecodable, &bad_metadata, &after}) log.insert(log.end(), part->begin(), part->end());
  write_bytes(path_, log);

  Wal wal(path_);
  EXPECT_EQ(ids(read_ok(wal)), (std::vector<std::string>{"before", "after"}));
}

TEST_F(WalReplay, HugeLengthFieldIsATornTail) {
  write_three();
  Bytes log = file_bytes(path_);
  log.push_back(wal_format::kInsert);
  put_u32(log, 0xFFFFFFF0u);
  log.insert(log.end(), 100, 0xAB);
  write_bytes(path_, log);
  Wal wal(path_);
  EXPECT_EQ(ids(read_ok(wal)), (std::vector<std::string>{"r1", "r2", "r3"}));
}

TEST_F(WalReplay, RecordsAppendedAfterADamagedTailStayReadable) {
  const std::vector<std::size_t> offsets = write_three();
  Bytes whole = file_bytes(path_);
  whole.resize(offsets[2] + 7);  // crash in the middle of r3
  write_bytes(path_, whole);

  Wal wal(path_);
  EXPECT_EQ(ids(read_ok(wal)), (std::vector<std::string>{"r1", "r2"}));
  EXPECT_EQ(ids(read_ok(wal)), (std::vector<std::string>{"r1", "r2"}));  // reading twice is the same
  ASSERT_TRUE(wal.append(WalDelete{"r4"}).ok());
  EXPECT_EQ(ids(read_ok(wal)), (std::vector<std::string>{"r1", "r2", "r4"}));
  EXPECT_EQ(file_bytes(path_).size(), offsets[2] + 15);
}

TEST_F(WalReplay, FailedAppendLeavesNoPartialRecord) {
  Wal wal(path_);
  ASSERT_TRUE(wal.append(WalDelete{"first"}).ok());
  const auto good_size = fs::file_size(path_);

  // Let the file grow by only a few bytes, so the next frame is written in part.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = good_size + 6;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Status failed = wal.append(WalInsert{"lost", {1.0f, 2.0f, 3.0f}, std::nullopt});
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
  std::signal(SIGXFSZ, SIG_DFL);

  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().kind(), QuarnError::Kind::Io);
  EXPECT_FALSE(wal.writer_open());
  EXPECT_EQ(fs::file_size(path_), good_size);

  ASSERT_TRUE(wal.append(WalDelete{"second"}).ok());
  EXPECT_EQ(ids(read_ok(wal)), (std::vector<std::string>{"first", "second"}));
}

// ---- batches ----

class WalBatch : public WalFile {
 protected:
  // A log of: r0, a batch of b1..b3, r4; returns its bytes and the offset of each frame.
  Bytes write_log(std::vector<std::size_t>& offsets) {
    Wal wal(path_);
    auto at = [&] { offsets.push_back(fs::exists(path_) ? fs::file_size(path_) : 0); };
    at();
    EXPECT_TRUE(wal.append(WalInsert{"r0", {0, 0}, std::nullopt}).ok());
    at();
    auto mark = wal.begin_batch(3);
    EXPECT_TRUE(mark.ok());
    EXPECT_EQ(*mark, offsets.back());
    for (const char* id : {"b1", "b2", "b3"}) {
      at();
      EXPECT_TRUE(wal.append(WalInsert{id, {1, 1}, std::nullopt}).ok());
    }
    at();
    EXPECT_TRUE(wal.append(WalDelete{"r4"}).ok());
    at();
    return read_file_bytes();
  }

  Bytes read_file_bytes() {
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
};

TEST_F(WalBatch, BatchFrameIsTypeFourWithItsRecordCount) {
  EXPECT_EQ(encode_wal_batch_header(3), frame(4, {3, 0, 0, 0}));
}

TEST_F(WalBatch, ABatchIsAppliedWholeOrNotAtAll) {
  std::vector<std::size_t> at;  // r0, batch frame, b1, b2, b3, r4, end
  const Bytes log = write_log(at);
  struct Case {
    const char* what;
    std::size_t cut;
    std::vector<std::string> ids;
  };
  const std::vector<Case> cases = {
      {"whole log", at[6], {"r0", "b1", "b2", "b3", "r4"}},
      {"cut inside the batch frame", at[1] + 5, {"r0"}},
      {"cut after the batch frame", at[2], {"r0"}},
      {"cut after the second of three", at[4], {"r0"}},
      {"cut inside the third", at[5] - 2, {"r0"}},
      {"cut after the batch", at[5], {"r0", "b1", "b2", "b3"}},
  };
  for (const Case& c : cases) {
    write_bytes(path_, Bytes(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(c.cut)));
    Wal wal(path_);
    EXPECT_EQ(ids(read_ok(wal)), c.ids) << c.what;
    // The next append cuts an incomplete batch off, so that it never swallows later records.
    ASSERT_TRUE(wal.append(WalInsert{"next", {2, 2}, std::nullopt}).ok());
    std::vector<std::string> expected = c.ids;
    expected.push_back("next");
    Wal again(path_);
    EXPECT_EQ(ids(read_ok(again)), expected) << c.what;
  }
}

TEST_F(WalBatch, DamagedRecordInsideABatchFailsTheReadOrDropsTheBatchAndWhatFollows) {
  std::vector<std::size_t> at;
  Bytes log = write_log(at);
  log[at[3] + 6] ^= 0x20;  // a payload byte of b2
  write_bytes(path_, log);
  Wal wal(path_);
  auto strict = wal.read_all();
  ASSERT_FALSE(strict.ok());
  EXPECT_EQ(strict.error().kind(), QuarnError::Kind::Corrupt);
  std::optional<WalDrop> dropped;
  auto recovered = wal.read_all(true, &dropped);
  ASSERT_TRUE(recovered.ok());
  EXPECT_EQ(ids(*recovered), (std::vector<std::string>{"r0"}));
  ASSERT_TRUE(dropped.has_value());
  // b1 (read, but its batch is incomplete), b3 and r4
  EXPECT_EQ(dropped->records, 3u);
  EXPECT_EQ(dropped->offset, at[1]);
  EXPECT_EQ(dropped->damage_offset, at[3]);
}

// Damage in the length field makes the damaged frame look longer than the file: still damage
// when whole records follow, found by trying every later byte.
TEST_F(WalBatch, LengthFieldPointingPastTheEndIsDamageWhenRecordsFollow) {
  std::vector<std::size_t> at;
  Bytes log = write_log(at);
  log[at[0] + 4] ^= 0x80;  // the high byte of r0's length
  write_bytes(path_, log);
  Wal wal(path_);
  auto strict = wal.read_all();
  ASSERT_FALSE(strict.ok());
  EXPECT_NE(strict.error().detail().find("byte offset 0 "), std::string::npos) << strict.error().text();
  std::optional<WalDrop> dropped;
  auto recovered = wal.read_all(true, &dropped);
  ASSERT_TRUE(recovered.ok());
  EXPECT_TRUE(recovered->empty());
  EXPECT_EQ(dropped->records, 4u);  // b1, b2, b3, r4
}

// What recover keeps is what the next append keeps: it cuts the file at the damage.
TEST_F(WalBatch, AppendAfterARecoveredReadCutsTheDamagedRest) {
  std::vector<std::size_t> at;
  Bytes log = write_log(at);
  log[at[0] + 6] ^= 0x01;
  write_bytes(path_, log);
  Wal wal(path_);
  ASSERT_TRUE(wal.read_all(true).ok());
  ASSERT_TRUE(wal.append(WalDelete{"after"}).ok());
  EXPECT_EQ(ids(read_ok(wal)), (std::vector<std::string>{"after"}));
}

TEST_F(WalBatch, RollbackCutsTheFileBackToTheBatchStart) {
  Wal wal(path_);
  ASSERT_TRUE(wal.append(WalInsert{"r0", {0, 0}, std::nullopt}).ok());
  const auto before = fs::file_size(path_);
  auto mark = wal.begin_batch(2);
  ASSERT_TRUE(mark.ok());
  ASSERT_TRUE(wal.append(WalInsert{"b1", {1, 1}, std::nullopt}).ok());
  ASSERT_TRUE(wal.rollback(*mark).ok());
  EXPECT_FALSE(wal.writer_open());
  EXPECT_EQ(fs::file_size(path_), before);
  ASSERT_TRUE(wal.append(WalInsert{"r1", {0, 0}, std::nullopt}).ok());
  Wal reader(path_);
  EXPECT_EQ(ids(read_ok(reader)), (std::vector<std::string>{"r0", "r1"}));
}

TEST_F(WalBatch, LogsWithoutBatchFramesReadAsBefore) {
  // What older versions wrote for a batch: its records one after another.
  Bytes log;
  for (const char* id : {"a", "b", "c"}) {
    const Bytes f = encode_wal_entry(WalInsert{id, {1, 2}, std::nullopt});
    log.insert(log.end(), f.begin(), f.end());
  }
  write_bytes(path_, log);
  Wal wal(path_);
  EXPECT_EQ(ids(read_ok(wal)), (std::vector<std::string>{"a", "b", "c"}));
}

}  // namespace
}  // namespace quarn
