// Installs a file fault hook for the life of the object, so a failing test cannot leave it set
// for the tests after it.
#pragma once

#include "util/file.h"

namespace quarn::testing {

class ScopedHook {
 public:
  explicit ScopedHook(FileFaultHook hook) { set_file_fault_hook(std::move(hook)); }
  ~ScopedHook() { set_file_fault_hook({}); }
  ScopedHook(const ScopedHook&) = delete;
  ScopedHook& operator=(const ScopedHook&) = delete;
};

}  // namespace quarn::testing
