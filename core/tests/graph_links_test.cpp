// The flat neighbour lists: each list is addressed on its own (no two lists share a word,
// whatever the levels around it), holds at most its layer's capacity, and keeps its slots in
// the order written.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "hnsw_test_util.h"
#include "hnsw/graph_links.h"

namespace quarn {
namespace {

using testing_util::list_of;

TEST(GraphLinks, EveryListOfEveryNodeIsItsOwn) {
  GraphLinks links(3);  // 6 slots on layer 0, 3 above
  const std::vector<std::size_t> levels = {0, 2, 0, 3, 1, 0, 4};
  for (std::size_t level : levels) links.append(level);
  ASSERT_EQ(links.size(), levels.size());
  // Each list gets a distinct pattern, filled to capacity so that an overlap would overwrite.
  auto pattern = [&](Slot s, std::size_t l) {
    std::vector<Slot> out;
    for (std::size_t i = 0; i < links.capacity(l); ++i) out.push_back(static_cast<Slot>(100 * s + 10 * l + i));
    return out;
  };
  for (Slot s = 0; s < links.size(); ++s) {
    EXPECT_EQ(links.level(s), levels[s]);
    for (std::size_t l = 0; l <= levels[s]; ++l) {
      EXPECT_TRUE(list_of(links, s, l).empty());
      links.assign(s, l, pattern(s, l));
    }
  }
  for (Slot s = 0; s < links.size(); ++s) {
    for (std::size_t l = 0; l <= levels[s]; ++l) EXPECT_EQ(list_of(links, s, l), pattern(s, l)) << s << "/" << l;
  }
}

TEST(GraphLinks, WritesKeepOrderAndCapacity) {
  GraphLinks links(2);
  links.append(1);
  links.append(0);
  struct Case {
    std::size_t layer;
    std::vector<Slot> assigned;
    std::vector<Slot> pushed;
    std::vector<Slot> expected;
  };
  const Case cases[] = {
      {0, {}, {5, 3}, {5, 3}},
      {0, {9, 8, 7}, {6}, {9, 8, 7, 6}},
      {0, {1, 2, 3, 4, 5, 6}, {}, {1, 2, 3, 4}},  // assign cuts at the capacity, 4
      {1, {4}, {2}, {4, 2}},
      {1, {7, 7}, {}, {7, 7}},
  };
  for (const Case& c : cases) {
    links.assign(0, c.layer, c.assigned);
    for (Slot v : c.pushed) links.push_back(0, c.layer, v);
    EXPECT_EQ(list_of(links, 0, c.layer), c.expected);
    EXPECT_TRUE(list_of(links, 1, 0).empty());
  }
}

TEST(GraphLinks, LockedWritersAndUnlockedReadersShareAList) {
  // Writers take the node's lock; readers never do and must only ever see whole slot values
  // written to this list, at most the capacity of them.
  GraphLinks links(4);
  links.append(0);
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop.load()) {
      const GraphLinks::List list = links.list(0, 0);
      const std::size_t n = list.size();
      EXPECT_LE(n, 8u);
      for (std::size_t i = 0; i < n; ++i) EXPECT_LT(list[i], 1000u);
    }
  });
  std::vector<std::thread> writers;
  for (Slot w = 0; w < 2; ++w) {
    writers.emplace_back([&, w] {
      std::vector<Slot> current;
      for (Slot i = 0; i < 2000; ++i) {
        const GraphLinks::Lock guard = links.lock(0);
        links.copy_to(0, 0, current);
        if (current.size() < 8) {
          links.push_back(0, 0, (w * 2000 + i) % 1000);
        } else {
          current.resize(i % 5);
          links.assign(0, 0, current);
        }
      }
    });
  }
  for (auto& t : writers) t.join();
  stop.store(true);
  reader.join();
  EXPECT_LE(list_of(links, 0, 0).size(), 8u);
}

}  // namespace
}  // namespace quarn
