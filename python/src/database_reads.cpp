// Reads: one record, many records, counts and ids.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <pybind11/numpy.h>

#include "args.h"
#include "database_object.h"
#include "document_filter_parse.h"
#include "documents.h"
#include "filter_parse.h"
#include "json_convert.h"

namespace quarn_py {

namespace {

py::list float_list(const std::vector<float>& values) {
  py::list out(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyObject* number = PyFloat_FromDouble(static_cast<double>(values[i]));
    if (number == nullptr) throw py::error_already_set();
    PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), number);
  }
  return out;
}

py::array_t<float> zeros_matrix(std::size_t rows, std::size_t cols) {
  py::array_t<float> out({static_cast<py::ssize_t>(rows), static_cast<py::ssize_t>(cols)});
  if (rows * cols != 0) std::memset(out.mutable_data(), 0, rows * cols * sizeof(float));
  return out;
}

PyObject* get(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"id", nullptr};
    PyObject* id_obj = nullptr;
    parse_args(args, kwargs, "O:get", keywords, &id_obj);
    std::string id = string_arg(id_obj, "id");
    auto db = engine_of(self);
    auto [vector, metadata] = take(without_gil([&] { return db->get(id); }));
    py::object meta = metadata ? json_to_python(*metadata) : py::none();
    return py::make_tuple(float_list(vector), meta).release().ptr();
  });
}

const PyMethodDef kGet = keyword_method(
    "get", get,
    "get($self, id)\n--\n\n"
    "The record's (vector as a list of floats, metadata or None); ValueError if not found.");

PyObject* get_many(PyObject* self, PyObject* args, PyObject* kwargs) {
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

const PyMethodDef kGetMany = keyword_method(
    "get_many", get_many,
    "get_many($self, ids, include_vectors=True, include_documents=False)\n--\n\n"
    "Many records in one call: (vectors as a float32 array of shape (len(ids), dim), or None\n"
    "without include_vectors; list of metadata dicts or None), with include_documents a third\n"
    "member, the list of documents (str or None). ValueError naming the first id that is not\n"
    "there.");

PyObject* count(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"where_filter", "where_document", nullptr};
    PyObject* filter_obj = nullptr;
    PyObject* document_obj = nullptr;
    parse_args(args, kwargs, "|O$O:count", keywords, &filter_obj, &document_obj);
    const std::optional<quarn::Filter> filter = parse_optional_filter(optional_dict_arg(filter_obj, "where_filter"));
    const std::optional<quarn::DocumentFilter> documents = parse_optional_document_filter(document_obj);
    auto db = engine_of(self);
    const quarn::Filter* f = filter ? &*filter : nullptr;
    const quarn::DocumentFilter* d = documents ? &*documents : nullptr;
    return PyLong_FromSize_t(take(without_gil([&] { return db->count(f, d); })));
  });
}

const PyMethodDef kCount = keyword_method(
    "count", count,
    "count($self, where_filter=None, *, where_document=None)\n--\n\nThe number of records matching a filter, or of "
    "all records. where_document filters on the words of the documents, as for search.");

// limit and offset: None or an int >= 0; ValueError naming the argument when negative.
std::optional<std::uint64_t> slice_arg(PyObject* obj, const char* name) {
  if (obj != nullptr && obj != Py_None && !PyBool_Check(obj)) {
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(obj));
    if (index && PyObject_RichCompareBool(index.ptr(), py::int_(0).ptr(), Py_LT) == 1) {
      raise(PyExc_ValueError, std::string(name) + " must be >= 0, got " + py::str(index).cast<std::string>());
    }
    PyErr_Clear();
  }
  return optional_unsigned_arg(obj, name);
}

PyObject* ids(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"where", "limit", "offset", "where_document", nullptr};
    PyObject* where_obj = nullptr;
    PyObject* limit_obj = nullptr;
    PyObject* offset_obj = nullptr;
    PyObject* document_obj = nullptr;
    parse_args(args, kwargs, "|OOO$O:ids", keywords, &where_obj, &limit_obj, &offset_obj, &document_obj);
    const std::optional<quarn::Filter> filter = parse_optional_filter(optional_dict_arg(where_obj, "where"));
    const std::optional<quarn::DocumentFilter> documents = parse_optional_document_filter(document_obj);
    const std::optional<std::uint64_t> limit = slice_arg(limit_obj, "limit");
    const std::uint64_t offset = slice_arg(offset_obj, "offset").value_or(0);
    auto db = engine_of(self);
    const quarn::Filter* f = filter ? &*filter : nullptr;
    const quarn::DocumentFilter* d = documents ? &*documents : nullptr;
    std::vector<std::string> ids = take(without_gil([&] {
      return db->ids_matching(f, d, static_cast<std::size_t>(offset),
                              limit ? std::optional<std::size_t>(static_cast<std::size_t>(*limit)) : std::nullopt);
    }));
    py::list out(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), py::str(ids[i]).release().ptr());
    }
    return out.release().ptr();
  });
}

const PyMethodDef kIds = keyword_method(
    "ids", ids,
    "ids($self, where=None, limit=None, offset=0, *, where_document=None)\n--\n\n"
    "Ids of the records matching the filter `where` (every record without one), as a list in\n"
    "the order the ids were first added; the first `offset` are skipped and at most `limit`\n"
    "returned. ValueError when limit or offset is negative. where_document filters on the words\n"
    "of the documents, as for search.");

}  // namespace

std::vector<PyMethodDef> read_methods() { return {kGet, kGetMany, kCount, kIds}; }

}  // namespace quarn_py
