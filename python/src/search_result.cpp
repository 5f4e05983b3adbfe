#include "search_result.h"

#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "args.h"
#include "convert.h"

namespace quarn_py {

namespace {

struct SearchResultObject {
  PyObject_HEAD
  std::string id;
  float distance;
  std::optional<std::string> metadata;  // compact JSON text
};

PyTypeObject* the_type = nullptr;

SearchResultObject* as_result(PyObject* self) { return reinterpret_cast<SearchResultObject*>(self); }

void result_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  SearchResultObject* obj = as_result(self);
  std::destroy_at(&obj->id);
  std::destroy_at(&obj->metadata);
  type->tp_free(self);
  Py_DECREF(type);
}

py::object id_of(SearchResultObject* obj) { return py::str(obj->id); }
py::object distance_of(SearchResultObject* obj) { return py::float_(static_cast<double>(obj->distance)); }
py::object metadata_of(SearchResultObject* obj) {
  if (!obj->metadata) return py::none();
  return json_text_to_python(*obj->metadata);
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

PyObject* member_at(PyObject* self, std::uint64_t index) {
  SearchResultObject* obj = as_result(self);
  switch (index) {
    case 0: return id_of(obj).release().ptr();
    case 1: return distance_of(obj).release().ptr();
    case 2: return metadata_of(obj).release().ptr();
    default: raise(PyExc_IndexError, "index out of range");
  }
}

PyObject* result_subscript(PyObject* self, PyObject* key) {
  return guarded([&] { return member_at(self, unsigned_arg(key, "index")); });
}

// Used by iteration and unpacking, which stop at the IndexError after the third member.
PyObject* result_item(PyObject* self, Py_ssize_t index) {
  return guarded([&] {
    if (index < 0) raise(PyExc_OverflowError, "can't convert negative int to unsigned");
    return member_at(self, static_cast<std::uint64_t>(index));
  });
}

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
    {"metadata", get_metadata, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot result_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(result_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(result_repr)},
    {Py_tp_getset, result_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(result_subscript)},
    {Py_sq_item, reinterpret_cast<void*>(result_item)},
    {0, nullptr},
};

#ifdef Py_TPFLAGS_DISALLOW_INSTANTIATION
constexpr unsigned long kResultFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long kResultFlags = Py_TPFLAGS_DEFAULT;
#endif

PyType_Spec result_spec = {"_quarn.SearchResult", static_cast<int>(sizeof(SearchResultObject)), 0,
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

py::object make_search_result(quarn::SearchResult&& hit) {
  std::optional<std::string> metadata;
  if (hit.metadata) metadata = quarn::json_dump(*hit.metadata);
  PyObject* self = the_type->tp_alloc(the_type, 0);
  if (self == nullptr) throw py::error_already_set();
  SearchResultObject* obj = as_result(self);
  new (&obj->id) std::string(std::move(hit.id));
  obj->distance = hit.distance;
  new (&obj->metadata) std::optional<std::string>(std::move(metadata));
  return py::reinterpret_steal<py::object>(self);
}

py::list make_result_list(std::vector<quarn::SearchResult>&& hits) {
  py::list out(hits.size());
  for (std::size_t i = 0; i < hits.size(); ++i) {
    PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), make_search_result(std::move(hits[i])).release().ptr());
  }
  return out;
}

}  // namespace quarn_py
