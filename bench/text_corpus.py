"""Real text found on the machine, as passages for the keyword benchmarks, with queries drawn from it.

Passages are the descriptions of the Debian packages the machine knows of (the package lists
of apt, read through apt-helper so that compressed lists work, and the status file of dpkg),
one passage per distinct description, in order of package name; when fewer than ``minimum`` are
found, paragraphs of the docstrings of the Python standard library fill up. Everything is sorted
and every random choice has a fixed seed, so a machine gives the same corpus at every run.

    python bench/text_corpus.py            # prints the sizes and a few samples
"""

from __future__ import annotations

import ast
import glob
import json
import os
import re
import subprocess
import sysconfig

import numpy as np

DPKG_STATUS = "/var/lib/dpkg/status"
APT_LISTS = "/var/lib/apt/lists"
APT_HELPER = "/usr/lib/apt/apt-helper"
MIN_PASSAGES = 50_000
MIN_CHARS = 40

_SENTENCE_SPLIT = re.compile(r"(?<=[.!?])\s+(?=[A-Z])")


# ---------------------------------------------------------------- Debian descriptions

def _read_list(path: str) -> str:
    if path.endswith("Packages"):
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    # Compressed lists (lz4, xz, gz): apt's own helper knows every compression apt uses.
    out = subprocess.run([APT_HELPER, "cat-file", path], check=True, capture_output=True)
    return out.stdout.decode("utf-8", errors="replace")


def _descriptions(text: str):
    """(package, description) of each stanza; the long description's " ." lines end paragraphs."""
    for stanza in text.split("\n\n"):
        package, desc, in_desc = None, [], False
        for line in stanza.splitlines():
            if line.startswith("Package:"):
                package = line[8:].strip()
                in_desc = False
            elif line.startswith("Description:"):
                desc, in_desc = [line[12:].strip() + "."], True
            elif in_desc and line.startswith(" "):
                body = line.strip()
                desc.append("\n" if body == "." else body)
            else:
                in_desc = False
        if package and desc:
            passage = " ".join(" ".join(desc).split())
            if len(passage) >= MIN_CHARS:
                yield package, passage


def debian_passages() -> list[str]:
    sources = []
    if os.path.exists(DPKG_STATUS):
        sources.append(DPKG_STATUS)
    sources += sorted(p for p in glob.glob(os.path.join(APT_LISTS, "*_Packages*")) if not p.endswith(".diff_Index"))
    found: dict[str, str] = {}
    for path in sources:
        try:
            text = _read_list(path)
        except (OSError, subprocess.CalledProcessError):
            continue
        for package, passage in _descriptions(text):
            # The first package (by name) that carries a description keeps it.
            if passage not in found or package < found[passage]:
                found[passage] = package
    return [p for p, _ in sorted(found.items(), key=lambda item: (item[1], item[0]))]


# ---------------------------------------------------------------- standard library docstrings

def stdlib_passages() -> list[str]:
    root = sysconfig.get_paths()["stdlib"]
    found: set = set()
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = sorted(d for d in dirnames if d not in ("site-packages", "__pycache__"))
        for name in sorted(f for f in filenames if f.endswith(".py")):
            try:
                with open(os.path.join(dirpath, name), encoding="utf-8") as f:
                    tree = ast.parse(f.read())
            except (OSError, SyntaxError, UnicodeDecodeError, ValueError):
                continue
            for node in ast.walk(tree):
                if isinstance(node, (ast.Module, ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
                    doc = ast.get_docstring(node)
                    for para in re.split(r"\n\s*\n", doc or ""):
                        para = " ".join(para.split())
                        if len(para) >= MIN_CHARS:
                            found.add(para)
    return sorted(found)


def passages(minimum: int = MIN_PASSAGES, cache: str | None = None) -> list[str]:
    """Distinct passages of real text, Debian descriptions first; at least ``minimum`` or an error.
    With ``cache`` (a JSON file) the passages are read from it when present, else kept in it."""
    if cache and os.path.exists(cache):
        with open(cache, encoding="utf-8") as f:
            return json.load(f)
    out = debian_passages()
    if len(out) < minimum:
        seen = set(out)
        out += [p for p in stdlib_passages() if p not in seen]
    if len(out) < minimum:
        raise RuntimeError(f"only {len(out)} passages of text found on this machine, {minimum} needed")
    if cache:
        os.makedirs(os.path.dirname(os.path.abspath(cache)), exist_ok=True)
        with open(cache, "w", encoding="utf-8") as f:
            json.dump(out, f)
    return out


# ---------------------------------------------------------------- queries and judged sets

def keyword_queries(texts: list[str], tokenize, count: int = 1000, seed: int = 29) -> list[str]:
    """``count`` queries of one to five distinct words of a random passage each, in the passage's
    order: the words of a passage mix rare terms with common ones as the text does."""
    rng = np.random.default_rng(seed)
    out = []
    while len(out) < count:
        terms = list(dict.fromkeys(tokenize(texts[int(rng.integers(len(texts)))])))
        if not terms:
            continue
        n = min(len(terms), int(rng.integers(1, 6)))
        picked = sorted(rng.choice(len(terms), n, replace=False))
        out.append(" ".join(terms[i] for i in picked))
    return out


def sentences_of(text: str) -> list[str]:
    return [s for s in _SENTENCE_SPLIT.split(text) if s]


def judged_set(texts: list[str], passages_wanted: int, queries_wanted: int, seed: int = 30):
    """A retrieval set with one right answer per query. ``queries_wanted`` passages of three
    sentences or more are drawn at random; from each, one sentence (not the first) is taken out to
    be the query and the passage without it is the answer. Random other passages fill the set up
    to ``passages_wanted``. Returns (passages, queries, answer index of each query)."""
    rng = np.random.default_rng(seed)
    candidates = [i for i, t in enumerate(texts) if len(sentences_of(t)) >= 3]
    if len(candidates) < queries_wanted:
        raise RuntimeError(f"only {len(candidates)} passages with three sentences, {queries_wanted} needed")
    answered = sorted(int(candidates[i]) for i in rng.choice(len(candidates), queries_wanted, replace=False))
    taken = set(answered)
    rest = [i for i in range(len(texts)) if i not in taken]
    fill = rng.choice(len(rest), passages_wanted - queries_wanted, replace=False)
    chosen = sorted(answered + [rest[int(i)] for i in fill])
    pool = [texts[i] for i in chosen]
    slot_of = {t: j for j, t in enumerate(chosen)}
    queries, answers = [], []
    for i in answered:
        slot = slot_of[i]
        parts = sentences_of(pool[slot])
        j = int(rng.integers(1, len(parts)))
        queries.append(parts[j])
        pool[slot] = " ".join(parts[:j] + parts[j + 1:])
        answers.append(slot)
    return pool, queries, answers


if __name__ == "__main__":
    deb = debian_passages()
    print(f"{len(deb)} Debian descriptions")
    texts = passages()
    lengths = np.array([len(t.split()) for t in texts])
    print(f"{len(texts)} passages, words per passage median {np.median(lengths):.0f}, mean {lengths.mean():.1f}")
    for t in texts[:: max(1, len(texts) // 4)][:4]:
        print("-", t[:160])
