#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/slot_set.h"
#include "hnsw/hnsw.h"
#include "quarn/json.h"

namespace quarn {

// Inverted index: field -> indexable value (bool, number, string) -> live slots holding it.
// Never holds an empty slot set or a field with no values. Slot sets are sorted, so that a filter
// combines them in linear time.
class MetadataIndex {
 public:
  using ValueMap = std::unordered_map<Json, SlotSet, JsonHash, JsonEqual>;

  void index(Slot slot, const std::optional<Json>& metadata);
  void remove(Slot slot, const std::optional<Json>& metadata);
  void rebuild(const std::vector<std::optional<Json>>& metadata, const std::unordered_set<Slot>& deleted);

  // The set under (field, value), or nullptr.
  const SlotSet* find(const std::string& field, const Json& value) const;
  const std::unordered_map<std::string, ValueMap>& fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }

 private:
  std::unordered_map<std::string, ValueMap> fields_;
};

}  // namespace quarn
