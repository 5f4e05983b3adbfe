#pragma once

#include <cstdint>

namespace quarn {

// Position of a record in the graph and in the per-record tables beside it, counted from 0.
using Slot = std::uint32_t;

}  // namespace quarn
