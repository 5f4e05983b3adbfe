// Search: one query, a batch of queries, and a batch with NumPy results.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/numpy.h>

#include "args.h"
#include "database_object.h"
#include "document_filter_parse.h"
#include "filter_parse.h"
#include "search_result.h"
#include "vector_convert.h"

namespace quarn_py {

namespace {

// The vector of each hit, read again by id; empty for a record deleted since the search.
std::vector<std::optional<std::vector<float>>> vectors_of_hits(const quarn::Database& db,
                                                               const std::vector<quarn::SearchResult>& hits) {
  std::vector<std::optional<std::vector<float>>> out(hits.size());
  for (std::size_t i = 0; i < hits.size(); ++i) {
    auto record = db.get(hits[i].id);
    if (record.ok()) out[i] = std::move(std::move(record).value().first);
  }
  return out;
}

// Shared by search and search_many: (vector(s), k=10, ef_search=None, where_filter=None,
// max_distance=None, include_vectors=False, include_documents=False). The filter is parsed after every argument has been
// converted.
struct SearchArgs {
  std::size_t k = 10;
  std::optional<std::size_t> ef_search;
  std::optional<quarn::Filter> filter;
  std::optional<quarn::DocumentFilter> document_filter;
  std::optional<float> max_distance;
  bool include_vectors = false;
  bool include_documents = false;
  std::optional<std::size_t> rerank;
  PyObject* filter_dict = nullptr;  // borrowed from the call's arguments
  PyObject* document_obj = nullptr;  // likewise

  void parse_filters() {
    filter = parse_optional_filter(filter_dict);
    document_filter = parse_optional_document_filter(document_obj);
  }

  quarn::SearchParams params() const {
    quarn::SearchParams p;
    p.k = k;
    p.ef_search = ef_search;
    p.filter = filter ? &*filter : nullptr;
    p.document_filter = document_filter ? &*document_filter : nullptr;
    p.max_distance = max_distance;
    p.include_documents = include_documents;
    p.rerank = rerank;
    return p;
  }
};

template <class Input>
SearchArgs search_args(PyObject* args, PyObject* kwargs, const char* format, const char* const* keywords,
                       Input& input) {
  PyObject* input_obj = nullptr;
  PyObject* k_obj = nullptr;
  PyObject* ef_obj = nullptr;
  PyObject* filter_obj = nullptr;
  PyObject* max_obj = nullptr;
  PyObject* vectors_obj = nullptr;
  PyObject* documents_obj = nullptr;
  PyObject* document_filter_obj = nullptr;
  PyObject* rerank_obj = nullptr;
  parse_args(args, kwargs, format, keywords, &input_obj, &k_obj, &ef_obj, &filter_obj, &max_obj, &vectors_obj,
             &documents_obj, &document_filter_obj, &rerank_obj);
  input = Input::extract(input_obj, keywords[0]);
  SearchArgs out;
  if (k_obj != nullptr) out.k = unsigned_arg(k_obj, "k");
  out.ef_search = optional_unsigned_arg(ef_obj, "ef_search");
  out.filter_dict = optional_dict_arg(filter_obj, "where_filter");
  out.document_obj = document_filter_obj;
  out.max_distance = optional_float_arg(max_obj, "max_distance");
  out.include_vectors = vectors_obj != nullptr && bool_arg(vectors_obj, "include_vectors");
  out.include_documents = documents_obj != nullptr && bool_arg(documents_obj, "include_documents");
  out.rerank = optional_unsigned_arg(rerank_obj, "rerank");
  return out;
}

PyObject* search(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"vector",          "k",
                                           "ef_search",       "where_filter",
                                           "max_distance",    "include_vectors",
                                           "include_documents", "where_document",
                                           "rerank",          nullptr};
    VectorInput input;
    SearchArgs a = search_args(args, kwargs, "O|OOOOOO$OO:search", keywords, input);
    std::vector<float> query = std::move(input).to_vec();
    a.parse_filters();
    const quarn::SearchParams params = a.params();
    auto db = engine_of(self);
    auto hits = take(without_gil([&] { return db->search(query, params); }));
    if (!a.include_vectors) return make_result_list(std::move(hits)).release().ptr();
    auto vectors = without_gil([&] { return vectors_of_hits(*db, hits); });
    return make_result_list(std::move(hits), &vectors).release().ptr();
  });
}

const PyMethodDef kSearch = keyword_method(
    "search", search,
    "search($self, vector, k=10, ef_search=None, where_filter=None, max_distance=None, include_vectors=False, "
    "include_documents=False, *, where_document=None, rerank=None)\n"
    "--\n\n"
    "The k nearest records as a list of SearchResult (.id, .distance, .metadata, .vector,\n"
    ".document), nearest first. ef_search widens the graph beam; where_filter is a metadata\n"
    "filter such as {\"color\": \"red\", \"price\": {\"$lt\": 20}}; max_distance drops farther\n"
    "hits; include_vectors fills .vector and include_documents .document. where_document keeps\n"
    "records by the words of their documents: {\"$contains\": \"word\"}, {\"$not_contains\": ...},\n"
    "{\"$and\": [...]}, {\"$or\": [...]}; a record holds a value when its document has every one\n"
    "of its words (whole words after case folding, not substrings).\n"
    "rerank: with quantized search, how many of the nearest candidates by code are scored\n"
    "with their full vectors (at least k); None re-ranks the whole beam, or max(4 * k, 40)\n"
    "candidates when vectors_in_memory is False.");

PyObject* search_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"vectors",         "k",
                                           "ef_search",       "where_filter",
                                           "max_distance",    "include_vectors",
                                           "include_documents", "where_document",
                                           "rerank",          nullptr};
    BatchVectorInput input;
    SearchArgs a = search_args(args, kwargs, "O|OOOOOO$OO:search_many", keywords, input);
    std::vector<std::vector<float>> queries = std::move(input).to_vecs();
    a.parse_filters();
    const quarn::SearchParams params = a.params();
    auto db = engine_of(self);
    auto lists = take(without_gil([&] { return db->search_many(queries, params); }));
    py::list out(lists.size());
    for (std::size_t i = 0; i < lists.size(); ++i) {
      py::list row;
      if (a.include_vectors) {
        auto vectors = without_gil([&] { return vectors_of_hits(*db, lists[i]); });
        row = make_result_list(std::move(lists[i]), &vectors);
      } else {
        row = make_result_list(std::move(lists[i]));
      }
      PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), row.release().ptr());
    }
    return out.release().ptr();
  });
}

const PyMethodDef kSearchMany = keyword_method(
    "search_many", search_many,
    "search_many($self, vectors, k=10, ef_search=None, where_filter=None, max_distance=None, "
    "include_vectors=False, include_documents=False, *, where_document=None, rerank=None)\n--\n\n"
    "search for each row of vectors, in parallel: a list of lists of SearchResult.");

// Code points of valid UTF-8 (ids come from Python str, so they are); a stray byte becomes U+FFFD.
void utf8_to_utf32(const std::string& text, std::vector<char32_t>& out) {
  out.clear();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const auto* end = p + text.size();
  while (p < end) {
    const unsigned char lead = *p;
    int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
    if (extra < 0 || end - p <= extra) {
      out.push_back(U'\uFFFD');
      ++p;
      continue;
    }
    char32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (int i = 1; i <= extra; ++i) cp = (cp << 6) | (p[i] & 0x3F);
    out.push_back(cp);
    p += extra + 1;
  }
}

PyObject* search_many_arrays(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"vectors", "k", "ef_search", "where_filter", "max_distance", nullptr};
    PyObject* input_obj = nullptr;
    PyObject* k_obj = nullptr;
    PyObject* ef_obj = nullptr;
    PyObject* filter_obj = nullptr;
    PyObject* max_obj = nullptr;
    parse_args(args, kwargs, "O|OOOO:search_many_arrays", keywords, &input_obj, &k_obj, &ef_obj, &filter_obj,
               &max_obj);
    BatchVectorInput input = BatchVectorInput::extract(input_obj, "vectors");
    quarn::SearchParams params;
    if (k_obj != nullptr) params.k = unsigned_arg(k_obj, "k");
    params.ef_search = optional_unsigned_arg(ef_obj, "ef_search");
    PyObject* filter_dict = optional_dict_arg(filter_obj, "where_filter");
    params.max_distance = optional_float_arg(max_obj, "max_distance");
    std::vector<std::vector<float>> queries = std::move(input).to_vecs();
    const std::optional<quarn::Filter> filter = parse_optional_filter(filter_dict);
    params.filter = filter ? &*filter : nullptr;
    auto db = engine_of(self);
    auto lists = take(without_gil([&] { return db->search_many(queries, params); }));

    // Columns: k, or the collection's size when that is smaller (a huge k on a small collection).
    std::size_t width = std::min<std::size_t>(params.k, without_gil([&] { return db->size(); }));
    std::size_t id_width = 1;
    std::vector<char32_t> code_points;
    for (const auto& hits : lists) {
      width = std::max(width, hits.size());
      for (const auto& hit : hits) {
        utf8_to_utf32(hit.id, code_points);
        id_width = std::max(id_width, code_points.size());
      }
    }
    const std::size_t rows = lists.size();
    py::array_t<float> distances({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(width)});
    std::fill_n(distances.mutable_data(), rows * width, std::numeric_limits<float>::infinity());
    py::array_t<std::int64_t> counts(static_cast<py::ssize_t>(rows));
    py::dtype id_type("<U" + std::to_string(id_width));
    py::array ids(id_type, {static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(width)});
    auto* id_cells = static_cast<char32_t*>(ids.mutable_data());
    std::memset(id_cells, 0, rows * width * id_width * sizeof(char32_t));
    for (std::size_t r = 0; r < rows; ++r) {
      counts.mutable_data()[r] = static_cast<std::int64_t>(lists[r].size());
      for (std::size_t c = 0; c < lists[r].size(); ++c) {
        distances.mutable_data()[r * width + c] = lists[r][c].distance;
        utf8_to_utf32(lists[r][c].id, code_points);
        std::copy(code_points.begin(), code_points.end(), id_cells + (r * width + c) * id_width);
      }
    }
    return py::make_tuple(ids, distances, counts).release().ptr();
  });
}

const PyMethodDef kSearchManyArrays = keyword_method(
    "search_many_arrays", search_many_arrays,
    "search_many_arrays($self, vectors, k=10, ef_search=None, where_filter=None, max_distance=None)\n--\n\n"
    "search_many with NumPy results and no Python object per hit: a tuple (ids, distances,\n"
    "counts) of a str array of shape (n, k), a float32 array of shape (n, k) and an int64\n"
    "array of shape (n,). Row i holds counts[i] hits; the rest of it is '' and inf.");

}  // namespace

std::vector<PyMethodDef> search_methods() { return {kSearch, kSearchMany, kSearchManyArrays}; }

}  // namespace quarn_py
