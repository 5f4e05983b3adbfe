// Bulk reads: many records in one call, batch search results as NumPy arrays, and the
// consistency check.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "args.h"
#include "convert.h"
#include "database_object.h"
#include "documents.h"
#include "filter_parse.h"

namespace quarn_py {

namespace {

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

py::array_t<float> zeros_matrix(std::size_t rows, std::size_t cols) {
  py::array_t<float> out({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)});
  if (rows * cols != 0) std::memset(out.mutable_data(), 0, rows * cols * sizeof(float));
  return out;
}

}  // namespace

std::vector<std::optional<std::vector<float>>> vectors_of_hits(const quarn::Database& db,
                                                               const std::vector<quarn::SearchResult>& hits) {
  std::vector<std::optional<std::vector<float>>> out(hits.size());
  for (std::size_t i = 0; i < hits.size(); ++i) {
    auto record = db.get(hits[i].id);
    if (record.ok()) out[i] = std::move(std::move(record).value().first);
  }
  return out;
}

PyObject* db_get_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"ids", "include_vectors", "include_documents", nullptr};
    PyObject* ids_obj = nullptr;
    PyObject* vectors_obj = nullptr;
    PyObject* documents_obj = nullptr;
    parse_args(args, kwargs, "O|OO:get_many", keywords, &ids_obj, &vectors_obj, &documents_obj);
    const std::vector<std::string> ids = string_list_arg(ids_obj, "ids");
    const bool include_vectors = vectors_obj == nullptr || bool_arg(vectors_obj, "include_vectors");
    const bool include_documents = documents_obj != nullptr && bool_arg(documents_obj, "include_documents");
    auto db = engine_of(self);
    const std::size_t dim = db->dim();

    struct Read {
      std::vector<float> vectors;  // row-major, dim per id
      std::vector<std::optional<quarn::Json>> metadata;
      std::vector<std::optional<std::string>> documents;  // only with include_documents
      std::optional<std::size_t> missing;
    };
    Read read = without_gil([&] {
      Read r;
      if (include_vectors) r.vectors.resize(ids.size() * dim);
      r.metadata.resize(ids.size());
      if (include_documents) r.documents.resize(ids.size());
      for (std::size_t i = 0; i < ids.size(); ++i) {
        // get copies no document, get_record reads all three at one moment.
        quarn::Result<quarn::Record> record = include_documents ? db->get_record(ids[i]) : [&] {
          auto pair = db->get(ids[i]);
          if (!pair.ok()) return quarn::Result<quarn::Record>(std::move(pair).error());
          return quarn::Result<quarn::Record>(
              quarn::Record{std::move(pair->first), std::move(pair->second), std::nullopt});
        }();
        if (!record.ok()) {
          r.missing = i;
          break;
        }
        if (include_vectors) std::copy(record->vector.begin(), record->vector.end(), r.vectors.begin() + i * dim);
        r.metadata[i] = std::move(record->metadata);
        if (include_documents) r.documents[i] = std::move(record->document);
      }
      return r;
    });
    if (read.missing) {
      raise(PyExc_ValueError, "ids[" + std::to_string(*read.missing) + "]: id '" + ids[*read.missing] + "' not found");
    }
    py::list metadatas(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      py::object meta = read.metadata[i] ? json_to_python(*read.metadata[i]) : py::none();
      PyList_SET_ITEM(metadatas.ptr(), static_cast<Py_ssize_t>(i), meta.release().ptr());
    }
    py::object vectors = py::none();
    if (include_vectors) {
      py::array_t<float> matrix = zeros_matrix(ids.size(), dim);
      if (!read.vectors.empty()) std::memcpy(matrix.mutable_data(), read.vectors.data(), read.vectors.size() * sizeof(float));
      vectors = std::move(matrix);
    }
    if (!include_documents) return py::make_tuple(vectors, metadatas).release().ptr();
    py::list documents(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      PyList_SET_ITEM(documents.ptr(), static_cast<Py_ssize_t>(i), document_to_python(read.documents[i]).release().ptr());
    }
    return py::make_tuple(vectors, metadatas, documents).release().ptr();
  });
}

PyObject* db_search_many_arrays(PyObject* self, PyObject* args, PyObject* kwargs) {
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
    std::optional<quarn::Filter> filter;
    if (filter_dict != nullptr) filter = parse_filter(filter_dict);
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

PyObject* db_verify(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    std::optional<std::string> problem = without_gil([&] { return db->check_invariants(); });
    py::list out;
    if (problem) out.append(py::str(*problem));
    return out.release().ptr();
  });
}

}  // namespace quarn_py
