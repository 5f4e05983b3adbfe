// The class Database: its construction, properties, context manager and close, and the one
// method table its parts contribute to.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "args.h"
#include "database_object.h"

namespace quarn_py {

namespace {

PyTypeObject* the_type = nullptr;

constexpr const char* kNotFound = "database not found \u2014 specify dim to create a new one";

// Open-only mode words every failure as "database not found", except those that say what to
// do about a database that is there: another writer holds it, its snapshot is incomplete
// (damage to the directory as a whole, which names no single file), or the arguments do not
// fit it (keyword settings other than its own).
[[noreturn]] void raise_open_error(const quarn::QuarnError& error, bool open_only) {
  // Damage a checksum found (in the log, or against the manifest) says where it is, and that
  // recover=True opens what can be saved: it is never worded as a missing database.
  const bool checksum = error.kind() == quarn::QuarnError::Kind::Corrupt &&
                        error.detail().find("fails its checksum") != std::string::npos;
  const bool passes = error.kind() == quarn::QuarnError::Kind::Locked || checksum ||
                      error.kind() == quarn::QuarnError::Kind::InvalidArgument ||
                      (error.kind() == quarn::QuarnError::Kind::Corrupt && error.file().empty());
  if (open_only && !passes) raise(PyExc_ValueError, kNotFound);
  raise_engine(error);
}

// "flush" (the default) or "sync"; chosen per open, never stored.
quarn::Durability durability_arg(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return quarn::Durability::Flush;
  const std::optional<std::string> word = optional_string_arg(obj, "durability");
  if (word == "flush") return quarn::Durability::Flush;
  if (word == "sync") return quarn::Durability::Sync;
  raise(PyExc_ValueError, "durability must be 'flush' or 'sync', got '" + word.value_or("") + "'");
}

// keyword={"stemmer": "english" | None, "stop_words": "english" | None, "k1": float, "b": float},
// every key optional (missing ones keep their defaults).
std::optional<quarn::KeywordSettings> keyword_arg(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return std::nullopt;
  if (!PyDict_Check(obj)) raise(PyExc_ValueError, "keyword must be a dict of settings, not '" + type_name(obj) + "'");
  quarn::KeywordSettings settings;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  Py_ssize_t pos = 0;
  while (PyDict_Next(obj, &pos, &key, &value)) {
    std::string name;
    if (!PyUnicode_Check(key) || !utf8_of(key, name)) {
      PyErr_Clear();
      raise(PyExc_ValueError, "keyword settings are named by str");
    }
    if (name == "stemmer" || name == "stop_words") {
      std::string word;
      const bool english = PyUnicode_Check(value) && utf8_of(value, word) && word == "english";
      PyErr_Clear();
      if (value != Py_None && !english) raise(PyExc_ValueError, "keyword " + name + " must be 'english' or None");
      (name == "stemmer" ? settings.english_stemming : settings.english_stop_words) = english;
    } else if (name == "k1" || name == "b") {
      const std::optional<float> number = optional_float_arg(value, name == "k1" ? "k1" : "b");
      if (!number) raise(PyExc_ValueError, "keyword " + name + " must be a number");
      (name == "k1" ? settings.k1 : settings.b) = *number;
    } else {
      raise(PyExc_ValueError, "unknown keyword setting '" + name + "'; use stemmer, stop_words, k1 or b");
    }
  }
  return settings;
}

PyObject* db_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    static const char* const keywords[] = {"path",     "dim",       "metric", "m", "ef_construction",
                                           "quantize", "read_only", "durability", "keyword", "recover",
                                           "vectors_in_memory", nullptr};
    PyObject* path_obj = nullptr;
    PyObject* dim_obj = nullptr;
    PyObject* metric_obj = nullptr;
    PyObject* m_obj = nullptr;
    PyObject* ef_obj = nullptr;
    PyObject* quantize_obj = nullptr;
    PyObject* read_only_obj = nullptr;
    PyObject* durability_obj = nullptr;
    PyObject* keyword_obj = nullptr;
    PyObject* recover_obj = nullptr;
    PyObject* in_memory_obj = nullptr;
    parse_args(args, kwargs, "O|OOOOOO$OOOO:Database", keywords, &path_obj, &dim_obj, &metric_obj, &m_obj, &ef_obj,
               &quantize_obj, &read_only_obj, &durability_obj, &keyword_obj,
               &recover_obj, &in_memory_obj);
    const std::string path = path_arg(path_obj, "path");
    quarn::OpenOptions options;
    options.dim = optional_unsigned_arg(dim_obj, "dim");
    options.metric = optional_string_arg(metric_obj, "metric");
    options.m = optional_unsigned_arg(m_obj, "m");
    options.ef_construction = optional_unsigned_arg(ef_obj, "ef_construction");
    options.quantize = quantize_obj != nullptr && bool_arg(quantize_obj, "quantize");
    options.read_only = read_only_obj != nullptr && bool_arg(read_only_obj, "read_only");
    options.durability = durability_arg(durability_obj);
    options.keyword = keyword_arg(keyword_obj);
    options.recover = recover_obj != nullptr && bool_arg(recover_obj, "recover");
    if (in_memory_obj != nullptr && in_memory_obj != Py_None) {
      options.vectors_in_memory = bool_arg(in_memory_obj, "vectors_in_memory");
    }

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

PyObject* get_m(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.m(); });
}

PyObject* get_ef_construction(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.ef_construction(); });
}

PyObject* get_vectors_in_memory(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.vectors_in_memory(); });
}

PyObject* get_quantized_search(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.quantized_search(); });
}

PyObject* get_read_only(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) { return db.read_only(); });
}

PyObject* get_durability(PyObject* self, void*) {
  return read_property(self, [](const quarn::Database& db) {
    return std::string(db.durability() == quarn::Durability::Sync ? "sync" : "flush");
  });
}

PyObject* get_keyword(PyObject* self, void*) {
  return guarded([&] {
    auto db = engine_of(self);
    const quarn::KeywordSettings s = db->keyword_settings();
    py::dict out;
    out["stemmer"] = s.english_stemming ? py::object(py::str("english")) : py::object(py::none());
    out["stop_words"] = s.english_stop_words ? py::object(py::str("english")) : py::object(py::none());
    out["k1"] = py::float_(static_cast<double>(s.k1));
    out["b"] = py::float_(static_cast<double>(s.b));
    return out.release().ptr();
  });
}

PyObject* get_recovery_report(PyObject* self, void*) {
  return guarded([&] {
    auto db = engine_of(self);
    py::list out;
    for (const quarn::RecoveryNote& note : db->recovery_report()) {
      py::dict entry;
      entry["file"] = py::str(note.file);
      entry["kind"] = py::str(note.kind);
      entry["offset"] = py::int_(note.offset);
      entry["bytes"] = py::int_(note.bytes);
      entry["records"] = py::int_(note.records);
      entry["message"] = py::str(note.message);
      out.append(entry);
    }
    return out.release().ptr();
  });
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

PyObject* enter_block(PyObject* self, PyObject*) {
  return guarded([&] {
    engine_of(self);  // a closed database cannot be entered again
    Py_INCREF(self);
    return self;
  });
}

const PyMethodDef kEnter =
    no_args_method("__enter__", enter_block, "__enter__($self)\n--\n\nContext manager: auto-save and close on exit.");

// Saves, also when the block raised, then closes, so that the directory is free for the next
// writer once the block is left. Returns False so that the block's exception propagates. A
// failed save raises and leaves the database open, to be saved again; every acknowledged write
// is in the log meanwhile. A database closed inside the block has nothing left to do.
PyObject* exit_block(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"_exc_type", "_exc_val", "_exc_tb", nullptr};
    PyObject* exc_type = nullptr;
    PyObject* exc_val = nullptr;
    PyObject* exc_tb = nullptr;
    parse_args(args, kwargs, "|OOO:__exit__", keywords, &exc_type, &exc_val, &exc_tb);
    std::shared_ptr<quarn::Database> db = reinterpret_cast<DatabaseObject*>(self)->engine;
    if (!db) Py_RETURN_FALSE;
    if (!db->read_only()) check(without_gil([&] { return db->save(); }));
    reinterpret_cast<DatabaseObject*>(self)->engine.reset();
    without_gil([&] {
      db.reset();  // the last reference, unless a call in another thread still runs
      return 0;
    });
    Py_RETURN_FALSE;
  });
}

const PyMethodDef kExit = keyword_method(
    "__exit__", exit_block,
    "__exit__($self, _exc_type=None, _exc_val=None, _exc_tb=None)\n--\n\n"
    "Save (unless read-only) and close; the block's exception propagates.");

// Drops this object's reference to the engine: the log is flushed and closed and the writer
// lock released (once a call running in another thread has returned); nothing is saved.
PyObject* close_engine(PyObject* self, PyObject*) {
  return guarded([&] {
    std::shared_ptr<quarn::Database> db = std::move(reinterpret_cast<DatabaseObject*>(self)->engine);
    // The engine may be destroyed here; its destructor takes no engine lock but may close files.
    without_gil([&] {
      db.reset();
      return 0;
    });
    return none();
  });
}

const PyMethodDef kClose = no_args_method(
    "close", close_engine,
    "close($self)\n--\n\n"
    "Release the database: the log is closed and the directory's writer lock freed; nothing\n"
    "is saved. Calling it again does nothing; any other use afterwards raises ValueError.");

// One table for the class, kept for the process: every part's methods, then the context manager
// and close.
PyMethodDef* method_table() {
  static std::vector<PyMethodDef> table = [] {
    std::vector<PyMethodDef> out;
    for (auto part : {write_methods(), read_methods(), search_methods(), keyword_methods(), maintenance_methods(),
                      delete_where_methods()}) {
      out.insert(out.end(), part.begin(), part.end());
    }
    out.insert(out.end(), {kEnter, kExit, kClose, PyMethodDef{nullptr, nullptr, 0, nullptr}});
    return out;
  }();
  return table.data();
}

PyGetSetDef db_getset[] = {
    {"path", get_path, nullptr, "The directory, as given when opening.", nullptr},
    {"dim", get_dim, nullptr, "Number of components of every vector.", nullptr},
    {"metric", get_metric, nullptr, "'cosine', 'euclidean' or 'dot_product'.", nullptr},
    {"total_slots", get_total_slots, nullptr, "Total allocated slots (active + deleted).", nullptr},
    {"deleted_count", get_deleted_count, nullptr, "Number of deleted slots that haven't been reclaimed.", nullptr},
    {"m", get_m, nullptr, "Links per node above layer 0 (twice that on layer 0), as stored.", nullptr},
    {"ef_construction", get_ef_construction, nullptr, "Beam width of graph construction, as stored.", nullptr},
    {"quantized_search", get_quantized_search, nullptr, "Whether quantized search is currently enabled.", nullptr},
    {"vectors_in_memory", get_vectors_in_memory, nullptr, "Whether full vectors are held in memory.", nullptr},
    {"read_only", get_read_only, nullptr, "Whether the database was opened with read_only=True.", nullptr},
    {"closed", get_closed, nullptr, "Whether close() has been called.", nullptr},
    {"durability", get_durability, nullptr, "'flush' or 'sync', as chosen when opening.", nullptr},
    {"keyword", get_keyword, nullptr, "The keyword index's settings, as stored: a dict of stemmer, stop_words, k1, b.",
     nullptr},
    {"recovery_report", get_recovery_report, nullptr,
     "What the open left out or found damaged, as dicts with file, kind ('torn_tail', 'damage' or\n"
     "'checksum'), offset, bytes, records and message; empty when it read everything.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// The class text signature comes from this docstring; the class docstring itself is empty.
constexpr const char* kClassDoc =
    "Database(path, dim=None, metric=None, m=None, ef_construction=None, quantize=False, read_only=False, "
    "*, durability='flush', keyword=None, recover=False, vectors_in_memory=None)\n--\n\n"
    "A vector database in the directory `path` (str or os.PathLike). With dim it is created\n"
    "when missing; without dim it must exist. read_only opens a reader beside the writer.\n"
    "durability='sync' returns from each write only once its log record is on the disk.\n"
    "keyword: the keyword index's settings, chosen at creation and stored ({\"stemmer\": \"english\",\n"
    "\"stop_words\": \"english\", \"k1\": 1.2, \"b\": 0.75}, any key left out keeps its default);\n"
    "given at a reopen they must equal the stored ones (ValueError naming both).\n"
    "recover=True opens what can be saved from a damaged directory (see recovery_report).\n"
    "vectors_in_memory=False keeps full vectors on disk, read only to re-rank search results;\n"
    "a writer stores the choice in the directory (None keeps the stored one).";

#ifdef Py_TPFLAGS_IMMUTABLETYPE
constexpr unsigned long kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_IMMUTABLETYPE;
#else
constexpr unsigned long kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
#endif

PyObject* create_type() {
  PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(db_new)},
      {Py_tp_dealloc, reinterpret_cast<void*>(db_dealloc)},
      {Py_tp_methods, method_table()},
      {Py_tp_getset, db_getset},
      {Py_sq_length, reinterpret_cast<void*>(db_len)},
      {Py_sq_contains, reinterpret_cast<void*>(db_contains)},
      {Py_tp_doc, const_cast<char*>(kClassDoc)},
      {Py_tp_repr, reinterpret_cast<void*>(db_repr)},
      {0, nullptr},
  };
  PyType_Spec type_desc = {"_quarn.Database", static_cast<int>(sizeof(DatabaseObject)), 0,
                           static_cast<unsigned int>(kFlags), slots};
  PyObject* type = PyType_FromSpec(&type_desc);
  if (type == nullptr) throw py::error_already_set();
  return type;
}

}  // namespace

std::shared_ptr<quarn::Database> engine_of(PyObject* self) {
  std::shared_ptr<quarn::Database> db = reinterpret_cast<DatabaseObject*>(self)->engine;
  if (!db) raise(PyExc_ValueError, "database is closed");
  return db;
}

PyObject* database_type() {
  if (the_type == nullptr) {
    PyObject* type = guarded(create_type);
    if (type == nullptr) return nullptr;
    the_type = reinterpret_cast<PyTypeObject*>(type);  // one reference kept for the process
  }
  Py_INCREF(the_type);
  return reinterpret_cast<PyObject*>(the_type);
}

}  // namespace quarn_py
