#pragma once

#include <memory>
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

inline PyObject* none() { Py_RETURN_NONE; }

// Method table entries. The docstring starts with the text signature: "name($self, ...)\n--\n\n".
inline PyMethodDef keyword_method(const char* name, PyCFunctionWithKeywords body, const char* doc) {
  return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(body)), METH_VARARGS | METH_KEYWORDS, doc};
}

inline PyMethodDef no_args_method(const char* name, PyCFunction body, const char* doc) {
  return {name, body, METH_NOARGS, doc};
}

// The methods of each part of the class, each entry defined beside its method. The class joins
// them into its one table.
std::vector<PyMethodDef> write_methods();        // database_writes.cpp
std::vector<PyMethodDef> read_methods();         // database_reads.cpp
std::vector<PyMethodDef> search_methods();       // database_search.cpp
std::vector<PyMethodDef> keyword_methods();      // database_keyword.cpp
std::vector<PyMethodDef> maintenance_methods();  // database_maintenance.cpp
std::vector<PyMethodDef> delete_where_methods();  // database_delete_where.cpp

// Creates the class Database (a new reference), once per process.
PyObject* database_type();

}  // namespace quarn_py
