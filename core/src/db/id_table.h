#pragma once

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "hnsw/graph_links.h"

namespace quarn {

// The live ids and their slots. Entries come from a pool owned by the table, so filling it with
// the records of a large snapshot makes no allocation per record and dropping it no free per
// record. For the same sequence of calls the table visits its entries in the order of a
// std::unordered_map<std::string, Slot>: a save writes the records in that order, so the files
// it writes depend only on the calls made.
class IdTable {
 public:
  IdTable();
  IdTable(const IdTable&) = delete;
  IdTable& operator=(const IdTable&) = delete;
  // A table moved from may only be assigned to or destroyed.
  IdTable(IdTable&& other) noexcept = default;
  IdTable& operator=(IdTable&& other) noexcept = default;
  ~IdTable();

  std::size_t size() const { return state_->map.size(); }
  bool empty() const { return state_->map.empty(); }
  std::optional<Slot> find(const std::string& id) const;
  bool contains(const std::string& id) const { return state_->map.count(id) != 0; }
  // Room for `count` ids in all without a rehash; like every call, it decides the visiting order.
  void reserve(std::size_t count) { state_->map.reserve(count); }
  // Maps the id to the slot, replacing the slot of an id already mapped.
  void insert_or_assign(std::string id, Slot slot);
  // Unmaps the id; false when it was not mapped.
  bool erase(const std::string& id) { return state_->map.erase(id) != 0; }
  void clear() { state_->map.clear(); }

  // Calls fn(id, slot) for every entry.
  template <typename Fn>
  void for_each(Fn&& fn) const {
    for (const auto& [id, slot] : state_->map) fn(id, slot);
  }

 private:
  using Map = std::unordered_map<std::string, Slot, std::hash<std::string>, std::equal_to<std::string>,
                                 std::pmr::polymorphic_allocator<std::pair<const std::string, Slot>>>;
  // The pool outlives the map; both stay where they are when the table is moved.
  struct State {
    std::pmr::unsynchronized_pool_resource pool;
    Map map{&pool};
  };
  std::unique_ptr<State> state_;
};

}  // namespace quarn
