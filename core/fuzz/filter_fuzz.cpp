// Metadata filters: a filter written as JSON in the form where_filter takes, evaluated
// against metadata records both record by record and through the inverted index.
//
// Input: a JSON array of records (each element is the metadata of one slot; the element
// null stands for a record without metadata), a newline, then the filter as JSON: an object
// whose items are conditions on one field each, a plain value meaning equality and an object
// holding operators ("$eq", "$ne", "$in"/"$nin" with an array, "$gt"/"$gte"/"$lt"/"$lte" with a
// number, "$exists" with a boolean). The keys "$and" and "$or" with an array of such objects
// nest conditions.
//
// Properties: every slot that `matches` is among the index candidates whenever the index
// answers; the same holds after removing and re-indexing records; the index never keeps an
// empty entry.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filter/filter_index.h"
#include "filter/metadata_index.h"
#include "fuzz_util.h"
#include "quarn/filter.h"
#include "quarn/json.h"

using namespace quarn;

namespace {

constexpr int kMaxNesting = 16;

double as_double(const Json& v) {
  if (v.is_number_unsigned()) return static_cast<double>(v.get<std::uint64_t>());
  if (v.is_number_integer()) return static_cast<double>(v.get<std::int64_t>());
  return v.get<double>();
}

// The filter the object describes, or nothing for input the binding would refuse.
std::optional<Filter> build(const Json& where, int depth) {
  if (!where.is_object() || depth > kMaxNesting) return std::nullopt;
  std::vector<Filter> leaves;
  for (const auto& [field, condition] : where.items()) {
    if (field == "$and" || field == "$or") {
      if (!condition.is_array()) return std::nullopt;
      std::vector<Filter> children;
      for (const Json& child : condition) {
        auto built = build(child, depth + 1);
        if (!built) return std::nullopt;
        children.push_back(std::move(*built));
      }
      leaves.push_back(field == "$and" ? Filter::all_of(std::move(children)) : Filter::any_of(std::move(children)));
      continue;
    }
    if (!condition.is_object()) {
      leaves.push_back(Filter::eq(field, condition));
      continue;
    }
    for (const auto& [op, operand] : condition.items()) {
      if (op == "$eq") {
        leaves.push_back(Filter::eq(field, operand));
      } else if (op == "$ne") {
        leaves.push_back(Filter::ne(field, operand));
      } else if (op == "$exists") {
        if (!operand.is_boolean()) return std::nullopt;
        leaves.push_back(Filter::exists(field, operand.get<bool>()));
      } else if (op == "$in" || op == "$nin") {
        if (!operand.is_array()) return std::nullopt;
        std::vector<Json> values(operand.begin(), operand.end());
        leaves.push_back(op == "$in" ? Filter::in(field, std::move(values)) : Filter::nin(field, std::move(values)));
      } else if (op == "$gt" || op == "$gte" || op == "$lt" || op == "$lte") {
        if (!operand.is_number()) return std::nullopt;
        const Filter::Op kind = op == "$gt"    ? Filter::Op::Gt
                                : op == "$gte" ? Filter::Op::Gte
                                : op == "$lt"  ? Filter::Op::Lt
                                               : Filter::Op::Lte;
        leaves.push_back(Filter::range(kind, field, as_double(operand)));
      } else {
        return std::nullopt;
      }
    }
  }
  if (leaves.size() == 1) return std::move(leaves.front());
  return Filter::all_of(std::move(leaves));
}

void check_index_answers(const Filter& filter, const MetadataIndex& index,
                         const std::vector<std::optional<Json>>& metadata, const std::vector<bool>& live) {
  for (const auto& [field, values] : index.fields()) {
    FUZZ_CHECK(!values.empty(), "no field without values");
    for (const auto& [value, slots] : values) {
      FUZZ_CHECK(!slots.empty(), "no value without slots");
      for (Slot s : slots) {
        FUZZ_CHECK(s < live.size() && live[s], "the index holds live slots only");
        FUZZ_CHECK(metadata[s] && metadata[s]->is_object(), "indexed slots have object metadata");
        const auto it = metadata[s]->find(field);
        FUZZ_CHECK(it != metadata[s]->end() && json_equal(*it, value), "index entries match the record");
      }
    }
  }
  const std::optional<Candidates> candidates = resolve_from_index(filter, index);
  for (Slot s = 0; s < metadata.size(); ++s) {
    const bool matched = filter.matches(metadata[s]);
    if (live[s] && matched && candidates) {
      FUZZ_CHECK(candidates->get().contains(s), "the index never drops a matching slot");
    }
    if (live[s] && !matched && candidates && filter.index_answers_exactly()) {
      FUZZ_CHECK(!candidates->get().contains(s), "an exact answer holds no slot that does not match");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::size_t split = text.find('\n');
  if (split == std::string_view::npos) return 0;
  JsonParse records = json_parse(text.substr(0, split));
  JsonParse where = json_parse(text.substr(split + 1));
  if (!records.value || !records.value->is_array() || !where.value) return 0;
  std::optional<Filter> filter = build(*where.value, 0);
  if (!filter) return 0;

  std::vector<std::optional<Json>> metadata;
  for (const Json& r : *records.value) {
    metadata.push_back(r.is_null() ? std::nullopt : std::optional<Json>(r));
  }
  std::vector<bool> live(metadata.size(), true);
  MetadataIndex index;
  for (Slot s = 0; s < metadata.size(); ++s) index.index(s, metadata[s]);
  check_index_answers(*filter, index, metadata, live);

  // Every other record removed, then the first one re-indexed with the metadata of the last.
  for (Slot s = 0; s < metadata.size(); s += 2) {
    index.remove(s, metadata[s]);
    live[s] = false;
  }
  check_index_answers(*filter, index, metadata, live);
  if (!metadata.empty()) {
    metadata[0] = metadata.back();
    index.index(0, metadata[0]);
    live[0] = true;
    check_index_answers(*filter, index, metadata, live);
  }

  // A rebuild from the tables gives the same answers.
  std::unordered_set<Slot> deleted;
  for (Slot s = 0; s < live.size(); ++s) {
    if (!live[s]) deleted.insert(s);
  }
  MetadataIndex rebuilt;
  rebuilt.rebuild(metadata, deleted);
  check_index_answers(*filter, rebuilt, metadata, live);
  return 0;
}
