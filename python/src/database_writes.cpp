// Writes: add, upsert, update, delete and their batch forms.
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "args.h"
#include "database_object.h"
#include "documents.h"
#include "json_convert.h"
#include "progress.h"
#include "vector_convert.h"

namespace quarn_py {

namespace {

std::optional<quarn::Json> metadata_value(PyObject* dict) {
  if (dict == nullptr) return std::nullopt;
  return pythonize_dict(dict);
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

PyObject* add(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    SingleWrite w = single_write_args(args, kwargs, "OO|OO:add");
    auto db = engine_of(self);
    check(without_gil([&] { return db->add(w.id, std::move(w.vector), std::move(w.metadata), std::move(w.document)); }));
    return none();
  });
}

const PyMethodDef kAdd = keyword_method(
    "add", add,
    "add($self, id, vector, metadata=None, document=None)\n--\n\n"
    "Add a new record. ValueError if the id already exists (use upsert to replace it).\n"
    "document is an optional str of at most 16 MiB of UTF-8 kept with the record.");

PyObject* upsert(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    SingleWrite w = single_write_args(args, kwargs, "OO|OO:upsert");
    auto db = engine_of(self);
    check(without_gil(
        [&] { return db->upsert(w.id, std::move(w.vector), std::move(w.metadata), std::move(w.document)); }));
    return none();
  });
}

const PyMethodDef kUpsert = keyword_method(
    "upsert", upsert,
    "upsert($self, id, vector, metadata=None, document=None)\n--\n\n"
    "Add a record, or replace the vector, the whole metadata and the document of an existing one.");

// Shared by add_many and upsert_many: (ids, vectors, metadatas=None, *, progress=None,
// documents=None). The
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

// metadatas: None, or a list of dicts and Nones as long as the ids.
std::vector<std::optional<quarn::Json>> batch_metadata(PyObject* metadatas, std::size_t count) {
  std::vector<std::optional<quarn::Json>> out;
  if (metadatas == nullptr) return out;
  const auto given = static_cast<std::size_t>(PyList_GET_SIZE(metadatas));
  if (given != count) {
    raise(PyExc_ValueError, "metadatas length (" + std::to_string(given) + ") != ids length (" +
                                std::to_string(count) + ")");
  }
  // Hold every item first: json.dumps may run code that changes the list.
  std::vector<py::object> items;
  items.reserve(given);
  for (std::size_t i = 0; i < given; ++i) {
    items.push_back(py::reinterpret_borrow<py::object>(PyList_GET_ITEM(metadatas, static_cast<Py_ssize_t>(i))));
  }
  out.resize(given);
  for (std::size_t i = 0; i < given; ++i) {
    PyObject* item = items[i].ptr();
    if (item == Py_None) continue;
    const std::string where = "metadatas[" + std::to_string(i) + "]";
    if (!PyDict_Check(item)) {
      raise(PyExc_ValueError, where + " must be a dict or None, not '" + type_name(item) + "'");
    }
    out[i] = pythonize_dict(item, where.c_str());
  }
  return out;
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
  out.metadata = batch_metadata(metadatas, out.ids.size());
  out.documents = documents_list_arg(documents_obj, out.ids.size());
  return out;
}

// The engine refuses an id given twice in the batch.
PyObject* add_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    BatchWrite w = batch_write_args(args, kwargs, "OO|O$OO:add_many");
    auto db = engine_of(self);
    quarn::ItemBlock block = w.block(db->dim());
    run_batch(w.progress, [&](const quarn::BatchOptions& options) { return db->add_block(std::move(block), options); });
    return none();
  });
}

const PyMethodDef kAddMany = keyword_method(
    "add_many", add_many,
    "add_many($self, ids, vectors, metadatas=None, *, progress=None, documents=None)\n--\n\n"
    "Add new records in one all-or-nothing batch. Every id must be new and appear once;\n"
    "vectors is a 2-D numeric array or a sequence of sequences; metadatas a list of dicts\n"
    "and Nones as long as ids; documents a list of str and Nones as long as ids.\n\n"
    "progress, a callable, is called as progress(rows_done, rows_total) in steps of about 1%\n"
    "while the records are linked into the graph, and last with rows_done == rows_total. An\n"
    "exception it raises stops the reports but not the write: the batch is written in full,\n"
    "then the exception is raised.");

PyObject* upsert_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    BatchWrite w = batch_write_args(args, kwargs, "OO|O$OO:upsert_many");
    auto db = engine_of(self);
    quarn::ItemBlock block = w.block(db->dim());
    run_batch(w.progress,
              [&](const quarn::BatchOptions& options) { return db->upsert_block(std::move(block), options); });
    return none();
  });
}

const PyMethodDef kUpsertMany = keyword_method(
    "upsert_many", upsert_many,
    "upsert_many($self, ids, vectors, metadatas=None, *, progress=None, documents=None)\n--\n\n"
    "Add or replace records in one all-or-nothing batch; for an id given twice the last\n"
    "occurrence wins. progress works as for add_many.");

PyObject* update(PyObject* self, PyObject* args, PyObject* kwargs) {
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

const PyMethodDef kUpdate = keyword_method(
    "update", update,
    "update($self, id, vector=None, metadata=None, document=...)\n--\n\n"
    "Change the vector and/or the metadata of an existing record, keeping what is not given.\n"
    "document: a str replaces the record's document, None removes it, omitted (or ...) keeps it.");

PyObject* delete_one(PyObject* self, PyObject* args, PyObject* kwargs) {
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

const PyMethodDef kDelete = keyword_method(
    "delete", delete_one, "delete($self, id)\n--\n\nDelete a record; True if it was there, False otherwise.");

PyObject* delete_many(PyObject* self, PyObject* args, PyObject* kwargs) {
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

const PyMethodDef kDeleteMany = keyword_method(
    "delete_many", delete_many,
    "delete_many($self, ids)\n--\n\nDelete records in one batch; returns how many were there.");

}  // namespace

std::vector<PyMethodDef> write_methods() {
  return {kAdd, kUpsert, kAddMany, kUpsertMany, kUpdate, kDelete, kDeleteMany};
}

}  // namespace quarn_py
