#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "hnsw/hnsw.h"

namespace quarn::testing_util {

// QUARN_TEST_SCALE=small (set by the sanitizer script) shrinks heavy tests.
inline bool small_scale() {
  const char* scale = std::getenv("QUARN_TEST_SCALE");
  return scale != nullptr && std::strcmp(scale, "small") == 0;
}

inline std::vector<std::vector<float>> random_vectors(std::size_t n, std::size_t dim, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> normal;
  std::vector<std::vector<float>> out(n, std::vector<float>(dim));
  for (auto& v : out) {
    for (float& x : v) x = normal(rng);
  }
  return out;
}

// Gaussian clusters: noise `sigma` around centres uniform in [-spread, spread] per component.
// Overlapping clusters (spread 3, sigma 2) are the shape real embeddings tend to have; far-apart
// ones (spread 10, sigma 1) split a graph whose lists keep only the nearest candidates into
// per-cluster islands.
inline std::vector<std::vector<float>> clustered_vectors(std::size_t n, std::size_t dim, std::size_t clusters,
                                                         unsigned seed, float spread = 3.0f, float sigma = 2.0f) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> normal;
  std::uniform_real_distribution<float> uni(-spread, spread);
  std::vector<std::vector<float>> centres(clusters, std::vector<float>(dim));
  for (auto& c : centres) {
    for (float& x : c) x = uni(rng);
  }
  std::uniform_int_distribution<std::size_t> pick(0, clusters - 1);
  std::vector<std::vector<float>> out(n, std::vector<float>(dim));
  for (auto& v : out) {
    const auto& c = centres[pick(rng)];
    for (std::size_t i = 0; i < dim; ++i) v[i] = c[i] + sigma * normal(rng);
  }
  return out;
}

// Chunks of documents in document order: topic centres N(0, 1), documents at centre + 0.3 N(0, 1),
// chunks at document + 0.03 N(0, 1). Each document is a tight group whose members are far nearer
// to each other than to anything outside, the shape in which a diversity rule prunes every link
// into a group. Queries are new chunks of documents drawn at random.
struct NearDuplicates {
  std::vector<std::vector<float>> data;
  std::vector<std::vector<float>> queries;
};
inline NearDuplicates near_duplicate_chunks(std::size_t topics, std::size_t docs_per_topic, std::size_t chunks,
                                            std::size_t dim, std::size_t queries, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> normal;
  auto around = [&](const std::vector<float>& centre, float sigma) {
    std::vector<float> v(dim);
    for (std::size_t i = 0; i < dim; ++i) v[i] = centre[i] + sigma * normal(rng);
    return v;
  };
  const std::vector<float> origin(dim, 0.0f);
  std::vector<std::vector<float>> docs;
  for (std::size_t t = 0; t < topics; ++t) {
    const std::vector<float> centre = around(origin, 1.0f);
    for (std::size_t d = 0; d < docs_per_topic; ++d) docs.push_back(around(centre, 0.3f));
  }
  NearDuplicates out;
  for (const auto& doc : docs) {
    for (std::size_t c = 0; c < chunks; ++c) out.data.push_back(around(doc, 0.03f));
  }
  std::uniform_int_distribution<std::size_t> pick(0, docs.size() - 1);
  for (std::size_t q = 0; q < queries; ++q) out.queries.push_back(around(docs[pick(rng)], 0.03f));
  return out;
}

// A copy of one neighbour list.
inline std::vector<Slot> list_of(const GraphLinks& links, Slot s, std::size_t layer) {
  std::vector<Slot> out;
  links.copy_to(s, layer, out);
  return out;
}
inline std::vector<Slot> list_of(const HnswIndex& index, Slot s, std::size_t layer) {
  return list_of(index.links(), s, layer);
}

// Every link on layer l points at a node that owns layer l (and never at its own node).
inline bool links_respect_layers(const HnswIndex& index) {
  for (std::size_t s = 0; s < index.node_count(); ++s) {
    for (std::size_t l = 0; l <= index.level(static_cast<Slot>(s)); ++l) {
      for (Slot t : list_of(index, static_cast<Slot>(s), l)) {
        if (t == s || t >= index.node_count() || index.level(t) < l) return false;
      }
    }
  }
  return true;
}

// Recall@10 of the graph path against brute-force Euclidean neighbours of `data`.
inline double graph_recall_at_10(const HnswIndex& index, const std::vector<std::vector<float>>& data,
                                 const std::vector<std::vector<float>>& queries, std::size_t ef) {
  std::size_t hits = 0;
  for (const auto& q : queries) {
    std::vector<std::pair<float, Slot>> all;
    for (std::size_t i = 0; i < data.size(); ++i) {
      all.emplace_back(distance(q, data[i], Metric::Euclidean), static_cast<Slot>(i));
    }
    std::partial_sort(all.begin(), all.begin() + 10, all.end());
    std::set<Slot> truth;
    for (std::size_t i = 0; i < 10; ++i) truth.insert(all[i].second);
    for (const auto& c : index.search_graph(q, 10, ef)) hits += truth.count(c.slot);
  }
  return static_cast<double>(hits) / static_cast<double>(10 * queries.size());
}

// Every neighbour list of the index, checked against the per-layer capacity.
inline bool lists_within_capacity(const HnswIndex& index) {
  for (std::size_t s = 0; s < index.node_count(); ++s) {
    for (std::size_t l = 0; l <= index.level(static_cast<Slot>(s)); ++l) {
      const std::size_t cap = l == 0 ? index.m0() : index.m();
      if (index.links().raw(static_cast<Slot>(s), l)[0] > cap) return false;
    }
  }
  return true;
}

}  // namespace quarn::testing_util
