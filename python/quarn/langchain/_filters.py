"""LangChain metadata filters (Mongo-style dicts) in quarn's filter language.

The two languages share most of their shape; this maps the rest ($between) and refuses with a
clear message the operators quarn cannot evaluate ($like, $ilike, $contains, $not, ...)."""

from __future__ import annotations

from typing import Any, Dict, Optional

# Operators quarn evaluates as LangChain means them.
_SAME = ("$eq", "$ne", "$gt", "$gte", "$lt", "$lte", "$in", "$nin", "$exists")
_SUPPORTED = ", ".join(_SAME + ("$between", "$and", "$or"))


def to_where(filter: Optional[Dict[str, Any]]) -> Optional[Dict[str, Any]]:
    """quarn's where_filter for a LangChain filter dict; None stays None."""
    if filter is None:
        return None
    if not isinstance(filter, dict):
        raise TypeError(f"filter must be a dict of metadata conditions, not {type(filter).__name__!r}")
    return _clause(filter)


def _clause(filter: Dict[str, Any]) -> Dict[str, Any]:
    where: Dict[str, Any] = {}
    for key, condition in filter.items():
        if key in ("$and", "$or"):
            if not isinstance(condition, (list, tuple)):
                raise ValueError(f"{key} value must be a list of filter dicts, not {type(condition).__name__!r}")
            where[key] = [_clause(part) if isinstance(part, dict) else part for part in condition]
        elif isinstance(key, str) and key.startswith("$"):
            raise _unsupported(key, None)
        elif isinstance(condition, dict) and condition and all(_is_operator(op) for op in condition):
            where[key] = _operators(key, condition)
        else:
            where[key] = condition  # equality; the engine checks the value's type
    return where


def _operators(field: str, operators: Dict[str, Any]) -> Dict[str, Any]:
    out: Dict[str, Any] = {}
    for op, value in operators.items():
        if op in ("$in", "$nin") and isinstance(value, tuple):
            value = list(value)
        if op in _SAME:
            _put(out, field, op, value)
        elif op == "$between":
            if not isinstance(value, (list, tuple)) or len(value) != 2:
                raise ValueError(f"$between value for {field!r} must be a [low, high] pair")
            _put(out, field, "$gte", value[0])
            _put(out, field, "$lte", value[1])
        else:
            raise _unsupported(op, field)
    return out


def _put(out: Dict[str, Any], field: str, op: str, value: Any) -> None:
    if op in out:
        raise ValueError(f"filter on {field!r} bounds {op} twice")
    out[op] = value


def _is_operator(key: Any) -> bool:
    return isinstance(key, str) and key.startswith("$")


def _unsupported(op: str, field: Optional[str]) -> ValueError:
    where = f" (on {field!r})" if field is not None else ""
    return ValueError(f"filter operator {op}{where} is not supported by quarn; it supports {_SUPPORTED}")
