// The metadata section's failures: whatever the damage, the one reported is the one met first
// reading the records in order, including a repeated id found among many records.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "persistence_test_util.h"
#include "storage/graph_parse.h"
#include "util/bytes.h"

namespace quarn::testing {
namespace {

// A graph of n unlinked nodes whose record i names slot i with id "id<i>".
GraphFile unlinked(std::uint32_t n) {
  GraphFile g;
  g.entry_point = 0;
  g.nodes.assign(n, {{}});
  for (std::uint32_t s = 0; s < n; ++s) g.records.push_back({s, "id" + std::to_string(s), ""});
  return g;
}

// The failure text of parsing the section, or "ok" and the record count.
std::string parse_outcome(const GraphFile& g) {
  const auto bytes = g.bytes();
  ByteReader in(bytes);
  auto graph = storage_detail::parse_graph(in);
  if (!graph.ok()) return "graph: " + graph.error().text();
  auto records = storage_detail::parse_metadata_section(in, graph->links.size(), graph->deleted);
  if (!records.ok()) return records.error().text();
  return "ok " + std::to_string(records->size());
}

TEST(MetadataSection, FirstFailureInRecordOrderIsReported) {
  const std::string corrupt = "corrupt data: ";
  struct Case {
    const char* name;
    std::function<void(GraphFile&)> damage;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"intact", [](GraphFile&) {}, "ok 3000"},
      {"id repeated far apart", [](GraphFile& g) { g.records[2500].id = "id17"; },
       corrupt + "duplicate metadata record for id 'id17'"},
      {"first of two repeats wins", [](GraphFile& g) {
         g.records[2000].id = "id5";
         g.records[1000].id = "id900";
       },
       corrupt + "duplicate metadata record for id 'id900'"},
      {"repeated id before a repeated slot", [](GraphFile& g) {
         g.records[10].id = "id3";
         g.records[20].slot = 4;
       },
       corrupt + "duplicate metadata record for id 'id3'"},
      {"repeated slot before a repeated id", [](GraphFile& g) {
         g.records[10].slot = 3;
         g.records[20].id = "id4";
       },
       corrupt + "duplicate metadata record for slot 3"},
      {"repeated slot and id in one record: the slot is checked first", [](GraphFile& g) {
         g.records[10].slot = 3;
         g.records[10].id = "id3";
       },
       corrupt + "duplicate metadata record for slot 3"},
      {"repeated id before a slot out of range", [](GraphFile& g) {
         g.records[100].id = "id99";
         g.records[101].slot = 3000;
       },
       corrupt + "duplicate metadata record for id 'id99'"},
      {"slot out of range before a repeated id", [](GraphFile& g) {
         g.records[100].slot = 3000;
         g.records[101].id = "id99";
       },
       corrupt + "metadata record slot 3000 out of range for 3000 nodes"},
      {"repeated id before invalid UTF-8", [](GraphFile& g) {
         g.records[7].id = "id6";
         g.records[8].id = "\xC3";
       },
       corrupt + "duplicate metadata record for id 'id6'"},
      {"empty id repeated", [](GraphFile& g) {
         g.records[1].id = "";
         g.records[2999].id = "";
       },
       corrupt + "duplicate metadata record for id ''"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GraphFile g = unlinked(3000);
    c.damage(g);
    EXPECT_EQ(parse_outcome(g), c.expected);
  }
}

// The bytes of g cut a few bytes into its record `record`.
std::vector<std::uint8_t> cut_inside(const GraphFile& g, std::size_t record) {
  GraphFile head = g;
  head.records.resize(record);
  auto bytes = g.bytes();
  bytes.resize(head.bytes().size() + 6);
  return bytes;
}

std::string parse_outcome(const std::vector<std::uint8_t>& bytes) {
  ByteReader in(bytes);
  auto graph = storage_detail::parse_graph(in);
  if (!graph.ok()) return "graph: " + graph.error().text();
  auto records = storage_detail::parse_metadata_section(in, graph->links.size(), graph->deleted);
  return records.ok() ? "ok " + std::to_string(records->size()) : records.error().text();
}

TEST(MetadataSection, ShortDataCountsAsTheFailureOfTheRecordItCuts) {
  const std::string short_data = QuarnError::io_eof().text();
  struct Case {
    const char* name;
    std::size_t repeat_at;  // record whose id becomes "id3"
    std::size_t cut_at;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"repeat before the cut", 2000, 2500, "corrupt data: duplicate metadata record for id 'id3'"},
      {"repeat after the cut", 2600, 2500, short_data},
      {"repeat in the cut record", 2500, 2500, short_data},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GraphFile g = unlinked(3000);
    g.records[c.repeat_at].id = "id3";
    EXPECT_EQ(parse_outcome(cut_inside(g, c.cut_at)), c.expected);
  }
}

}  // namespace
}  // namespace quarn::testing
