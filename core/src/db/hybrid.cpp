// Hybrid search: the vector hits and the keyword hits of one query fused into one ranking.
#include <algorithm>
#include <unordered_map>

#include "db/db_impl.h"

namespace quarn {

namespace {

// Each side's scores mapped onto [0, 1], best 1; a side whose hits all score alike gives 1.
std::vector<double> min_max(const std::vector<SearchResult>& hits) {
  std::vector<double> out(hits.size(), 1.0);
  if (hits.empty()) return out;
  // Both sides rank by ascending distance.
  const auto [lo, hi] = std::minmax_element(hits.begin(), hits.end(),
                                            [](const SearchResult& a, const SearchResult& b) { return a.distance < b.distance; });
  const double span = static_cast<double>(hi->distance) - static_cast<double>(lo->distance);
  if (!(span > 0)) return out;
  for (std::size_t i = 0; i < hits.size(); ++i) {
    out[i] = (static_cast<double>(hi->distance) - static_cast<double>(hits[i].distance)) / span;
  }
  return out;
}

std::vector<SearchResult> fuse_hits(std::vector<SearchResult> vector_hits, std::vector<SearchResult> keyword_hits,
                                    std::size_t k, const HybridParams& hybrid) {
  struct Fused {
    SearchResult hit;
    double score = 0.0;
  };
  std::vector<Fused> fused;
  std::unordered_map<std::string, std::size_t> at;
  auto add = [&](std::vector<SearchResult>& hits, const std::vector<double>& scores) {
    for (std::size_t i = 0; i < hits.size(); ++i) {
      auto [it, fresh] = at.try_emplace(hits[i].id, fused.size());
      if (fresh) fused.push_back({std::move(hits[i]), 0.0});
      fused[it->second].score += scores[i];
    }
  };
  std::vector<double> vector_scores(vector_hits.size());
  std::vector<double> keyword_scores(keyword_hits.size());
  if (hybrid.fusion == Fusion::Rrf) {
    const double rrf_k = static_cast<double>(hybrid.rrf_k);
    for (std::size_t i = 0; i < vector_hits.size(); ++i) vector_scores[i] = 1.0 / (rrf_k + double(i + 1));
    for (std::size_t i = 0; i < keyword_hits.size(); ++i) keyword_scores[i] = 1.0 / (rrf_k + double(i + 1));
  } else {
    vector_scores = min_max(vector_hits);
    keyword_scores = min_max(keyword_hits);
    for (double& s : vector_scores) s *= hybrid.weight;
    for (double& s : keyword_scores) s *= 1.0 - hybrid.weight;
  }
  add(vector_hits, vector_scores);
  add(keyword_hits, keyword_scores);
  // Equal scores keep the order of first appearance: the vector hits, then the keyword hits.
  std::stable_sort(fused.begin(), fused.end(), [](const Fused& a, const Fused& b) { return a.score > b.score; });
  if (fused.size() > k) fused.resize(k);
  std::vector<SearchResult> out;
  out.reserve(fused.size());
  for (Fused& f : fused) {
    f.hit.distance = static_cast<float>(-f.score);
    out.push_back(std::move(f.hit));
  }
  return out;
}

}  // namespace

Result<std::vector<SearchResult>> DbImpl::search_hybrid(std::span<const float> vector, std::string_view query,
                                                        const SearchParams& params, const HybridParams& hybrid) const {
  if (!(hybrid.weight >= 0.0f && hybrid.weight <= 1.0f)) {
    return QuarnError::invalid_argument("weight must be between 0 and 1, got " + std::to_string(hybrid.weight));
  }
  // Each side gives its own top k; the cut by distance applies to the fused ranking. The two
  // searches run one after the other, each at its own moment.
  SearchParams side = params;
  side.max_distance = std::nullopt;
  auto vector_hits = search(vector, side);
  if (!vector_hits.ok()) return std::move(vector_hits).error();
  auto keyword_hits = search_keyword(query, side);
  if (!keyword_hits.ok()) return std::move(keyword_hits).error();
  std::vector<SearchResult> fused = fuse_hits(std::move(*vector_hits), std::move(*keyword_hits), params.k, hybrid);
  if (params.max_distance) {
    std::erase_if(fused, [&](const SearchResult& r) { return !(r.distance <= *params.max_distance); });
  }
  return fused;
}

}  // namespace quarn
