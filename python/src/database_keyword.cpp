// Keyword search (BM25 over the documents) and hybrid search, single and batch forms.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "args.h"
#include "database_object.h"
#include "document_filter_parse.h"
#include "filter_parse.h"
#include "search_result.h"
#include "vector_convert.h"

namespace quarn_py {

namespace {

// The arguments every keyword and hybrid call shares, converted in the order of the signature
// (k, ef_search, where_filter, where_document, fusion, weight); the filters are parsed last and
// live here for the duration of the call.
struct SearchArgs {
  quarn::SearchParams params;
  quarn::HybridParams hybrid;
  std::optional<quarn::Filter> filter;
  std::optional<quarn::DocumentFilter> document_filter;

  quarn::SearchParams with_filters() const {
    quarn::SearchParams p = params;
    p.filter = filter ? &*filter : nullptr;
    p.document_filter = document_filter ? &*document_filter : nullptr;
    p.include_documents = true;
    return p;
  }
};

quarn::Fusion fusion_arg(PyObject* obj) {
  if (obj == nullptr) return quarn::Fusion::Rrf;
  const std::string name = string_arg(obj, "fusion");
  if (name == "rrf") return quarn::Fusion::Rrf;
  if (name == "weighted") return quarn::Fusion::Weighted;
  raise(PyExc_ValueError, "fusion must be 'rrf' or 'weighted', got '" + name + "'");
}

// ef, fusion and weight are null for the keyword calls, which have none.
SearchArgs search_args(PyObject* k_obj, PyObject* ef_obj, PyObject* filter_obj, PyObject* document_obj,
                       PyObject* fusion_obj, PyObject* weight_obj) {
  SearchArgs a;
  if (k_obj != nullptr) a.params.k = unsigned_arg(k_obj, "k");
  a.params.ef_search = optional_unsigned_arg(ef_obj, "ef_search");
  PyObject* filter_dict = optional_dict_arg(filter_obj, "where_filter");
  a.hybrid.fusion = fusion_arg(fusion_obj);
  if (weight_obj != nullptr) a.hybrid.weight = optional_float_arg(weight_obj, "weight").value_or(0.5f);
  a.filter = parse_optional_filter(filter_dict);
  a.document_filter = parse_optional_document_filter(document_obj);
  return a;
}

py::list result_lists(std::vector<std::vector<quarn::SearchResult>> lists) {
  py::list out(lists.size());
  for (std::size_t i = 0; i < lists.size(); ++i) {
    PyList_SET_ITEM(out.ptr(), static_cast<Py_ssize_t>(i), make_result_list(std::move(lists[i])).release().ptr());
  }
  return out;
}

// The arguments of the keyword calls, bound to slots: (query or queries, k=10,
// where_filter=None, where_document=None).
struct KeywordCall {
  PyObject* queries = nullptr;
  PyObject* k = nullptr;
  PyObject* filter = nullptr;
  PyObject* document = nullptr;

  KeywordCall(PyObject* args, PyObject* kwargs, const char* format, const char* const* keywords) {
    parse_args(args, kwargs, format, keywords, &queries, &k, &filter, &document);
  }
  SearchArgs search_args() const { return quarn_py::search_args(k, nullptr, filter, document, nullptr, nullptr); }
};

// The arguments of the hybrid calls: (vector or vectors, query or queries, k=10,
// ef_search=None, where_filter=None, where_document=None, fusion='rrf', weight=0.5).
struct HybridCall {
  PyObject* vectors = nullptr;
  PyObject* queries = nullptr;
  PyObject* rest[6] = {};

  HybridCall(PyObject* args, PyObject* kwargs, const char* format, const char* const* keywords) {
    parse_args(args, kwargs, format, keywords, &vectors, &queries, &rest[0], &rest[1], &rest[2], &rest[3], &rest[4],
               &rest[5]);
  }
  SearchArgs search_args() const { return quarn_py::search_args(rest[0], rest[1], rest[2], rest[3], rest[4], rest[5]); }
};

PyObject* search_keyword(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"query", "k", "where_filter", "where_document", nullptr};
    const KeywordCall call(args, kwargs, "O|OOO:search_keyword", keywords);
    const std::string query = string_arg(call.queries, "query");
    const SearchArgs a = call.search_args();
    const quarn::SearchParams params = a.with_filters();
    auto db = engine_of(self);
    auto hits = take(without_gil([&] { return db->search_keyword(query, params); }));
    return make_result_list(std::move(hits)).release().ptr();
  });
}

const PyMethodDef kSearchKeyword = keyword_method(
    "search_keyword", search_keyword,
    "search_keyword($self, query, k=10, where_filter=None, where_document=None)\n--\n\n"
    "The k records whose documents best match the words of query by BM25, best first, as a\n"
    "list of SearchResult with .document filled; .distance is minus the BM25 score, so smaller\n"
    "is nearer. A query without words (empty, separators or stop words only), or k=0, gives [].\n"
    "where_filter is a metadata filter and where_document a document filter, as for search.");

PyObject* search_keyword_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"queries", "k", "where_filter", "where_document", nullptr};
    const KeywordCall call(args, kwargs, "O|OOO:search_keyword_many", keywords);
    const std::vector<std::string> queries = string_list_arg(call.queries, "queries");
    const SearchArgs a = call.search_args();
    const quarn::SearchParams params = a.with_filters();
    auto db = engine_of(self);
    auto lists = take(without_gil([&] { return db->search_keyword_many(queries, params); }));
    return result_lists(std::move(lists)).release().ptr();
  });
}

const PyMethodDef kSearchKeywordMany = keyword_method(
    "search_keyword_many", search_keyword_many,
    "search_keyword_many($self, queries, k=10, where_filter=None, where_document=None)\n--\n\n"
    "search_keyword for each str of queries, in parallel: a list of lists of SearchResult.");

// A sharded collection's side of keyword search: each shard's share of a query's BM25
// statistics, and a search scoring with the collection's sum of them.
PyObject* keyword_statistics(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"query", nullptr};
    PyObject* query_obj = nullptr;
    parse_args(args, kwargs, "O:_keyword_statistics", keywords, &query_obj);
    const std::string query = string_arg(query_obj, "query");
    auto db = engine_of(self);
    const quarn::CollectionStatistics stats = without_gil([&] { return db->keyword_statistics(query); });
    py::list terms(stats.terms.size());
    py::list frequencies(stats.document_frequencies.size());
    for (std::size_t i = 0; i < stats.terms.size(); ++i) {
      PyList_SET_ITEM(terms.ptr(), static_cast<Py_ssize_t>(i), py::str(stats.terms[i]).release().ptr());
    }
    for (std::size_t i = 0; i < stats.document_frequencies.size(); ++i) {
      PyList_SET_ITEM(frequencies.ptr(), static_cast<Py_ssize_t>(i), py::int_(stats.document_frequencies[i]).release().ptr());
    }
    return py::make_tuple(terms, stats.documents, stats.total_length, frequencies).release().ptr();
  });
}

const PyMethodDef kKeywordStatistics = keyword_method(
    "_keyword_statistics", keyword_statistics,
    "_keyword_statistics($self, query)\n--\n\n"
    "(terms, documents, total_length, document_frequencies): this database's share of BM25's\n"
    "statistics for the query's terms; a sharded collection adds up its shards'.");

quarn::CollectionStatistics statistics_arg(PyObject* obj) {
  if (!PyTuple_Check(obj) || PyTuple_GET_SIZE(obj) != 4) {
    raise(PyExc_ValueError, "statistics must be (terms, documents, total_length, frequencies)");
  }
  quarn::CollectionStatistics out;
  out.terms = string_list_arg(PyTuple_GET_ITEM(obj, 0), "statistics");
  out.documents = unsigned_arg(PyTuple_GET_ITEM(obj, 1), "statistics");
  out.total_length = unsigned_arg(PyTuple_GET_ITEM(obj, 2), "statistics");
  PyObject* frequencies = PyTuple_GET_ITEM(obj, 3);
  if (!PyList_Check(frequencies)) raise(PyExc_ValueError, "statistics frequencies must be a list");
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(frequencies); ++i) {
    out.document_frequencies.push_back(unsigned_arg(PyList_GET_ITEM(frequencies, i), "statistics"));
  }
  return out;
}

PyObject* search_keyword_collection(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"query", "statistics", "k", "where_filter", "where_document", nullptr};
    PyObject* query_obj = nullptr;
    PyObject* stats_obj = nullptr;
    PyObject* k_obj = nullptr;
    PyObject* filter_obj = nullptr;
    PyObject* document_obj = nullptr;
    parse_args(args, kwargs, "OO|OOO:_search_keyword_collection", keywords, &query_obj, &stats_obj, &k_obj,
               &filter_obj, &document_obj);
    const std::string query = string_arg(query_obj, "query");
    const quarn::CollectionStatistics stats = statistics_arg(stats_obj);
    const SearchArgs a = search_args(k_obj, nullptr, filter_obj, document_obj, nullptr, nullptr);
    quarn::SearchParams params = a.with_filters();
    params.keyword_statistics = &stats;
    auto db = engine_of(self);
    auto hits = take(without_gil([&] { return db->search_keyword(query, params); }));
    return make_result_list(std::move(hits)).release().ptr();
  });
}

const PyMethodDef kSearchKeywordCollection = keyword_method(
    "_search_keyword_collection", search_keyword_collection,
    "_search_keyword_collection($self, query, statistics, k=10, where_filter=None, where_document=None)\n--\n\n"
    "search_keyword scoring with a collection's statistics (as _keyword_statistics gives them,\n"
    "added up over the collection's parts) instead of this database's own.");

PyObject* search_hybrid(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"vector",         "query",  "k",      "ef_search", "where_filter",
                                           "where_document", "fusion", "weight", nullptr};
    const HybridCall call(args, kwargs, "OO|OOOOOO:search_hybrid", keywords);
    std::vector<float> vector = VectorInput::extract(call.vectors, "vector").to_vec();
    const std::string query = string_arg(call.queries, "query");
    const SearchArgs a = call.search_args();
    const quarn::SearchParams params = a.with_filters();
    auto db = engine_of(self);
    auto hits = take(without_gil([&] { return db->search_hybrid(vector, query, params, a.hybrid); }));
    return make_result_list(std::move(hits)).release().ptr();
  });
}

const PyMethodDef kSearchHybrid = keyword_method(
    "search_hybrid", search_hybrid,
    "search_hybrid($self, vector, query, k=10, ef_search=None, where_filter=None, where_document=None, "
    "fusion='rrf', weight=0.5)\n--\n\n"
    "search and search_keyword fused into one ranking of k records, each side giving its own\n"
    "top k. fusion='rrf' scores a record sum(1 / (60 + rank)) over the sides that found it;\n"
    "'weighted' maps each side's scores onto [0, 1] (min-max, best 1) and adds weight times the\n"
    "vector score to (1 - weight) times the keyword score. .distance is minus the fused score;\n"
    "equal scores keep the vector hits' order, then the keyword hits'.");

PyObject* search_hybrid_many(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"vectors",        "queries", "k",      "ef_search", "where_filter",
                                           "where_document", "fusion",  "weight", nullptr};
    const HybridCall call(args, kwargs, "OO|OOOOOO:search_hybrid_many", keywords);
    std::vector<std::vector<float>> vectors = BatchVectorInput::extract(call.vectors, "vectors").to_vecs();
    const std::vector<std::string> queries = string_list_arg(call.queries, "queries");
    const SearchArgs a = call.search_args();
    const quarn::SearchParams params = a.with_filters();
    auto db = engine_of(self);
    auto lists = take(without_gil([&] { return db->search_hybrid_many(vectors, queries, params, a.hybrid); }));
    return result_lists(std::move(lists)).release().ptr();
  });
}

const PyMethodDef kSearchHybridMany = keyword_method(
    "search_hybrid_many", search_hybrid_many,
    "search_hybrid_many($self, vectors, queries, k=10, ef_search=None, where_filter=None, where_document=None, "
    "fusion='rrf', weight=0.5)\n--\n\n"
    "search_hybrid for each row of vectors with the str of queries at the same position, in\n"
    "parallel: a list of lists of SearchResult. ValueError when their lengths differ.");

}  // namespace

std::vector<PyMethodDef> keyword_methods() {
  return {kSearchKeyword,  kSearchKeywordMany,          kSearchHybrid,
          kSearchHybridMany, kKeywordStatistics, kSearchKeywordCollection};
}

}  // namespace quarn_py
