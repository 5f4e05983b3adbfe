#include <atomic>
#include <chrono>
#include <thread>

#include "database_test_util.h"

namespace quarn::testing {
namespace {

constexpr std::size_t kDim = 4;
constexpr int kIds = 150;

std::string id_of(int n) { return "k" + std::to_string(n); }

// Every record of id kN carries N as its first component and in its metadata, so a reader can
// tell when it was handed another record's vector or metadata.
std::vector<float> vector_of(int n, std::mt19937& rng) {
  std::uniform_real_distribution<float> d(-1, 1);
  return {static_cast<float>(n), d(rng), d(rng), d(rng)};
}
Json meta_of(int n) { return J(R"({"id":")" + id_of(n) + R"(","n":)" + std::to_string(n) + "}"); }

void expect_consistent(const SearchResult& r) {
  ASSERT_TRUE(r.metadata.has_value()) << r.id;
  EXPECT_EQ(r.metadata->at("id").get<std::string>(), r.id);
}

void expect_allowed(const Status& s) {
  if (!s.ok()) {
    const auto kind = s.error().kind();
    EXPECT_TRUE(kind == QuarnError::Kind::DuplicateId || kind == QuarnError::Kind::NotFound) << s.error().text();
  }
}

TEST(DatabaseConcurrency, WritersSearchersAndCompactionKeepTheTablesConsistent) {
  TempDir dir;
  auto db = make_db(dir, kDim, Metric::Euclidean, 8, 64);
  const auto duration = std::chrono::milliseconds(small_scale() ? 500 : 2000);
  const auto deadline = std::chrono::steady_clock::now() + duration;
  auto running = [&] { return std::chrono::steady_clock::now() < deadline; };

  std::vector<std::thread> threads;
  auto spawn = [&](std::uint32_t seed, auto body) {
    threads.emplace_back([seed, body, &running] {
      std::mt19937 rng(seed);
      std::uniform_int_distribution<int> pick(0, kIds - 1);
      while (running()) body(rng, pick);
    });
  };
  for (std::uint32_t seed : {1u, 2u}) {
    spawn(seed, [&](std::mt19937& rng, auto& pick) {
      const int n = pick(rng);
      expect_allowed(db->add(id_of(n), vector_of(n, rng), meta_of(n)));
      if (n % 10 == 0) {
        const int a = pick(rng);
        const int b = (a + 1 + pick(rng) % (kIds - 1)) % kIds;  // any id but a: add_many takes each once
        expect_allowed(db->add_many({{id_of(a), vector_of(a, rng), meta_of(a)}, {id_of(b), vector_of(b, rng), meta_of(b)}}));
      }
    });
  }
  spawn(3, [&](std::mt19937& rng, auto& pick) {
    const int n = pick(rng);
    EXPECT_TRUE(db->upsert(id_of(n), vector_of(n, rng), meta_of(n)).ok());
    const int a = pick(rng), b = pick(rng);
    EXPECT_TRUE(db->upsert_many({{id_of(a), vector_of(a, rng), meta_of(a)},
                                 {id_of(b), vector_of(b, rng), meta_of(b)},
                                 {id_of(a), vector_of(a, rng), meta_of(a)}})
                    .ok());
  });
  spawn(4, [&](std::mt19937& rng, auto& pick) {
    EXPECT_TRUE(db->remove(id_of(pick(rng))).ok());
    EXPECT_TRUE(db->delete_many({id_of(pick(rng)), id_of(pick(rng))}).ok());
    const int n = pick(rng);
    Json meta = meta_of(n);
    meta["u"] = 1u;
    expect_allowed(db->update(id_of(n), vector_of(n, rng), meta));
  });
  for (std::uint32_t seed : {5u, 6u}) {
    spawn(seed, [&](std::mt19937& rng, auto& pick) {
      const int n = pick(rng);
      const std::vector<float> q = vector_of(n, rng);
      Filter exact = Filter::eq("n", Json(static_cast<std::uint64_t>(n)));
      Filter low = Filter::range(Filter::Op::Lt, "n", n);
      for (const Filter* f : std::vector<const Filter*>{nullptr, &exact, &low}) {
        auto hits = db->search(q, top(5, f));
        ASSERT_TRUE(hits.ok());
        for (const auto& r : *hits) expect_consistent(r);
      }
      auto many = db->search_many({q, vector_of(pick(rng), rng)}, top(3, &low));
      ASSERT_TRUE(many.ok());
      for (const auto& list : *many) {
        for (const auto& r : list) expect_consistent(r);
      }
      EXPECT_LE(db->count(&exact), 1u);
      auto got = db->get(id_of(n));
      if (got.ok()) {
        EXPECT_EQ(got->first[0], static_cast<float>(n));
        EXPECT_EQ(got->second->at("n").get<std::uint64_t>(), static_cast<std::uint64_t>(n));
      }
      (void)db->stats();
    });
  }
  spawn(7, [&](std::mt19937&, auto&) {
    EXPECT_TRUE(db->compact().ok());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  });
  for (auto& t : threads) t.join();

  EXPECT_EQ(db->check_invariants(), std::nullopt);
  auto ids = db->ids();
  EXPECT_EQ(db->size(), ids.size());

  // The log holds every change in the order memory saw it: replaying it gives the same records.
  auto replayed = make_db(dir, kDim);
  ASSERT_TRUE(replayed->replay_wal().ok());
  EXPECT_EQ(replayed->check_invariants(), std::nullopt);
  auto ids2 = replayed->ids();
  std::sort(ids.begin(), ids.end());
  std::sort(ids2.begin(), ids2.end());
  ASSERT_EQ(ids, ids2);
  for (const auto& id : ids) EXPECT_EQ(*replayed->get(id), *db->get(id)) << id;
}

}  // namespace
}  // namespace quarn::testing
