// _quarn.tokenize: the terms the keyword index makes of a text with the default settings (no
// stop words, no stemming), so that other tools can be fed exactly the same terms.
#include <string>
#include <vector>

#include "args.h"
#include "database_object.h"
// The tokenizer is internal to the engine; the module reaches it by path rather than exporting it.
#include "../../core/src/text/tokenizer.h"

namespace quarn_py {

namespace {

PyObject* tokenize(PyObject*, PyObject* args, PyObject* kwargs) {
  return guarded([&] {
    static const char* const keywords[] = {"text", nullptr};
    PyObject* text_obj = nullptr;
    parse_args(args, kwargs, "O:tokenize", keywords, &text_obj);
    const std::string text = string_arg(text_obj, "text");
    static const quarn::Tokenizer tokenizer = take(quarn::Tokenizer::create({}));
    std::vector<std::string> terms;
    without_gil([&] { tokenizer.tokenize(text, terms); });
    py::list out(terms.size());
    for (std::size_t i = 0; i < terms.size(); ++i) out[i] = py::str(terms[i]);
    return out.release().ptr();
  });
}

PyMethodDef kTokenizeMethods[] = {
    keyword_method("tokenize", tokenize,
                   "tokenize(text)\n--\n\n"
                   "The terms the keyword index makes of text with the default settings, in order\n"
                   "and with repeats: runs of Unicode letters and digits, case-folded."),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyMethodDef* text_tokenize_methods() { return kTokenizeMethods; }

}  // namespace quarn_py
