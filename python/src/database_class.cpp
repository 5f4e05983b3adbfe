#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "args.h"
#include "database_object.h"

namespace quarn_py {

namespace {

PyTypeObject* the_type = nullptr;

constexpr const char* kNotFound = "database not found \u2014 specify dim to create a new one";

// Open-only mode words every failure as "database not found", except the two that say what to
// do about a database that is there: another writer holds it, or its snapshot is incomplete
// (damage to the directory as a whole, which names no single file).
[[noreturn]] void raise_open_error(const quarn::QuarnError& error, bool open_only) {
  const bool passes = error.kind() == quarn::QuarnError::Kind::Locked ||
                      (error.kind() == quarn::QuarnError::Kind::Corrupt && error.file().empty());
  if (open_only && !passes) raise(PyExc_ValueError, kNotFound);
  raise_engine(error);
}

PyObject* db_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"path",     "dim",       "metric", "m", "ef_construction",
                                           "quantize", "read_only", nullptr};
    PyObject* path_obj = nullptr;
    PyObject* dim_obj = nullptr;
    PyObject* metric_obj = nullptr;
    PyObject* m_obj = nullptr;
    PyObject* ef_obj = nullptr;
    PyObject* quantize_obj = nullptr;
    PyObject* read_only_obj = nullptr;
    parse_args(args, kwargs, "O|OOOOOO:Database", keywords, &path_obj, &dim_obj, &metric_obj, &m_obj, &ef_obj,
               &quantize_obj, &read_only_obj);
    const std::string path = path_arg(path_obj, "path");
    quarn::OpenOptions options;
    options.dim = optional_unsigned_arg(dim_obj, "dim");
    options.metric = optional_string_arg(metric_obj, "metric");
    options.m = optional_unsigned_arg(m_obj, "m");
    options.ef_construction = optional_unsigned_arg(ef_obj, "ef_construction");
    options.quantize = quantize_obj != nullptr && bool_arg(quantize_obj, "quantize");
    options.read_only = read_only_obj != nullptr && bool_arg(read_only_obj, "read_only");

    auto opened = without_gil([&] { return quarn::Database::open(path, options); });
    if (!opened.ok()) {
      // A reader never creates, so "specify dim" would be no advice: it gets the engine's text.
      raise_open_error(opened.error(), !options.dim.has_value() && !options.read_only);
    }
    std::shared_ptr<quarn::Database> engine = std::move(*opened);

    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) throw py::error_already_set();  // the engine is dropped on unwinding
    new (&reinterpret_cast<DatabaseObject*>(self)->engine) std::shared_ptr<quarn::Database>(std::move(engine));
    new (&reinterpret_cast<DatabaseObject*>(self)->path) std::string(path);
    return self;
  });
}

// Drops the engine: the log is flushed and closed; nothing is saved.
void db_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&reinterpret_cast<DatabaseObject*>(self)->engine);
  std::destroy_at(&reinterpret_cast<DatabaseObject*>(self)->path);
  type->tp_free(self);
  Py_DECREF(type);
}

Py_ssize_t db_len(PyObject* self) {
  return guarded_as<Py_ssize_t>(-1, [&] {
    auto db = engine_of(self);
    const std::size_t size = without_gil([&] { return db->size(); });
    if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) raise(PyExc_OverflowError, "length too large");
    return static_cast<Py_ssize_t>(size);
  });
}

int db_contains(PyObject* self, PyObject* key) {
  return guarded_as<int>(-1, [&] {
    auto db = engine_of(self);
    const std::string id = string_arg(key, "id");
    return without_gil([&] { return db->contains(id); }) ? 1 : 0;
  });
}

// Reads one property of the engine without the interpreter lock.
template <class F>
PyObject* read_property(PyObject* self, F&& read) {
  return guarded([&] {
    auto db = engine_of(self);
    auto value = without_gil([&] { return read(*db); });
    return py::cast(value).release().ptr();
  });
}

PyObject* get_dim(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.dim(); });
}

PyObject* get_metric(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.metric_name(); });
}

PyObject* get_total_slots(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.total_slots(); });
}

PyObject* get_deleted_count(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.deleted_count(); });
}

PyObject* get_quantized_search(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.quantized_search(); });
}

PyObject* get_read_only(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.read_only(); });
}

PyObject* get_closed(PyObject* self, void*) {
  return PyBool_FromLong(reinterpret_cast<DatabaseObject*>(self)->engine == nullptr);
}

PyObject* get_path(PyObject* self, void*) {
  return guarded([&] { return py::str(reinterpret_cast<DatabaseObject*>(self)->path).release().ptr(); });
}

// Database(path='data/x', dim=3, metric='cosine', count=2), or closed=True after close().
PyObject* db_repr(PyObject* self) {
  return guarded([&] {
    auto* object = reinterpret_cast<DatabaseObject*>(self);
    const std::string path = py::repr(py::str(object->path)).cast<std::string>();
    std::string text = std::string(Py_TYPE(self)->tp_name);
    if (const char* dot = std::strrchr(text.c_str(), '.')) text = dot + 1;
    text += "(path=" + path;
    std::shared_ptr<quarn::Database> db = object->engine;
    if (!db) return py::str(text + ", closed=True)").release().ptr();
    struct Figures {
      std::size_t dim, count;
      std::string metric;
      bool read_only;
    };
    const Figures f = without_gil([&] { return Figures{db->dim(), db->size(), db->metric_name(), db->read_only()}; });
    text += ", dim=" + std::to_string(f.dim) + ", metric='" + f.metric + "', count=" + std::to_string(f.count);
    if (f.read_only) text += ", read_only=True";
    return py::str(text + ")").release().ptr();
  });
}

template <PyObject* (*F)(PyObject*, PyObject*, PyObject*)>
PyCFunction with_keywords() {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(F));
}

constexpr int kKw = METH_VARARGS | METH_KEYWORDS;

PyMethodDef db_methods[] = {
    {"add", with_keywords<db_add>(), kKw,
     "add($self, id, vector, metadata=None, document=None)\n--\n\n"
     "Add a new record. ValueError if the id already exists (use upsert to replace it).\n"
     "document is an optional str of at most 16 MiB of UTF-8 kept with the record."},
    {"upsert", with_keywords<db_upsert>(), kKw,
     "upsert($self, id, vector, metadata=None, document=None)\n--\n\n"
     "Add a record, or replace the vector, the whole metadata and the document of an existing one."},
    {"add_many", with_keywords<db_add_many>(), kKw,
     "add_many($self, ids, vectors, metadatas=None, *, progress=None, documents=None)\n--\n\n"
     "Add new records in one all-or-nothing batch. Every id must be new and appear once;\n"
     "vectors is a 2-D numeric array or a sequence of sequences; metadatas a list of dicts\n"
     "and Nones as long as ids; documents a list of str and Nones as long as ids.\n\n"
     "progress, a callable, is called as progress(rows_done, rows_total) in steps of about 1%\n"
     "while the records are linked into the graph, and last with rows_done == rows_total. An\n"
     "exception it raises stops the reports but not the write: the batch is written in full,\n"
     "then the exception is raised."},
    {"upsert_many", with_keywords<db_upsert_many>(), kKw,
     "upsert_many($self, ids, vectors, metadatas=None, *, progress=None, documents=None)\n--\n\n"
     "Add or replace records in one all-or-nothing batch; for an id given twice the last\n"
     "occurrence wins. progress works as for add_many."},
    {"update", with_keywords<db_update>(), kKw,
     "update($self, id, vector=None, metadata=None, document=...)\n--\n\n"
     "Change the vector and/or the metadata of an existing record, keeping what is not given.\n"
     "document: a str replaces the record's document, None removes it, omitted (or ...) keeps it."},
    {"get", with_keywords<db_get>(), kKw,
     "get($self, id)\n--\n\n"
     "The record's (vector as a list of floats, metadata or None); ValueError if not found."},
    {"get_many", with_keywords<db_get_many>(), kKw,
     "get_many($self, ids, include_vectors=True, include_documents=False)\n--\n\n"
     "Many records in one call: (vectors as a float32 array of shape (len(ids), dim), or None\n"
     "without include_vectors; list of metadata dicts or None), with include_documents a third\n"
     "member, the list of documents (str or None). ValueError naming the first id that is not\n"
     "there."},
    {"delete", with_keywords<db_delete>(), kKw,
     "delete($self, id)\n--\n\nDelete a record; True if it was there, False otherwise."},
    {"delete_many", with_keywords<db_delete_many>(), kKw,
     "delete_many($self, ids)\n--\n\nDelete records in one batch; returns how many were there."},
    {"search", with_keywords<db_search>(), kKw,
     "search($self, vector, k=10, ef_search=None, where_filter=None, max_distance=None, include_vectors=False, "
     "include_documents=False)\n"
     "--\n\n"
     "The k nearest records as a list of SearchResult (.id, .distance, .metadata, .vector,\n"
     ".document), nearest first. ef_search widens the graph beam; where_filter is a metadata\n"
     "filter such as {\"color\": \"red\", \"price\": {\"$lt\": 20}}; max_distance drops farther\n"
     "hits; include_vectors fills .vector and include_documents .document."},
    {"search_many", with_keywords<db_search_many>(), kKw,
     "search_many($self, vectors, k=10, ef_search=None, where_filter=None, max_distance=None, "
     "include_vectors=False, include_documents=False)\n--\n\n"
     "search for each row of vectors, in parallel: a list of lists of SearchResult."},
    {"search_many_arrays", with_keywords<db_search_many_arrays>(), kKw,
     "search_many_arrays($self, vectors, k=10, ef_search=None, where_filter=None, max_distance=None)\n--\n\n"
     "search_many with NumPy results and no Python object per hit: a tuple (ids, distances,\n"
     "counts) of a str array of shape (n, k), a float32 array of shape (n, k) and an int64\n"
     "array of shape (n,). Row i holds counts[i] hits; the rest of it is '' and inf."},
    {"count", with_keywords<db_count>(), kKw,
     "count($self, where_filter=None)\n--\n\nThe number of records matching a filter, or of all records."},
    {"ids", with_keywords<db_ids>(), kKw,
     "ids($self, where=None, limit=None, offset=0)\n--\n\n"
     "Ids of the records matching the filter `where` (every record without one), as a list in\n"
     "the order the ids were first added; the first `offset` are skipped and at most `limit`\n"
     "returned. ValueError when limit or offset is negative."},
    {"save", db_save, METH_NOARGS,
     "save($self)\n--\n\nWrite a snapshot (synced to disk) and start a new empty log."},
    {"compact", db_compact, METH_NOARGS,
     "compact($self)\n--\n\n"
     "Rebuild the index with only live vectors, reclaiming deleted slots.\n"
     "Call this after many deletes to reduce memory usage and disk size."},
    {"verify", db_verify, METH_NOARGS,
     "verify($self)\n--\n\n"
     "Check that the id map, the tables, the metadata index and the graph agree; a list of\n"
     "the disagreements found (empty when consistent)."},
    {"enable_quantized_search", db_enable_quantized_search, METH_NOARGS,
     "enable_quantized_search($self)\n--\n\n"
     "Enable quantized search: uses SQ8 quantized vectors for faster HNSW traversal\n"
     "with full-precision re-ranking. Automatically enabled when quantize=True is set."},
    {"disable_quantized_search", db_disable_quantized_search, METH_NOARGS,
     "disable_quantized_search($self)\n--\n\nDisable quantized search."},
    {"stats", db_stats, METH_NOARGS,
     "stats($self)\n--\n\n"
     "Get graph-level statistics for diagnostics.\n"
     "Returns a dict with keys: num_vectors, num_deleted, num_layers, avg_degree_layer0,\n"
     "max_degree_layer0, min_degree_layer0, memory_vectors_bytes, memory_graph_bytes,\n"
     "memory_quantized_bytes, uses_brute_force, uses_quantized_search."},
    {"__enter__", db_enter, METH_NOARGS, "__enter__($self)\n--\n\nContext manager: auto-save and close on exit."},
    {"__exit__", with_keywords<db_exit>(), kKw,
     "__exit__($self, _exc_type=None, _exc_val=None, _exc_tb=None)\n--\n\n"
     "Save (unless read-only) and close; the block's exception propagates."},
    {"close", db_close, METH_NOARGS,
     "close($self)\n--\n\n"
     "Release the database: the log is closed and the directory's writer lock freed; nothing\n"
     "is saved. Calling it again does nothing; any other use afterwards raises ValueError."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef db_getset[] = {
    {"path", get_path, nullptr, "The directory, as given when opening.", nullptr},
    {"dim", get_dim, nullptr, "Number of components of every vector.", nullptr},
    {"metric", get_metric, nullptr, "'cosine', 'euclidean' or 'dot_product'.", nullptr},
    {"total_slots", get_total_slots, nullptr, "Total allocated slots (active + deleted).", nullptr},
    {"deleted_count", get_deleted_count, nullptr, "Number of deleted slots that haven't been reclaimed.", nullptr},
    {"quantized_search", get_quantized_search, nullptr, "Whether quantized search is currently enabled.", nullptr},
    {"read_only", get_read_only, nullptr, "Whether the database was opened with read_only=True.", nullptr},
    {"closed", get_closed, nullptr, "Whether close() has been called.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The class text signature comes from this docstring; the class docstring itself is empty.
constexpr const char* kClassDoc =
    "Database(path, dim=None, metric=None, m=None, ef_construction=None, quantize=False, read_only=False)\n--\n\n"
    "A vector database in the directory `path` (str or os.PathLike). With dim it is created\n"
    "when missing; without dim it must exist. read_only opens a reader beside the writer.";

PyType_Slot db_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(db_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(db_dealloc)},
    {Py_tp_methods, db_methods},
    {Py_tp_getset, db_getset},
    {Py_sq_length, reinterpret_cast<void*>(db_len)},
    {Py_sq_contains, reinterpret_cast<void*>(db_contains)},
    {Py_tp_doc, const_cast<char*>(kClassDoc)},
    {Py_tp_repr, reinterpret_cast<void*>(db_repr)},
    {0, nullptr},
};

#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned long kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
#endif

PyType_Spec db_spec = {"quarn._quarn.Database", static_cast<int>(sizeof(DatabaseObject)), 0,
                       static_cast<unsigned int>(kFlags), db_slots};

}  // namespace

std::shared_ptr<quarn::Database> engine_of(PyObject* self) {
  std::shared_ptr<quarn::Database> db = reinterpret_cast<DatabaseObject*>(self)->engine;
  if (!db) raise(PyExc_ValueError, "database is closed");
  return db;
}

PyObject* database_type() {
  if (the_type == nullptr) {
    PyObject* type = PyType_FromSpec(&db_spec);
    if (type == nullptr) return nullptr;
    the_type = reinterpret_cast<PyTypeObject*>(type);  // one reference kept for the process
  }
  Py_INCREF(the_type);
  return reinterpret_cast<PyObject*>(the_type);
}

}  // namespace quarn_py
