#pragma once

#include <cstddef>

namespace quarn {

// Asks the kernel to back the 2 MiB-aligned interior of [data, data + bytes) with huge pages.
// Walks read rows and lists at random across arrays of many megabytes; with 4 KiB pages nearly
// every such read also misses the TLB. Advice only: arrays under 4 MiB and kernels that refuse
// are left as they are.
void advise_huge_pages(const void* data, std::size_t bytes);

}  // namespace quarn
