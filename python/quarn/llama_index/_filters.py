"""LlamaIndex MetadataFilters in quarn's filter language.

AND and OR groups nest to any depth. NOT (none of the filters matches) is pushed down onto the
operators by De Morgan's laws, which quarn can do for EQ, NE, IN and NIN: a missing field counts
as not equal and not listed in both languages. A range under NOT, and the operators quarn has no
counterpart for (array membership, text match, IS_EMPTY), raise ValueError naming them."""

from __future__ import annotations

from typing import Any, Dict, Optional, Union

from llama_index.core.vector_stores.types import FilterCondition, FilterOperator, MetadataFilter, MetadataFilters

_OPERATORS = {
    FilterOperator.EQ: "$eq",
    FilterOperator.NE: "$ne",
    FilterOperator.GT: "$gt",
    FilterOperator.GTE: "$gte",
    FilterOperator.LT: "$lt",
    FilterOperator.LTE: "$lte",
    FilterOperator.IN: "$in",
    FilterOperator.NIN: "$nin",
}
_NEGATED = {
    FilterOperator.EQ: FilterOperator.NE,
    FilterOperator.NE: FilterOperator.EQ,
    FilterOperator.IN: FilterOperator.NIN,
    FilterOperator.NIN: FilterOperator.IN,
}
_SUPPORTED = ", ".join(op.name for op in _OPERATORS)


def to_where(filters: Optional[MetadataFilters]) -> Optional[Dict[str, Any]]:
    """quarn's where_filter for LlamaIndex filters; None or an empty list means no filter."""
    if filters is None or not filters.filters:
        return None
    return _group(filters, negate=False)


def _group(filters: MetadataFilters, negate: bool) -> Dict[str, Any]:
    condition = filters.condition or FilterCondition.AND
    if condition == FilterCondition.NOT:  # none matches: all of the negations match
        negate_parts, any_of = not negate, negate
    elif condition in (FilterCondition.AND, FilterCondition.OR):
        negate_parts, any_of = negate, (condition == FilterCondition.OR) != negate
    else:
        raise ValueError(f"filter condition {condition!r} is not supported")
    parts = [_node(part, negate_parts) for part in filters.filters]
    return {"$or" if any_of else "$and": parts}


def _node(node: Union[MetadataFilter, MetadataFilters], negate: bool) -> Dict[str, Any]:
    if isinstance(node, MetadataFilters):
        return _group(node, negate)
    operator = FilterOperator(node.operator)
    if operator not in _OPERATORS:
        raise ValueError(f"filter operator {operator.name} (on {node.key!r}) is not supported by quarn; "
                         f"it supports {_SUPPORTED}")
    if negate:
        if operator not in _NEGATED:
            raise ValueError(f"filter operator {operator.name} (on {node.key!r}) cannot be negated by quarn; "
                             "under NOT it supports EQ, NE, IN and NIN")
        operator = _NEGATED[operator]
    value: Any = node.value
    if operator in (FilterOperator.IN, FilterOperator.NIN) and not isinstance(value, list):
        value = [value]
    return {node.key: {_OPERATORS[operator]: value}}
