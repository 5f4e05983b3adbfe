// The batch forms of keyword and hybrid search: one query per worker at a time.
#include <optional>

#include "db/db_impl.h"
#include "util/pool.h"

namespace quarn {

namespace {

// Runs one(i) for every query on the pool; the first failure (by query order) fails the batch.
template <class One>
Result<std::vector<std::vector<SearchResult>>> each_query(std::size_t count, const One& one) {
  std::vector<std::vector<SearchResult>> results(count);
  std::vector<std::optional<QuarnError>> errors(count);
  parallel_for(count, [&](std::size_t i) {
    auto hits = one(i);
    if (hits.ok()) {
      results[i] = std::move(*hits);
    } else {
      errors[i] = std::move(hits).error();
    }
  });
  for (std::optional<QuarnError>& error : errors) {
    if (error) return std::move(*error);
  }
  return results;
}

}  // namespace

Result<std::vector<std::vector<SearchResult>>> DbImpl::search_keyword_many(const std::vector<std::string>& queries,
                                                                           const SearchParams& params) const {
  return each_query(queries.size(), [&](std::size_t i) { return search_keyword(queries[i], params); });
}

Result<std::vector<std::vector<SearchResult>>> DbImpl::search_hybrid_many(const std::vector<std::vector<float>>& vectors,
                                                                          const std::vector<std::string>& queries,
                                                                          const SearchParams& params,
                                                                          const HybridParams& hybrid) const {
  if (vectors.size() != queries.size()) {
    return QuarnError::invalid_argument("vectors and queries differ in length: " + std::to_string(vectors.size()) +
                                        " vectors, " + std::to_string(queries.size()) + " queries");
  }
  for (const auto& v : vectors) {
    if (v.size() != dim_) return QuarnError::dimension_mismatch(dim_, v.size());
  }
  return each_query(queries.size(), [&](std::size_t i) { return search_hybrid(vectors[i], queries[i], params, hybrid); });
}

}  // namespace quarn
