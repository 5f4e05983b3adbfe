#pragma once

#include <optional>

#include "filter/metadata_index.h"
#include "filter/slot_set.h"
#include "quarn/filter.h"

namespace quarn {

// Slots a filter may match, as the metadata index gives them: a set still inside the index
// (valid while the caller holds the index unchanged) or one built for this filter.
class Candidates {
 public:
  static Candidates borrow(const SlotSet* set) {
    Candidates c;
    c.borrowed_ = set;
    return c;
  }
  static Candidates own(SlotSet set) {
    Candidates c;
    c.owned_ = std::move(set);
    return c;
  }
  const SlotSet& get() const { return borrowed_ != nullptr ? *borrowed_ : owned_; }
  const SlotSet* operator->() const { return &get(); }
  const SlotSet& operator*() const { return get(); }

 private:
  const SlotSet* borrowed_ = nullptr;
  SlotSet owned_;
};

// Candidate slots from the index, or nothing when the index cannot narrow the filter. Every
// live slot whose record passes `matches` is among them; when filter.index_answers_exactly()
// they are exactly those slots. A single Eq leaf borrows the index's own set.
std::optional<Candidates> resolve_from_index(const Filter& filter, const MetadataIndex& index);

}  // namespace quarn
