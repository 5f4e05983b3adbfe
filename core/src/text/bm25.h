#pragma once

#include <cmath>
#include <cstdint>

namespace quarn {

// BM25 as search engines compute it today: idf = ln(1 + (N - n + 0.5) / (n + 0.5)) and
// term score = idf * tf * (k1 + 1) / (tf + k1 * (1 - b + b * length / average length)), with N,
// n and the average length over the documents in the index. Every score, bound and test
// reference goes through these functions so that equal inputs give bit-equal scores.
struct Bm25Params {
  float k1 = 1.2f;
  float b = 0.75f;
  bool operator==(const Bm25Params&) const = default;
};

inline double bm25_idf(std::uint64_t documents, std::uint64_t with_term) {
  const double n = static_cast<double>(with_term);
  return std::log(1.0 + (static_cast<double>(documents) - n + 0.5) / (n + 0.5));
}

// The per-query constants: a term's weight is idf * (k1 + 1), a document's norm depends only
// on its length.
struct Bm25Scorer {
  double k1;
  double b;
  double average_length;

  double weight(double idf) const { return idf * (k1 + 1.0); }
  double norm(std::uint32_t length) const {
    return k1 * (1.0 - b + b * static_cast<double>(length) / average_length);
  }
  static double term_score(double weight, std::uint32_t tf, double norm) {
    const double f = static_cast<double>(tf);
    return weight * f / (f + norm);
  }
};

}  // namespace quarn
