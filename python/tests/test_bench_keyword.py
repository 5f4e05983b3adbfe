"""The keyword benchmark's own judgement: when two top-10 lists count as identical, what the judged
set and the queries hold, and nDCG with one right answer."""
import math
import os
import sys

import pytest

quarn = pytest.importorskip("quarn")

sys.path.insert(0, os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))

from bench import text_corpus as tc  # noqa: E402
from bench.keyword_quality import ndcg_one  # noqa: E402
from bench.keyword_speed import same_top  # noqa: E402

A, B, C, D = 1, 2, 3, 4
SAME_TOP = [
    ([], [], True),
    ([(A, 3.0), (B, 2.0)], [(A, 3.0), (B, 2.0)], True),
    ([(A, 3.0), (B, 2.0)], [(A, 3.0 * (1 + 5e-6)), (B, 2.0)], True),  # rounding, not a different score
    ([(A, 3.0), (B, 2.0)], [(A, 3.0 * (1 + 1e-4)), (B, 2.0)], False),  # a different score
    ([(A, 3.0), (B, 2.0)], [(B, 3.0), (A, 2.0)], False),  # the same rows in another order
    ([(A, 3.0), (B, 3.0), (C, 1.0)], [(B, 3.0), (A, 3.0), (C, 1.0)], True),  # a tie may come in either order
    ([(A, 3.0), (B, 1.0)], [(A, 3.0), (C, 1.0)], True),  # rows tied at the cut: either may be kept
    ([(A, 3.0), (B, 2.0), (C, 1.0)], [(A, 3.0), (D, 2.0), (C, 1.0)], False),  # a row above the cut differs
    ([(A, 3.0)], [(A, 3.0), (B, 1.0)], False),  # one list found more
]


@pytest.mark.parametrize("mine, theirs, same", SAME_TOP)
def test_same_top_tells_ties_from_different_results(mine, theirs, same):
    assert same_top(mine, theirs) is same
    assert same_top(theirs, mine) is same


@pytest.mark.parametrize("ranked, want", [(["7", "1"], 1.0), (["1", "7"], 1 / math.log2(3)),
                                          ([str(i) for i in range(10)] + ["x"], 0.0), ([], 0.0)])
def test_ndcg_with_one_right_answer(ranked, want):
    assert ndcg_one(ranked, "x" if want == 0.0 else "7") == pytest.approx(want)


TEXTS = [f"Passage {i} about topic{i % 7}. It has a second sentence{i}. And a third one here{i}. End{i}."
         for i in range(60)] + [f"short {i}" for i in range(40)]


def test_judged_set_takes_the_query_sentence_out_of_its_answer():
    pool, queries, answers = tc.judged_set(TEXTS, 80, 12)
    assert len(pool) == 80 and len(queries) == len(answers) == 12
    assert len(set(answers)) == 12
    for q, a in zip(queries, answers):
        assert q not in pool[a]
        assert any(q in t and pool[a] == t.replace(" " + q, "") for t in TEXTS)
    assert tc.judged_set(TEXTS, 80, 12) == (pool, queries, answers)  # fixed seed


def test_queries_are_words_of_one_passage_in_its_order():
    import _quarn

    queries = tc.keyword_queries(TEXTS, _quarn.tokenize, count=50)
    assert queries == tc.keyword_queries(TEXTS, _quarn.tokenize, count=50)
    for q in queries:
        words = q.split()
        assert 1 <= len(words) <= 5 and len(set(words)) == len(words)
        assert any(all(w in _quarn.tokenize(t) for w in words) for t in TEXTS)
