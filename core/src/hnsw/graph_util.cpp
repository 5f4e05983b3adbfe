#include "hnsw/graph_util.h"

namespace quarn::detail {

VisitedSet& VisitedSet::begin(std::size_t n) {
  thread_local VisitedSet set;
  set.reset(n);
  return set;
}

std::vector<Candidate>& thread_frontier() {
  thread_local std::vector<Candidate> frontier;
  return frontier;
}

}  // namespace quarn::detail
