// Maintenance: snapshots, compaction, the consistency check, quantized search and statistics.
#include <optional>
#include <string>

#include "args.h"
#include "database_object.h"

namespace quarn_py {

namespace {

PyObject* save(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    check(without_gil([&] { return db->save(); }));
    return none();
  });
}

const PyMethodDef kSave = no_args_method(
    "save", save, "save($self)\n--\n\nWrite a snapshot (synced to disk) and start a new empty log.");

PyObject* sync(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    check(without_gil([&] { return db->sync(); }));
    return none();
  });
}

const PyMethodDef kSync = no_args_method(
    "sync", sync,
    "sync($self)\n--\n\n"
    "Sync the log to the disk now: every write that returned before the call survives a power cut.");

PyObject* backup(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"dest", nullptr};
    PyObject* dest_obj = nullptr;
    parse_args(args, kwargs, "O:backup", keywords, &dest_obj);
    const std::string dest = path_arg(dest_obj, "dest");
    auto db = engine_of(self);
    check(without_gil([&] { return db->backup(dest); }));
    return none();
  });
}

const PyMethodDef kBackup = keyword_method(
    "backup", backup,
    "backup($self, dest)\n--\n\n"
    "Copy the database as it stands now into the new directory `dest` (str or os.PathLike; it\n"
    "must not exist, or be an empty directory) while other threads keep writing: they wait only\n"
    "while the files are opened, not for the copy. The copy opens as this database at that\n"
    "moment. A read-only database copies the directory as it stands at the call. ValueError\n"
    "when `dest` exists and is not empty, lies inside this database's directory or cannot be\n"
    "made; nothing is left at `dest` then.");

PyObject* compact(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    check(without_gil([&] { return db->compact(); }));
    return none();
  });
}

const PyMethodDef kCompact = no_args_method(
    "compact", compact,
    "compact($self)\n--\n\n"
    "Rebuild the index with only live vectors, reclaiming deleted slots.\n"
    "Call this after many deletes to reduce memory usage and disk size.");

PyObject* verify(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    std::optional<std::string> problem = without_gil([&] { return db->check_invariants(); });
    py::list out;
    if (problem) out.append(py::str(*problem));
    return out.release().ptr();
  });
}

const PyMethodDef kVerify = no_args_method(
    "verify", verify,
    "verify($self)\n--\n\n"
    "Check that the id map, the tables, the metadata index and the graph agree; a list of\n"
    "the disagreements found (empty when consistent).");

PyObject* verify_files(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    const quarn::FileCheck checked = take(without_gil([&] { return db->verify_files(); }));
    py::list problems;
    for (const std::string& p : checked.problems) problems.append(py::str(p));
    py::dict out;
    out["checked"] = py::bool_(checked.checked);
    out["generation"] = checked.checked ? py::object(py::int_(checked.generation)) : py::object(py::none());
    out["files"] = py::int_(checked.files);
    out["bytes"] = py::int_(checked.bytes);
    out["problems"] = problems;
    return out.release().ptr();
  });
}

const PyMethodDef kVerifyFiles = no_args_method(
    "verify_files", verify_files,
    "verify_files($self)\n--\n\n"
    "Check every block of the snapshot files on the disk against the checksums of their\n"
    "manifest, and the log for damage before its end. A dict: checked (False for a directory\n"
    "saved before manifests existed: nothing to check against), generation (None then), files\n"
    "and bytes checked, and problems (empty when sound).");

PyObject* enable_quantized_search(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    without_gil([&] {
      db->enable_quantized_search();
      return 0;
    });
    return none();
  });
}

const PyMethodDef kEnableQuantizedSearch = no_args_method(
    "enable_quantized_search", enable_quantized_search,
    "enable_quantized_search($self)\n--\n\n"
    "Enable quantized search: uses SQ8 quantized vectors for faster HNSW traversal\n"
    "with full-precision re-ranking. Automatically enabled when quantize=True is set.");

PyObject* disable_quantized_search(PyObject* self, PyObject*) {
  return guarded([&] {
    auto db = engine_of(self);
    without_gil([&] {
      db->disable_quantized_search();
      return 0;
    });
    return none();
  });
}

const PyMethodDef kDisableQuantizedSearch = no_args_method(
    "disable_quantized_search", disable_quantized_search,
    "disable_quantized_search($self)\n--\n\nDisable quantized search.");

PyObject* stats(PyObject* self, PyObject*) {
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
    // Live vectors a layer-0 walk from the entry point can reach (all of them in a sound graph).
    out["reachable_layer0"] = py::int_(s.reachable_layer0);
    out["vectors_in_memory"] = py::bool_(s.vectors_in_memory);
    return out.release().ptr();
  });
}

const PyMethodDef kStats = no_args_method(
    "stats", stats,
    "stats($self)\n--\n\n"
    "Get graph-level statistics for diagnostics.\n"
    "Returns a dict with keys: num_vectors, num_deleted, num_layers, avg_degree_layer0,\n"
    "max_degree_layer0, min_degree_layer0, memory_vectors_bytes, memory_graph_bytes,\n"
    "memory_quantized_bytes, uses_brute_force, uses_quantized_search, vectors_in_memory.");

}  // namespace

std::vector<PyMethodDef> maintenance_methods() {
  return {kSave,  kSync, kBackup, kCompact, kVerify, kVerifyFiles, kEnableQuantizedSearch, kDisableQuantizedSearch,
          kStats};
}

}  // namespace quarn_py
