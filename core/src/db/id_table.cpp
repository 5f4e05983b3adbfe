#include "db/id_table.h"

namespace quarn {

IdTable::IdTable() : state_(std::make_unique<State>()) {}

IdTable::~IdTable() = default;

std::optional<Slot> IdTable::find(const std::string& id) const {
  auto it = state_->map.find(id);
  if (it == state_->map.end()) return std::nullopt;
  return it->second;
}

void IdTable::insert_or_assign(std::string id, Slot slot) { state_->map.insert_or_assign(std::move(id), slot); }

}  // namespace quarn
