"""Uncased BERT WordPiece tokenizer over a ``vocab.txt``, in pure Python.

Produces the same ids as the model's own ``tokenizer.json`` (BERT normaliser: clean text,
spaces around CJK ideographs, accents stripped, lower case; split on whitespace and
punctuation; greedy longest-match WordPiece), but without padding: each text gets exactly
its own tokens, and the caller builds the attention mask from the lengths. Characters that
only a newer Unicode table knows (Python's may be newer) can come out differently.
"""

from __future__ import annotations

import re
import unicodedata
from functools import lru_cache

_ASCII_WORDS = re.compile(r"[A-Za-z0-9]+|[!-/:-@\[-`{-~]")
# Control characters other than tab, newline and carriage return are dropped.
_ASCII_CONTROL = {c: None for c in (*range(0, 9), 11, 12, *range(14, 32), 127)}
_DROPPED = {"Cc", "Cf", "Co"}


def _is_cjk(cp: int) -> bool:
    return (0x4E00 <= cp <= 0x9FFF or 0x3400 <= cp <= 0x4DBF or 0x20000 <= cp <= 0x2A6DF
            or 0x2A700 <= cp <= 0x2B73F or 0x2B740 <= cp <= 0x2B81F or 0x2B920 <= cp <= 0x2CEAF
            or 0xF900 <= cp <= 0xFAFF or 0x2F800 <= cp <= 0x2FA1F)


def _is_punctuation(ch: str) -> bool:
    cp = ord(ch)
    if 33 <= cp <= 47 or 58 <= cp <= 64 or 91 <= cp <= 96 or 123 <= cp <= 126:
        return True
    return unicodedata.category(ch).startswith("P")


def _words_unicode(text: str) -> list[str]:
    chars = []
    for ch in text:
        if ch in "\t\n\r":
            chars.append(" ")
        elif ch == "\ufffd" or unicodedata.category(ch) in _DROPPED:
            continue
        elif ch.isspace():
            chars.append(" ")
        elif _is_cjk(ord(ch)):
            chars.append(f" {ch} ")
        else:
            chars.append(ch)
    text = unicodedata.normalize("NFD", "".join(chars))
    text = "".join(ch for ch in text if unicodedata.category(ch) != "Mn")
    # Per character, as the reference does: no final-sigma rule.
    text = text.lower() if "\u03a3" not in text else "".join(ch.lower() for ch in text)
    words: list[str] = []
    for chunk in text.split():
        start = 0
        for i, ch in enumerate(chunk):
            if _is_punctuation(ch):
                if start < i:
                    words.append(chunk[start:i])
                words.append(ch)
                start = i + 1
        if start < len(chunk):
            words.append(chunk[start:])
    return words


def basic_words(text: str) -> list[str]:
    """The normalised, pre-tokenised words of ``text``."""
    if text.isascii():
        return _ASCII_WORDS.findall(text.translate(_ASCII_CONTROL).lower())
    return _words_unicode(text)


class WordPiece:
    def __init__(self, vocab_path: str, max_chars_per_word: int = 100):
        with open(vocab_path, encoding="utf-8") as f:
            tokens = [line.rstrip("\n") for line in f]
        self.vocab = {t: i for i, t in enumerate(tokens)}
        self.unk = self.vocab["[UNK]"]
        self.cls = self.vocab["[CLS]"]
        self.sep = self.vocab["[SEP]"]
        self.pad = self.vocab["[PAD]"]
        self.max_chars_per_word = max_chars_per_word
        self._word_ids = lru_cache(maxsize=1 << 16)(self._word_ids_uncached)

    def _word_ids_uncached(self, word: str) -> tuple[int, ...]:
        if len(word) > self.max_chars_per_word:
            return (self.unk,)
        vocab = self.vocab
        ids = []
        start = 0
        while start < len(word):
            end = len(word)
            while end > start:
                piece = word[start:end] if start == 0 else "##" + word[start:end]
                found = vocab.get(piece)
                if found is not None:
                    ids.append(found)
                    break
                end -= 1
            else:
                return (self.unk,)
            start = end
        return tuple(ids)

    def encode(self, text: str, max_tokens: int) -> list[int]:
        """[CLS] tokens [SEP], truncated so the whole is at most ``max_tokens`` long."""
        ids = [self.cls]
        limit = max_tokens - 1
        for word in basic_words(text):
            ids.extend(self._word_ids(word))
            if len(ids) >= limit:
                del ids[limit:]
                break
        ids.append(self.sep)
        return ids
