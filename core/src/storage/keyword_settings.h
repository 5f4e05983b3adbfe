#pragma once

#include <optional>
#include <string>

#include "quarn/json.h"
#include "quarn/result.h"

namespace quarn {

// keyword.json: the keyword index's settings, a JSON object written when the database is
// created with settings other than the defaults (and only then). Written to a temporary name,
// synced and renamed into place, so it is either absent or complete.
namespace keyword_settings_format {
inline constexpr char kFileName[] = "keyword.json";
inline constexpr char kTempName[] = "keyword.json.tmp";
}  // namespace keyword_settings_format

// The stored settings object, or nothing when the directory has none. A file that is not a JSON
// object fails with Corrupt naming it.
Result<std::optional<Json>> read_keyword_settings(const std::string& dir);
// Stores `settings` (an object), replacing any; nothing stores "no file", which removes one.
Status write_keyword_settings(const std::string& dir, const std::optional<Json>& settings);

}  // namespace quarn
