#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "args.h"
#include "convert.h"
#include "database_object.h"
#include "documents.h"
#include "filter_parse.h"
#include "search_result.h"

namespace quarn_py {

namespace {

std::optional<quarn::Json> metadata_value(PyObject* dict) {
  if (dict == nullptr) return std::nullopt;
  return pythonize_dict(dict);
}

std::optional<quarn::Filter> filter_value(PyObject* dict) {
  if (dict == nullptr) return std::nullopt;
  return parse_filter(dict);
}

PyObject* none() { Py_RETURN_NONE; }

py::list float_list(const std::vector<float>& values) {
  py::list out(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyObject* number = PyFloat_FromDouble(static_cast<double>(values[i]));
    if (number == nullptr) throw py::error_already_set();
    PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), number);
  }
  return out;
}

// Shared by add and upsert: (id, vector, metadata=None, document=None).
struct SingleWrite {
  std::string id;
  std::vector<float> vector;
  std::optional<quarn::Json> metadata;
  std::optional<std::string> document;
};

SingleWrite single_write_args(PyObject* args, PyObject* kwargs, const char* format) {
  static const char* const keywords[] = {"id", "vector", "metadata", "document", nullptr};
  PyObject* id_obj = nullptr;
  PyObject* vector_obj = nullptr;
  PyObject* metadata_obj = nullptr;
  PyObject* document_obj = nullptr;
  parse_args(args, kwargs, format, keywords, &id_obj, &vector_obj, &metadata_obj, &document_obj);
  std::string id = string_arg(id_obj, "id");
  VectorInput vector = VectorInput::extract(vector_obj, "vector");
  PyObject* metadata = optional_dict_arg(metadata_obj, "metadata");
  std::optional<std::string> document = document_arg(document_obj, "document");
  std::vector<float> values = std::move(vector).to_vec();
  return SingleWrite{std::move(id), std::move(values), metadata_value(metadata), std::move(document)};
}

// Shared by add_many and upsert_many: (ids, vectors, metadatas=None, *, progress=None). The
// engine reads the vectors as one block: a C-ordered float32 array in place (other arrays are
// converted once), rows given as sequences copied into `flat`.
struct BatchWrite {
  std::vector<std::string> ids;
  std::vector<std::optional<quarn::Json>> metadata;  // empty without metadatas
  std::vector<std::optional<std::string>> documents;  // empty without documents
  BatchVectorInput input;                            // holds the array the block reads
  std::optional<ArrayRows> array;
  std::vector<std::vector<float>> rows;  // the sequence form until block() flattens it
  std::vector<float> flat;
  py::object progress;                   // a callable, or None

  // Raises for the first row whose length is not `dim` ("vectors[i]: dimension mismatch"), then
  // hands the ids and metadata over in a block that reads `array` or `flat`.
  quarn::ItemBlock block(std::size_t dim) {
    if (array) {
      if (array->rows > 0) require_row_dim(0, array->cols, dim);
    } else {
      for (std::size_t i = 0; i < rows.size(); ++i) require_row_dim(i, rows[i].size(), dim);
      flat.reserve(rows.size() * dim);
      for (std::vector<float>& row : rows) {
        flat.insert(flat.end(), row.begin(), row.end());
        std::vector<float>().swap(row);
      }
    }
    quarn::ItemBlock out;
    out.ids = std::move(ids);
    out.vectors = array ? array->data : std::span<const float>(flat);
    out.metadata = std::move(metadata);
    out.documents = std::move(documents);
    return out;
  }

  static void require_row_dim(std::size_t row, std::size_t got, std::size_t dim) {
    if (got != dim) {
      raise(PyExc_ValueError, "vectors[" + std::to_string(row) + "]: dimension mismatch: expected " +
                                  std::to_string(dim) + ", got " + std::to_string(got));
    }
  }
};

// ValueError naming the row and component of the first NaN or infinity, as for the sequence form.
void require_finite_rows(const ArrayRows& array) {
  for (std::size_t r = 0; r < array.rows; ++r) {
    const auto row = array.data.subspan(r * array.cols, array.cols);
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (!std::isfinite(row[i])) {
        raise(PyExc_ValueError, "vectors[" + std::to_string(r) + "]: " + quarn::QuarnError::non_finite(i, row[i]).text());
      }
    }
  }
}

BatchWrite batch_write_args(PyObject* args, PyObject* kwargs, const char* format) {
  static const char* const keywords[] = {"ids", "vectors", "metadatas", "progress", "documents", nullptr};
  PyObject* ids_obj = nullptr;
  PyObject* vectors_obj = nullptr;
  PyObject* metadatas_obj = nullptr;
  PyObject* progress_obj = nullptr;
  PyObject* documents_obj = nullptr;
  parse_args(args, kwargs, format, keywords, &ids_obj, &vectors_obj, &metadatas_obj, &progress_obj, &documents_obj);
  BatchWrite out;
  out.progress = py::none();
  if (progress_obj != nullptr && progress_obj != Py_None) {
    if (!PyCallable_Check(progress_obj)) {
      raise_argument_type("progress", "expected a callable or None, not '" + type_name(progress_obj) + "'");
    }
    out.progress = py::reinterpret_borrow<py::object>(progress_obj);
  }
  out.ids = string_list_arg(ids_obj, "ids");
  out.input = BatchVectorInput::extract(vectors_obj, "vectors");
  PyObject* metadatas = optional_list_arg(metadatas_obj, "metadatas");
  out.array = out.input.array_rows();
  if (out.array) {
    require_finite_rows(*out.array);
  } else {
    out.rows = std::move(out.input).to_vecs();
  }
  const std::size_t count = out.array ? out.array->rows : out.rows.size();

  if (out.ids.size() != count) {
    raise(PyExc_ValueError, "ids length (" + std::to_string(out.ids.size()) + ") != vectors length (" +
                                std::to_string(count) + ")");
  }
  if (metadatas != nullptr) {
    const auto given = static_cast<std::size_t>(PyList_GET_SIZE(metadatas));
    if (given != out.ids.size()) {
      raise(PyExc_ValueError, "metadatas length (" + std::to_string(given) + ") != ids length (" +
                                  std::to_string(out.ids.size()) + ")");
    }
    // Hold every item first: json.dumps may run code that changes the list.
    std::vector<py::object> items;
    items.reserve(given);
    for (std::size_t i = 0; i < given; ++i) {
      items.push_back(py::reinterpret_borrow<py::object>(PyList_GET_ITEM(metadatas, static_cast<Py_ssize_t>(i))));
    }
    out.metadata.resize(given);
    for (std::size_t i = 0; i < given; ++i) {
      PyObject* item = items[i].ptr();
      if (item == Py_None) continue;
      const std::string where = "metadatas[" + std::to_string(i) + "]";
      if (!PyDict_Check(item)) {
        raise(PyExc_ValueError, where + " must be a dict or None, not '" + type_name(item) + "'");
      }
      out.metadata[i] = pythonize_dict(item, where.c_str());
    }
  }
  out.documents = documents_list_arg(documents_obj, out.ids.size());
  return out;
}

// Runs a batch write without the interpreter lock. With a progress callable the engine runs on a
// thread of its own and this thread calls the callable, with the interpreter lock, for the latest
// count whenever the engine reports. The engine's thread holds the database's locks and never
// waits for the interpreter lock; this thread holds the interpreter lock and no database lock, so
// a fork or another Python thread cannot deadlock with the batch, and a callable that calls into
// the database only waits for the batch to end. An exception raised by the callable stops the
// reports but not the batch, which is written in full; it is raised once the batch is done.
template <class Write>
void run_batch(const py::object& progress, Write&& write) {
  if (progress.is_none()) {
    check(without_gil([&] { return write(quarn::BatchOptions{}); }));
    return;
  }
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t done = 0;
    std::size_t total = 0;
    bool finished = false;
  } shared;
  quarn::BatchOptions options;
  options.progress = [&shared](std::size_t done, std::size_t total) {
    {
      std::lock_guard lock(shared.mutex);
      shared.done = done;
      shared.total = total;
    }
    shared.changed.notify_one();
  };
  quarn::Status status = quarn::Status::success();
  std::exception_ptr failed;  // bad_alloc and the like, thrown on the engine's thread
  std::thread engine([&] {
    try {
      status = write(options);
    } catch (...) {
      failed = std::current_exception();
    }
    {
      std::lock_guard lock(shared.mutex);
      shared.finished = true;
    }
    shared.changed.notify_one();
  });
  // Nothing below throws until the engine's thread is joined.
  std::exception_ptr raised;
  std::size_t reported = 0;
  for (;;) {
    std::size_t done = 0;
    std::size_t total = 0;
    bool finished = false;
    {
      py::gil_scoped_release release;
      std::unique_lock lock(shared.mutex);
      shared.changed.wait(lock, [&] { return shared.finished || shared.done != reported; });
      done = shared.done;
      total = shared.total;
      finished = shared.finished;
    }
    if (done != reported) {
      reported = done;
      if (!raised) {
        try {
          progress(done, total);
        } catch (...) {
          raised = std::current_exception();
        }
      }
    }
    if (finished) break;
  }
  {
    py::gil_scoped_release release;
    engine.join();
  }
  if (failed) std::rethrow_exception(failed);
  check(status);
  if (raised) std::rethrow_exception(raised);
}

// add_many takes each id once: a repeated id is refused by name before anything is written.
void require_distinct_ids(const std::vector<std::string>& ids) {
  std::unordered_map<std::string_view, std::size_t> first_row;
  first_row.reserve(ids.size());
  for (std::size_t i = 0; i < ids.size(); ++i) {
    auto [at, inserted] = first_row.emplace(ids[i], i);
    if (!inserted) {
      raise(PyExc_ValueError, "id '" + ids[i] + "' appears twice in the batch (rows " + std::to_string(at->second) +
                                  " and " + std::to_string(i) + "); add_many takes each id once");
    }
  }
}

// Shared by search and search_many: (vector(s), k=10, ef_search=None, where_filter=None,
// max_distance=None, include_vectors=False). The filter is parsed after every argument has been
// converted.
struct SearchArgs {
  std::size_t k = 10;
  std::optional<std::size_t> ef_search;
  std::optional<quarn::Filter> filter;
  std::optional<float> max_distance;
  bool include_vectors = false;
  bool include_documents = false;
  PyObject* filter_dict = nullptr;  // borrowed from the call's arguments

  quarn::SearchParams params() const {
    quarn::SearchParams p;
    p.k = k;
    p.ef_search = ef_search;
    p.filter = filter ? &*filter : nullptr;
    p.max_distance = max_distance;
    p.include_documents = include_documents;
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
  parse_args(args, kwargs, format, keywords, &input_obj, &k_obj, &ef_obj, &filter_obj, &max_obj, &vectors_obj,
             &documents_obj);
  input = Input::extract(input_obj, keywords[0]);
  SearchArgs out;
  if (k_obj != nullptr) out.k = unsigned_arg(k_obj, "k");
  out.ef_search = optional_unsigned_arg(ef_obj, "ef_search");
  out.filter_dict = optional_dict_arg(filter_obj, "where_filter");
  out.max_distance = optional_float_arg(max_obj, "max_distance");
  out.include_vectors = vectors_obj != nullptr && bool_arg(vectors_obj, "include_vectors");
  out.include_documents = documents_obj != nullptr && bool_arg(documents_obj, "include_documents");
  return out;
}

}  // namespace

PyObject* db_add(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    SingleWrite w = single_write_args(args, kwargs, "OO|OO:add");
    auto db = engine_of(self);
    check(without_gil([&] { return db->add(w.id, std::move(w.vector), std::move(w.metadata), std::move(w.document)); }));
    return none();
  });
}

PyObject* db_upsert(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    SingleWrite w = single_write_args(args, kwargs, "OO|OO:upsert");
    auto db = engine_of(self);
    check(without_gil(
        [&] { return db->upsert(w.id, std::move(w.vector), std::move(w.metadata), std::move(w.document)); }));
    return none();
  });
}

PyObject* db_update(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"id", "vector", "metadata", "document", nullptr};
    PyObject* id_obj = nullptr;
    PyObject* vector_obj = nullptr;
    PyObject* metadata_obj = nullptr;
    PyObject* document_obj = nullptr;
    parse_args(args, kwargs, "O|OOO:update", keywords, &id_obj, &vector_obj, &metadata_obj, &document_obj);
    std::string id = string_arg(id_obj, "id");
    std::optional<VectorInput> vector;
    if (vector_obj != nullptr && vector_obj != Py_None) vector = VectorInput::extract(vector_obj, "vector");
    PyObject* metadata_dict = optional_dict_arg(metadata_obj, "metadata");
    std::optional<std::vector<float>> values;
    if (vector) values = std::move(*vector).to_vec();
    std::optional<quarn::Json> metadata = metadata_value(metadata_dict);
    // Omitted (or Ellipsis, the default its signature shows) keeps the document, None clears it,
    // a str replaces it.
    quarn::DocumentChange document;
    if (document_obj != nullptr && document_obj != Py_Ellipsis) document.emplace(document_arg(document_obj, "document"));
    auto db = engine_of(self);
    check(without_gil([&] { return db->update(id, std::move(values), std::move(metadata), std::move(document)); }));
    return none();
  });
}

PyObject* db_delete(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"id", nullptr};
    PyObject* id_obj = nullptr;
    parse_args(args, kwargs, "O:delete", keywords, &id_obj);
    std::string id = string_arg(id_obj, "id");
    auto db = engine_of(self);
    const bool deleted = take(without_gil([&] { return db->remove(id); }));
    return py::bool_(deleted).release().ptr();
  });
}

PyObject* db_get(PyObject* self, PyObject* args, PyObject* kwargs) {
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

// limit and offset: None or an int >= 0; ValueError naming the argument when negative.
static std::optional<std::uint64_t> slice_arg(PyObject* obj, const char* name) {
  if (obj != nullptr && obj != Py_None && !PyBool_Check(obj)) {
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(obj));
    if (index && PyObject_RichCompareBool(index.ptr(), py::int_(0).ptr(), Py_LT) == 1) {
      raise(PyExc_ValueError, std::string(name) + " must be >= 0, got " + py::str(index).cast<std::string>());
    }
    PyErr_Clear();
  }
  return optional_unsigned_arg(obj, name);
}

PyObject* db_ids(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"where", "limit", "offset", nullptr};
    PyObject* where_obj = nullptr;
    PyObject* limit_obj = nullptr;
    PyObject* offset_obj = nullptr;
    parse_args(args, kwargs, "|OOO:ids", keywords, &where_obj, &limit_obj, &offset_obj);
    const std::optional<quarn::Filter> filter = filter_value(optional_dict_arg(where_obj, "where"));
    const std::optional<std::uint64_t> limit = slice_arg(limit_obj, "limit");
    const std::uint64_t offset = slice_arg(offset_obj, "offset").value_or(0);
    auto db = engine_of(self);
    const quarn::Filter* f = filter ? &*filter : nullptr;
    std::vector<std::string> ids = without_gil([&] {
      return db->ids_matching(f, static_cast<std::size_t>(offset),
                              limit ? std::optional<std::size_t>(static_cast<std::size_t>(*limit)) : std::nullopt);
    });
    py::list out(ids.size());
    for (std::size_t i = 0; i < ids.size(); ++i) {
      PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), py::str(ids[i]).release().ptr());
    }
    return out.release().ptr();
  });
}

PyObject* db_add_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    BatchWrite w = batch_write_args(args, kwargs, "OO|O$OO:add_many");
    require_distinct_ids(w.ids);
    auto db = engine_of(self);
    quarn::ItemBlock block = w.block(db->dim());
    run_batch(w.progress, [&](const quarn::BatchOptions& options) { return db->add_block(std::move(block), options); });
    return none();
  });
}

PyObject* db_upsert_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    BatchWrite w = batch_write_args(args, kwargs, "OO|O$OO:upsert_many");
    auto db = engine_of(self);
    quarn::ItemBlock block = w.block(db->dim());
    run_batch(w.progress,
              [&](const quarn::BatchOptions& options) { return db->upsert_block(std::move(block), options); });
    return none();
  });
}

PyObject* db_delete_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"ids", nullptr};
    PyObject* ids_obj = nullptr;
    parse_args(args, kwargs, "O:delete_many", keywords, &ids_obj);
    std::vector<std::string> ids = string_list_arg(ids_obj, "ids");
    auto db = engine_of(self);
    const std::size_t deleted = take(without_gil([&] { return db->delete_many(ids); }));
    return PyLong_FromSize_t(deleted);
  });
}

PyObject* db_search(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"vector",       "k",        "ef_search", "where_filter",
                                           "max_distance", "include_vectors", "include_documents", nullptr};
    VectorInput input;
    SearchArgs a = search_args(args, kwargs, "O|OOOOOO:search", keywords, input);
    std::vector<float> query = std::move(input).to_vec();
    a.filter = filter_value(a.filter_dict);
    const quarn::SearchParams params = a.params();
    auto db = engine_of(self);
    auto hits = take(without_gil([&] { return db->search(query, params); }));
    if (!a.include_vectors) return make_result_list(std::move(hits)).release().ptr();
    auto vectors = without_gil([&] { return vectors_of_hits(*db, hits); });
    return make_result_list(std::move(hits), &vectors).release().ptr();
  });
}

PyObject* db_search_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"vectors",      "k",        "ef_search", "where_filter",
                                           "max_distance", "include_vectors", "include_documents", nullptr};
    BatchVectorInput input;
    SearchArgs a = search_args(args, kwargs, "O|OOOOOO:search_many", keywords, input);
    std::vector<std::vector<float>> queries = std::move(input).to_vecs();
    a.filter = filter_value(a.filter_dict);
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

PyObject* db_count(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"where_filter", nullptr};
    PyObject* filter_obj = nullptr;
    parse_args(args, kwargs, "|O:count", keywords, &filter_obj);
    const std::optional<quarn::Filter> filter = filter_value(optional_dict_arg(filter_obj, "where_filter"));
    auto db = engine_of(self);
    const quarn::Filter* f = filter ? &*filter : nullptr;
    return PyLong_FromSize_t(without_gil([&] { return db->count(f); }));
  });
}

PyObject* db_save(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    check(without_gil([&] { return db->save(); }));
    return none();
  });
}

PyObject* db_compact(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    // Compaction renumbers the slots in memory only; on a read-only database it is refused
    // like every other change.
    if (db->read_only()) raise_engine(quarn::QuarnError::read_only(db->path()));
    without_gil([&] {
      db->compact();
      return 0;
    });
    return none();
  });
}

PyObject* db_enable_quantized_search(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    without_gil([&] {
      db->enable_quantized_search();
      return 0;
    });
    return none();
  });
}

PyObject* db_disable_quantized_search(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    without_gil([&] {
      db->disable_quantized_search();
      return 0;
    });
    return none();
  });
}

PyObject* db_stats(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    const quarn::Stats s = without_gil([&] { return db->stats(); });
    py::dict out;
    out["num_vectors"] = py::int_(s.num_vectors);
    out["num_deleted"] = py::int_(s.num_deleted);
    out["num_layers"] = py::int_(s.num_layers);
    out["avg_degree_layer0"] = py::float_(s.avg_degree_layer0);
    out["max_degree_layer0"] = py::int_(s.max_degree_layer0);
    out["min_degree_layer0"] = py::int_(s.min_degree_layer0);
    out["memory_vectors_bytes"] = py::int_(s.memory_vectors_bytes);
    out["memory_graph_bytes"] = py::int_(s.memory_graph_bytes);
    out["memory_quantized_bytes"] = py::int_(s.memory_quantized_bytes);
    out["uses_brute_force"] = py::bool_(s.uses_brute_force);
    out["uses_quantized_search"] = py::bool_(s.uses_quantized_search);
    return out.release().ptr();
  });
}

PyObject* db_enter(PyObject* self, PyObject*) {
  return guarded([&] {
    engine_of(self);  // a closed database cannot be entered again
    Py_INCREF(self);
    return self;
  });
}

// Saves, also when the block raised, then closes, so that the directory is free for the next
// writer once the block is left. Returns False so that the block's exception propagates. A
// failed save raises and leaves the database open, to be saved again; every acknowledged write
// is in the log meanwhile. A database closed inside the block has nothing left to do.
PyObject* db_exit(PyObject* self, PyObject* args, PyObject* kwargs) {
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

// Drops this object's reference to the engine: the log is flushed and closed and the writer
// lock released (once a call running in another thread has returned); nothing is saved.
PyObject* db_close(PyObject* self, PyObject*) {
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

}  // namespace quarn_py
