// Keyword top-k per pruning method on a synthetic corpus with Zipf-distributed words, one
// thread; also indexing, serialising and loading. Times are the thread's CPU time, so that a
// machine shared with other work gives usable figures. Usage: text_pruning_bench [documents [index-only]]
#include <algorithm>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "text/keyword_index.h"

namespace {

struct Clock {
  using time_point = double;
  static double now() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
};
double seconds_since(double t) { return Clock::now() - t; }

class Zipf {
 public:
  Zipf(std::size_t n, double s) : cdf_(n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) cdf_[i] = sum += 1.0 / std::pow(static_cast<double>(i + 1), s);
    for (double& c : cdf_) c /= sum;
  }
  std::size_t operator()(std::mt19937_64& rng) {
    const double u = std::uniform_real_distribution<double>(0, 1)(rng);
    return static_cast<std::size_t>(std::lower_bound(cdf_.begin(), cdf_.end(), u) - cdf_.begin());
  }

 private:
  std::vector<double> cdf_;
};

}  // namespace

int main(int argc, char** argv) {
  using namespace quarn;
  const std::size_t documents = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200000;
  const std::size_t vocabulary = 200000;
  std::mt19937_64 rng(42);
  Zipf zipf(vocabulary, 1.0);
  std::vector<std::string> texts(documents);
  std::lognormal_distribution<double> length(4.0, 0.6);  // median about 55 words
  for (auto& text : texts) {
    const auto n = std::max<std::size_t>(1, static_cast<std::size_t>(length(rng)));
    for (std::size_t i = 0; i < n; ++i) text += "w" + std::to_string(zipf(rng)) + " ";
  }
  double tokenizing = 0;
  {
    auto tokenizer = Tokenizer::create({});
    if (!tokenizer) return 1;
    std::vector<std::string> terms;
    const auto t = Clock::now();
    for (const auto& text : texts) {
      terms.clear();
      tokenizer->tokenize(text, terms);
    }
    tokenizing = seconds_since(t);
  }
  auto created = KeywordIndex::create({});
  if (!created) return 1;
  KeywordIndex index = std::move(created).value();
  auto t0 = Clock::now();
  for (std::size_t i = 0; i < documents; ++i) index.set_document(static_cast<std::uint32_t>(i), texts[i]);
  const double build = seconds_since(t0);
  std::printf("corpus: %zu documents, %llu tokens, %zu terms; indexed in %.2f s (%.0f documents/s), "
              "of which tokenizing %.2f s\n",
              documents, static_cast<unsigned long long>(index.total_length()), index.term_count(), build,
              static_cast<double>(documents) / build, tokenizing);

  t0 = Clock::now();
  const auto bytes = index.serialize();
  const double ser = seconds_since(t0);
  t0 = Clock::now();
  auto loaded = KeywordIndex::deserialize(bytes);
  const double de = seconds_since(t0);
  std::printf("serialised: %.1f MB in %.3f s; loaded in %.3f s (rebuilding from text: %.2f s)\n",
              static_cast<double>(bytes.size()) / 1e6, ser, de, build);

  if (argc > 2 && std::string(argv[2]) == "index-only") return 0;
  // Queries of 1 to 5 words; words drawn with the corpus's distribution past its 20 commonest,
  // plus a set that keeps the commonest.
  const auto make_queries = [&](std::size_t skip) {
    std::vector<std::string> queries;
    for (int q = 0; q < 1000; ++q) {
      std::string text;
      const int n = 1 + static_cast<int>(rng() % 5);
      for (int i = 0; i < n; ++i) {
        std::size_t w;
        do w = zipf(rng);
        while (w < skip);
        text += "w" + std::to_string(w) + " ";
      }
      queries.push_back(text);
    }
    return queries;
  };
  const struct {
    const char* name;
    std::vector<std::string> queries;
  } sets[] = {{"rare-ish words", make_queries(20)}, {"any words", make_queries(0)}};
  const struct {
    const char* name;
    KeywordPruning pruning;
  } methods[] = {{"exact", KeywordPruning::Exact},
                 {"wand", KeywordPruning::Wand},
                 {"block-max wand", KeywordPruning::BlockMaxWand},
                 {"maxscore", KeywordPruning::MaxScore},
                 {"block-max maxscore", KeywordPruning::BlockMaxMaxScore}};
  const std::function<bool(std::uint32_t)> tenth = [](std::uint32_t s) { return s % 10 == 3; };
  for (const auto& set : sets) {
    for (std::size_t k : {10, 100}) {
      for (bool filtered : {false, true}) {
        std::printf("%s, k=%zu%s:", set.name, k, filtered ? ", 10% filter" : "");
        std::vector<std::vector<KeywordHit>> first;
        for (const auto& m : methods) {
          KeywordFilter filter{std::nullopt, tenth};
          double best = 1e30;
          std::vector<std::vector<KeywordHit>> hits;
          for (int repeat = 0; repeat < 3; ++repeat) {
            hits.clear();
            t0 = Clock::now();
            for (const auto& q : set.queries) hits.push_back(index.search(q, k, filtered ? &filter : nullptr, {m.pruning}));
            best = std::min(best, seconds_since(t0));
          }
          if (first.empty()) first = hits;
          std::printf("  %s %.0f q/s%s", m.name, static_cast<double>(set.queries.size()) / best,
                      hits == first ? "" : " (DIFFERENT HITS)");
        }
        std::printf("\n");
      }
    }
  }
  return 0;
}
