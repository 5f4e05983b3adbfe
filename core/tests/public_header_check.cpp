// Compiled with only core/include and nlohmann's JSON on the include path: the public headers
// must not reach into core/src.
#include "quarn/database.h"
#include "quarn/error.h"
#include "quarn/filter.h"
#include "quarn/json.h"
#include "quarn/result.h"

namespace quarn {
[[maybe_unused]] auto* const kOpen = &Database::open;
}  // namespace quarn
