"""Parameters of a statement: the ":name" markers as the server finds them,
the text an `exec` value travels as, and SQL literals for the values that
`exec` cannot carry."""

import datetime
import decimal
import math
import re

from .exceptions import NotSupportedError, ProgrammingError

# Literals in quotes are skipped, as the server skips them; "::" is not a
# marker here (the server would read one, so such statements should not
# carry parameters).
_MARKER = re.compile(r"'(?:[^']|'')*'|\"(?:[^\"]|\"\")*\"|`[^`]*`|::|:(\w+)")

_QUERY_WORDS = ("select", "with", "values", "pragma", "show", "explain", "table", "(")


def is_query(statement):
    """True when the statement reads rows (so it runs on the query's own
    connection) rather than changing data."""
    return statement.lstrip().lower().startswith(_QUERY_WORDS)


def markers(statement):
    """(name, start, end) of every marker, in order."""
    return [(m.group(1), m.start(), m.end()) for m in _MARKER.finditer(statement) if m.group(1)]


def ordered_values(statement, parameters):
    """The values for the statement's markers in marker order."""
    found = markers(statement)
    if isinstance(parameters, dict):
        try:
            return found, [parameters[name] for name, _, _ in found]
        except KeyError as error:
            raise ProgrammingError(f"no value for the parameter :{error.args[0]}") from None
    values = list(parameters)
    if len(values) != len(found):
        raise ProgrammingError(
            f"the statement has {len(found)} parameters, {len(values)} values were given")
    return found, values


def _text_of(value):
    if isinstance(value, bool):
        return "1" if value else "0"
    if isinstance(value, (int, decimal.Decimal)):
        return str(value)
    if isinstance(value, float):
        if not math.isfinite(value):
            raise NotSupportedError(f"{value!r} has no SQL form")
        return repr(value)
    if isinstance(value, datetime.datetime):
        return value.isoformat(" ")
    if isinstance(value, (datetime.date, datetime.time)):
        return value.isoformat()
    if isinstance(value, str):
        return value
    raise NotSupportedError(f"parameters of type {type(value).__name__} are not supported")


def exec_value(value):
    """The value as one `exec` value, or None when `exec` cannot carry it:
    the server cuts values at every comma, drops empty ones, and reads one
    line; NULLs and bytes have no form there."""
    if value is None or isinstance(value, (bytes, bytearray, memoryview)):
        return None
    text = _text_of(value)
    if not text or any(c in text for c in ",\r\n\0") or any(ord(c) > 0xFF for c in text):
        return None
    # Quoted, so that blanks around the value survive the server's trimming.
    return '"' + text.replace('"', '""') + '"'


def literal(value, postgres):
    """The value as an SQL literal: quotes doubled, so the text cannot end
    the literal early; bytes in the dialect's hexadecimal form."""
    if value is None:
        return "NULL"
    if isinstance(value, bool):
        return "TRUE" if value else "FALSE"
    if isinstance(value, (bytes, bytearray, memoryview)):
        hex_text = bytes(value).hex().upper()
        return f"decode('{hex_text}', 'hex')" if postgres else f"X'{hex_text}'"
    if isinstance(value, (int, float, decimal.Decimal)):
        return _text_of(value)
    text = _text_of(value)
    if "\0" in text:
        raise NotSupportedError("text parameters cannot hold NUL characters")
    return "'" + text.replace("'", "''") + "'"


def inline(statement, found, values, postgres):
    """The statement with each marker replaced by its value's literal."""
    pieces = []
    last = 0
    for (_, start, end), value in zip(found, values):
        pieces.append(statement[last:start])
        pieces.append(literal(value, postgres))
        last = end
    pieces.append(statement[last:])
    return "".join(pieces)
