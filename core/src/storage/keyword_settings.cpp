#include "storage/keyword_settings.h"

#include <string_view>
#include <vector>

#include "util/file.h"

namespace quarn {

Result<std::optional<Json>> read_keyword_settings(const std::string& dir) {
  const std::string path = join_path(dir, keyword_settings_format::kFileName);
  auto exists = file_exists(path);
  if (!exists.ok()) return std::move(exists).error();
  if (!*exists) return std::optional<Json>();
  auto bytes = read_file(path);
  if (!bytes.ok()) return std::move(bytes).error();
  const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  JsonParse parsed = json_parse(text);
  if (!parsed.value || !parsed.value->is_object()) {
    return QuarnError::corrupt("keyword settings are not a JSON object" +
                                   (parsed.error.empty() ? std::string() : ": " + parsed.error),
                               path);
  }
  return std::optional<Json>(std::move(*parsed.value));
}

Status write_keyword_settings(const std::string& dir, const std::optional<Json>& settings) {
  const std::string path = join_path(dir, keyword_settings_format::kFileName);
  if (!settings) {
    if (!path_exists(path)) return Status::success();
    QUARN_TRY(remove_file(path));
    return sync_directory(dir);
  }
  const std::string temp = join_path(dir, keyword_settings_format::kTempName);
  const std::string text = json_dump(*settings) + "\n";
  {
    auto file = FileHandle::create_truncate(temp);
    if (!file.ok()) return std::move(file).error();
    QUARN_TRY(file->write_all(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
    QUARN_TRY(file->sync());
  }
  QUARN_TRY(rename_file(temp, path));
  return sync_directory(dir);
}

}  // namespace quarn
