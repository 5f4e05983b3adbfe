// delete_where: deleting the records a metadata filter matches, in one batch.
#include <optional>
#include <vector>

#include "args.h"
#include "database_object.h"
#include "filter_parse.h"

namespace quarn_py {

namespace {

PyObject* delete_where(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"where_filter", nullptr};
    PyObject* filter_obj = nullptr;
    parse_args(args, kwargs, "O:delete_where", keywords, &filter_obj);
    PyObject* filter_dict = optional_dict_arg(filter_obj, "where_filter");
    // An empty filter matches every record with metadata: too easy to pass by mistake to be
    // taken as "delete nearly everything".
    if (filter_dict == nullptr || PyDict_Size(filter_dict) == 0) {
      raise(PyExc_ValueError, "delete_where needs a filter with at least one condition");
    }
    const quarn::Filter filter = parse_filter(filter_dict);
    auto db = engine_of(self);
    return PyLong_FromSize_t(take(without_gil([&] { return db->delete_where(filter); })));
  });
}

const PyMethodDef kDeleteWhere = keyword_method(
    "delete_where", delete_where,
    "delete_where($self, where_filter)\n--\n\n"
    "Delete every record matching a metadata filter (as for search) in one batch; returns how\n"
    "many. The batch is all or nothing, also across a crash. The filter must hold a condition.");

}  // namespace

std::vector<PyMethodDef> delete_where_methods() { return {kDeleteWhere}; }

}  // namespace quarn_py
