"""_quarn.tokenize gives the keyword index's own terms (default settings), so that a tool fed
them scores the same words the index does."""
import numpy as np
import pytest

import _quarn
import quarn

CASES = [
    ("", []),
    (" .,;!? ", []),
    ("Hello, World! Hello", ["hello", "world", "hello"]),  # repeats kept, in order
    ("The cats are running", ["the", "cats", "are", "running"]),  # no stop words, no stemming
    ("x86_64 e-mail", ["x86", "64", "e", "mail"]),
    ("Straße ÉCOLE", ["strasse", "école"]),  # full case folding, non-ASCII back as str
    ("東京タワー 😀ok", ["東京タワー", "ok"]),
]


@pytest.mark.parametrize("text, terms", CASES)
def test_tokenize_gives_default_terms(text, terms):
    assert _quarn.tokenize(text) == terms
    assert _quarn.tokenize(text=text) == terms


@pytest.mark.parametrize("bad, error", [(b"bytes", TypeError), (None, TypeError), ("lone \ud800", ValueError)])
def test_tokenize_refuses_what_is_not_text(bad, error):
    with pytest.raises(error):
        _quarn.tokenize(bad)


def test_every_term_of_a_document_finds_it(tmp_path):
    texts = ["Straße nach Köln", "running CATS x86_64", "東京タワー und 42"]
    with quarn.Database(str(tmp_path / "db"), dim=2) as db:
        db.add_many([str(i) for i in range(len(texts))], np.zeros((len(texts), 2), np.float32), documents=texts)
        for i, text in enumerate(texts):
            for term in _quarn.tokenize(text):
                assert [r.id for r in db.search_keyword(term, k=1)] == [str(i)], term
