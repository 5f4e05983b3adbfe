#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "errors.h"
#include "quarn/database.h"

namespace quarn_py {

// The Python object behind `Database`: exactly one engine database, created by the
// constructor and dropped by close() or with the object. Each method holds its own reference
// while it runs without the interpreter lock, so a close() from another thread never frees the
// engine under it: the engine (and the directory's writer lock) goes when the last call ends.
struct DatabaseObject {
  PyObject_HEAD
  std::shared_ptr<quarn::Database> engine;
  std::string path;  // as given to the constructor, kept for repr after close()
};

// The engine of an open database; ValueError "database is closed" after close().
std::shared_ptr<quarn::Database> engine_of(PyObject* self);

// Runs `body` with the interpreter lock released; `body` must not touch Python objects. Every
// call that may wait for or hold an engine lock runs this way, so that no thread ever holds
// an engine lock while it waits for the interpreter lock (a fork from Python relies on it).
template <class F>
auto without_gil(F&& body) {
  py::gil_scoped_release release;
  return body();
}

// Creates the class Database (a new reference), once per process.
PyObject* database_type();

// Methods; each converts its arguments, calls one engine operation and converts the result.
PyObject* db_add(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_upsert(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_update(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_delete(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_get(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_ids(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_add_many(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_upsert_many(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_delete_many(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_search(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_search_many(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_count(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_save(PyObject* self, PyObject* unused);
PyObject* db_compact(PyObject* self, PyObject* unused);
PyObject* db_enable_quantized_search(PyObject* self, PyObject* unused);
PyObject* db_disable_quantized_search(PyObject* self, PyObject* unused);
PyObject* db_stats(PyObject* self, PyObject* unused);
PyObject* db_enter(PyObject* self, PyObject* unused);
PyObject* db_exit(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_close(PyObject* self, PyObject* unused);
PyObject* db_get_many(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_search_many_arrays(PyObject* self, PyObject* args, PyObject* kwargs);
PyObject* db_verify(PyObject* self, PyObject* unused);

// The vector of each hit, read again by id; empty for a record deleted since the search.
std::vector<std::optional<std::vector<float>>> vectors_of_hits(const quarn::Database& db,
                                                               const std::vector<quarn::SearchResult>& hits);

}  // namespace quarn_py
