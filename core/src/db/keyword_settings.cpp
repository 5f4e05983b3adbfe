// The keyword settings chosen at creation: as the index takes them, stored, and described.
#include <sstream>

#include "db/keyword_mirror.h"

namespace quarn {

KeywordIndexOptions keyword_index_options(const KeywordSettings& settings) {
  KeywordIndexOptions options;
  options.tokenizer.english_stop_words = settings.english_stop_words;
  options.tokenizer.english_stemming = settings.english_stemming;
  options.bm25.k1 = settings.k1;
  options.bm25.b = settings.b;
  return options;
}

Json keyword_settings_json(const KeywordSettings& settings) {
  Json out = Json::object();
  out["stemmer"] = settings.english_stemming ? Json("english") : Json(nullptr);
  out["stop_words"] = settings.english_stop_words ? Json("english") : Json(nullptr);
  out["k1"] = static_cast<double>(settings.k1);
  out["b"] = static_cast<double>(settings.b);
  return out;
}

Result<KeywordSettings> keyword_settings_from_json(const Json& json, const std::string& path) {
  auto bad = [&] { return QuarnError::corrupt("keyword settings of an unknown shape", path); };
  if (!json.is_object() || json.size() != 4) return bad();
  KeywordSettings out;
  for (const auto& [key, flag] : {std::pair{"stemmer", &out.english_stemming}, {"stop_words", &out.english_stop_words}}) {
    const auto it = json.find(key);
    if (it == json.end() || !(it->is_null() || *it == "english")) return bad();
    *flag = !it->is_null();
  }
  for (const auto& [key, number] : {std::pair{"k1", &out.k1}, {"b", &out.b}}) {
    const auto it = json.find(key);
    if (it == json.end() || !it->is_number()) return bad();
    *number = static_cast<float>(it->get<double>());
  }
  return out;
}

std::string describe(const KeywordSettings& settings) {
  std::ostringstream out;
  out << "{stemmer=" << (settings.english_stemming ? "english" : "none")
      << ", stop_words=" << (settings.english_stop_words ? "english" : "none") << ", k1=" << settings.k1
      << ", b=" << settings.b << "}";
  return out.str();
}

}  // namespace quarn
