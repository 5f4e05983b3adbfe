#include "db/metadata_index.h"

#include <cmath>

namespace quarn {

namespace {

// NaN equals nothing, not even itself, so it could never be looked up or withdrawn again.
bool indexable(const Json& v) {
  if (v.is_number_float()) return !std::isnan(v.get<double>());
  return v.is_boolean() || v.is_number() || v.is_string();
}

}  // namespace

void MetadataIndex::index(Slot slot, const std::optional<Json>& metadata) {
  if (!metadata.has_value() || !metadata->is_object()) return;
  for (const auto& [field, value] : metadata->items()) {
    if (!indexable(value)) continue;
    fields_[field][value].insert(slot);
  }
}

void MetadataIndex::remove(Slot slot, const std::optional<Json>& metadata) {
  if (!metadata.has_value() || !metadata->is_object()) return;
  for (const auto& [field, value] : metadata->items()) {
    if (!indexable(value)) continue;
    auto field_it = fields_.find(field);
    if (field_it == fields_.end()) continue;
    ValueMap& values = field_it->second;
    auto value_it = values.find(value);
    if (value_it == values.end()) continue;
    value_it->second.erase(slot);
    if (value_it->second.empty()) values.erase(value_it);
    if (values.empty()) fields_.erase(field_it);
  }
}

void MetadataIndex::rebuild(const std::vector<std::optional<Json>>& metadata,
                            const std::unordered_set<Slot>& deleted) {
  fields_.clear();
  for (std::size_t i = 0; i < metadata.size(); ++i) {
    const auto slot = static_cast<Slot>(i);
    if (deleted.contains(slot)) continue;
    index(slot, metadata[i]);
  }
}

const SlotSet* MetadataIndex::find(const std::string& field, const Json& value) const {
  auto field_it = fields_.find(field);
  if (field_it == fields_.end()) return nullptr;
  auto value_it = field_it->second.find(value);
  if (value_it == field_it->second.end()) return nullptr;
  return &value_it->second;
}

}  // namespace quarn
