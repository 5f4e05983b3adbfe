#include "search_result.h"

#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "args.h"
#include "documents.h"
#include "json_convert.h"
#include "vector_convert.h"

namespace quarn_py {

namespace {

struct SearchResultObject {
  PyObject_HEAD
  std::string id;
  float distance;
  std::optional<std::string> metadata;  // compact JSON text
  PyObject* vector;                     // float32 array, or null when not asked for
  std::optional<std::string> document;  // when asked for and the record has one
};

PyTypeObject* the_type = nullptr;

SearchResultObject* as_result(PyObject* self) { return reinterpret_cast<SearchResultObject*>(self); }

void result_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  SearchResultObject* obj = as_result(self);
  std::destroy_at(&obj->id);
  std::destroy_at(&obj->metadata);
  std::destroy_at(&obj->document);
  Py_XDECREF(obj->vector);
  type->tp_free(self);
  Py_DECREF(type);
}

py::object id_of(SearchResultObject* obj) { return py::str(obj->id); }
py::object distance_of(SearchResultObject* obj) { return py::float_(static_cast<double>(obj->distance)); }
py::object metadata_of(SearchResultObject* obj) {
  if (!obj->metadata) return py::none();
  return json_text_to_python(*obj->metadata);
}

py::object vector_of(SearchResultObject* obj) {
  if (obj->vector == nullptr) return py::none();
  return py::reinterpret_borrow<py::object>(obj->vector);
}

PyObject* get_id(PyObject* self, void*) {
  return guarded([&] { return id_of(as_result(self)).release().ptr(); });
}
PyObject* get_distance(PyObject* self, void*) {
  return guarded([&] { return distance_of(as_result(self)).release().ptr(); });
}
PyObject* get_metadata(PyObject* self, void*) {
  return guarded([&] { return metadata_of(as_result(self)).release().ptr(); });
}

PyObject* get_vector(PyObject* self, void*) {
  return guarded([&] { return vector_of(as_result(self)).release().ptr(); });
}

PyObject* get_document(PyObject* self, void*) {
  return guarded([&] { return document_to_python(as_result(self)->document).release().ptr(); });
}

// Indexes like the tuple (id, distance, metadata): -3 to 2, IndexError otherwise.
PyObject* member_at(PyObject* self, Py_ssize_t index) {
  SearchResultObject* obj = as_result(self);
  if (index < 0) index += 3;
  switch (index) {
    case 0: return id_of(obj).release().ptr();
    case 1: return distance_of(obj).release().ptr();
    case 2: return metadata_of(obj).release().ptr();
    default: raise(PyExc_IndexError, "SearchResult index out of range");
  }
}

PyObject* result_subscript(PyObject* self, PyObject* key) {
  return guarded([&] {
    PyObject* index = PyNumber_Index(key);
    if (index == nullptr) {
      PyErr_Clear();
      raise(PyExc_TypeError, "SearchResult indices must be integers, not '" + type_name(key) + "'");
    }
    const Py_ssize_t i = PyLong_AsSsize_t(index);
    Py_DECREF(index);
    if (i == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      raise(PyExc_IndexError, "SearchResult index out of range");
    }
    return member_at(self, i);
  });
}

// Used by iteration and unpacking, which stop at the IndexError after the third member.
PyObject* result_item(PyObject* self, Py_ssize_t index) {
  return guarded([&] { return member_at(self, index); });
}

Py_ssize_t result_length(PyObject*) { return 3; }

PyObject* result_repr(PyObject* self) {
  return guarded([&] {
    SearchResultObject* obj = as_result(self);
    char distance[64];
    std::snprintf(distance, sizeof distance, "%.4f", static_cast<double>(obj->distance));
    const std::string text = "SearchResult(id='" + obj->id + "', distance=" + distance + ")";
    return py::str(text).release().ptr();
  });
}

PyGetSetDef result_getset[] = {
    {"id", get_id, nullptr, nullptr, nullptr},
    {"distance", get_distance, nullptr, nullptr, nullptr},
    {"metadata", get_metadata, nullptr,
     "The hit's metadata as a new dict at every access, or None when it has none.", nullptr},
    {"vector", get_vector, nullptr,
     "The hit's vector as a float32 array when the search asked for include_vectors, else None.", nullptr},
    {"document", get_document, nullptr,
     "The hit's document when the search asked for include_documents and it has one, else None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* kResultDoc =
    "One nearest-neighbour hit: .id, .distance (smaller is nearer), .metadata, .vector and .document.\n"
    "It also indexes and unpacks like the tuple (id, distance, metadata).";

PyType_Slot result_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(result_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(result_repr)},
    {Py_tp_getset, result_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(result_subscript)},
    {Py_sq_item, reinterpret_cast<void*>(result_item)},
    {Py_sq_length, reinterpret_cast<void*>(result_length)},
    {Py_tp_doc, const_cast<char*>(kResultDoc)},
    {0, nullptr},
};

#ifdef Py_TPFLAGS_DISALLOW_INSTANTIATION
constexpr unsigned long kResultFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long kResultFlags = Py_TPFLAGS_DEFAULT;
#endif

PyType_Spec result_spec = {"quarn.SearchResult", static_cast<int>(sizeof(SearchResultObject)), 0,
                           static_cast<unsigned int>(kResultFlags), result_slots};

}  // namespace

PyObject* search_result_type() {
  if (the_type == nullptr) {
    PyObject* type = PyType_FromSpec(&result_spec);
    if (type == nullptr) return nullptr;
#ifndef Py_TPFLAGS_DISALLOW_INSTANTIATION
    reinterpret_cast<PyTypeObject*>(type)->tp_new = nullptr;
#endif
    the_type = reinterpret_cast<PyTypeObject*>(type);  // one reference kept for the process
  }
  Py_INCREF(the_type);
  return reinterpret_cast<PyObject*>(the_type);
}

py::object make_search_result(quarn::SearchResult&& hit, const std::vector<float>* vector) {
  std::optional<std::string> metadata;
  if (hit.metadata) metadata = quarn::json_dump(*hit.metadata);
  PyObject* self = the_type->tp_alloc(the_type, 0);
  if (self == nullptr) throw py::error_already_set();
  SearchResultObject* obj = as_result(self);
  new (&obj->id) std::string(std::move(hit.id));
  obj->distance = hit.distance;
  new (&obj->metadata) std::optional<std::string>(std::move(metadata));
  obj->vector = nullptr;
  new (&obj->document) std::optional<std::string>(std::move(hit.document));
  py::object result = py::reinterpret_steal<py::object>(self);
  if (vector != nullptr) obj->vector = float_array(vector->data(), vector->size()).release().ptr();
  return result;
}

py::list make_result_list(std::vector<quarn::SearchResult>&& hits,
                          const std::vector<std::optional<std::vector<float>>>* vectors) {
  py::list out(hits.size());
  for (std::size_t i = 0; i < hits.size(); ++i) {
    const std::vector<float>* vector = nullptr;
    if (vectors != nullptr && (*vectors)[i]) vector = &*(*vectors)[i];
    PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i),
                    make_search_result(std::move(hits[i]), vector).release().ptr());
  }
  return out;
}

}  // namespace quarn_py
