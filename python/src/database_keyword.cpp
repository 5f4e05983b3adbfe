// Keyword search (BM25 over the documents) and hybrid search.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "args.h"
#include "database_object.h"
#include "filter_parse.h"
#include "search_result.h"
#include "vector_convert.h"

namespace quarn_py {

namespace {

// where_document is accepted only as None for now.
void refuse_where_document(PyObject* obj) {
  if (obj != nullptr && obj != Py_None) {
    raise(PyExc_NotImplementedError, "where_document is not supported yet");
  }
}

PyObject* search_keyword(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"query", "k", "where_filter", "where_document", nullptr};
    PyObject* query_obj = nullptr;
    PyObject* k_obj = nullptr;
    PyObject* filter_obj = nullptr;
    PyObject* document_filter_obj = nullptr;
    parse_args(args, kwargs, "O|OOO:search_keyword", keywords, &query_obj, &k_obj, &filter_obj, &document_filter_obj);
    const std::string query = string_arg(query_obj, "query");
    quarn::SearchParams params;
    if (k_obj != nullptr) params.k = unsigned_arg(k_obj, "k");
    PyObject* filter_dict = optional_dict_arg(filter_obj, "where_filter");
    refuse_where_document(document_filter_obj);
    const std::optional<quarn::Filter> filter = parse_optional_filter(filter_dict);
    params.filter = filter ? &*filter : nullptr;
    params.include_documents = true;
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
    "is nearer. A query without words, or k=0, gives []. where_filter is a metadata filter as\n"
    "for search; where_document takes only None for now.");

quarn::Fusion fusion_arg(PyObject* obj) {
  if (obj == nullptr) return quarn::Fusion::Rrf;
  const std::string name = string_arg(obj, "fusion");
  if (name == "rrf") return quarn::Fusion::Rrf;
  if (name == "weighted") return quarn::Fusion::Weighted;
  raise(PyExc_ValueError, "fusion must be 'rrf' or 'weighted', got '" + name + "'");
}

PyObject* search_hybrid(PyObject* self, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"vector",         "query",  "k",      "ef_search", "where_filter",
                                           "where_document", "fusion", "weight", nullptr};
    PyObject* vector_obj = nullptr;
    PyObject* query_obj = nullptr;
    PyObject* k_obj = nullptr;
    PyObject* ef_obj = nullptr;
    PyObject* filter_obj = nullptr;
    PyObject* document_filter_obj = nullptr;
    PyObject* fusion_obj = nullptr;
    PyObject* weight_obj = nullptr;
    parse_args(args, kwargs, "OO|OOOOOO:search_hybrid", keywords, &vector_obj, &query_obj, &k_obj, &ef_obj,
               &filter_obj, &document_filter_obj, &fusion_obj, &weight_obj);
    std::vector<float> vector = VectorInput::extract(vector_obj, "vector").to_vec();
    const std::string query = string_arg(query_obj, "query");
    quarn::SearchParams params;
    if (k_obj != nullptr) params.k = unsigned_arg(k_obj, "k");
    params.ef_search = optional_unsigned_arg(ef_obj, "ef_search");
    PyObject* filter_dict = optional_dict_arg(filter_obj, "where_filter");
    refuse_where_document(document_filter_obj);
    quarn::HybridParams hybrid;
    hybrid.fusion = fusion_arg(fusion_obj);
    if (weight_obj != nullptr) hybrid.weight = optional_float_arg(weight_obj, "weight").value_or(0.5f);
    const std::optional<quarn::Filter> filter = parse_optional_filter(filter_dict);
    params.filter = filter ? &*filter : nullptr;
    params.include_documents = true;
    auto db = engine_of(self);
    auto hits = take(without_gil([&] { return db->search_hybrid(vector, query, params, hybrid); }));
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

}  // namespace

std::vector<PyMethodDef> keyword_methods() { return {kSearchKeyword, kSearchHybrid}; }

}  // namespace quarn_py
