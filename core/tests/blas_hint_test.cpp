// Its own process: the hint is written at most once per process, so no other test may have
// written it first.
#include <gtest/gtest.h>

#include <string>

#include "database_test_util.h"
#include "distance/blas_scan.h"
#include "distance/distance.h"

namespace quarn::testing {
namespace {

// The hint is about batched exhaustive scans, which a matrix product speeds up: single and
// filtered searches never write it, and builds with BLAS never do.
TEST(BlasHint, OnlyABatchedScanOfABuildWithoutBlasWritesIt) {
  TempDir dir;
  auto db = make_db(dir, 8);
  const auto vectors = random_vectors(200, 8, 7);
  for (std::size_t i = 0; i < vectors.size(); ++i) {
    ASSERT_TRUE(db->add(std::to_string(i), vectors[i], J("{\"g\": " + std::to_string(i % 4) + "}")).ok());
  }
  const Filter one_group = Filter::eq("g", 1);
  const Filter range = Filter::range(Filter::Op::Lt, "g", 2);
  ::testing::internal::CaptureStderr();
  ASSERT_TRUE(db->search(vectors[0], top(5)).ok());
  ASSERT_TRUE(db->search(vectors[0], top(5, &one_group)).ok());
  ASSERT_TRUE(db->search(vectors[0], top(5, &range)).ok());
  ASSERT_TRUE(db->search_many({vectors[0], vectors[1]}, top(5, &one_group)).ok());
  EXPECT_FALSE(blas_hint_shown());
  ASSERT_TRUE(db->search_many({vectors[0], vectors[1]}, top(5)).ok());
  EXPECT_EQ(blas_hint_shown(), !blas_scan_available());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), blas_scan_available() ? "" : std::string(blas_hint_text()));
}

}  // namespace
}  // namespace quarn::testing
