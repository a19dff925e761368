"""Reading the server's result formats: the field-definition document, the
`get` rows and the `getJSON` document, into Python values.

The `get` format has no escapes: text is quoted with doubled quotes, NULL
is the byte 0xFF (numeric NULLs are written as 0), fixed-size byte columns
travel as raw bytes in which any byte may stand, blobs and memos as
hexadecimal text. A row is read by trying each reading a column allows and
keeping the first reading of the whole row that ends in its zero byte."""

import datetime
import decimal
import json
import re

from .exceptions import InterfaceError

INTEGER, FLOAT, DECIMAL, BOOLEAN, DATE, TIME, DATETIME, TEXT, BYTES, BLOB, MEMO = range(11)

_KINDS = {
    "int16": INTEGER, "int32": INTEGER, "int64": INTEGER, "currency": FLOAT,
    "boolean": BOOLEAN, "date": DATE, "time": TIME, "datetime": DATETIME,
    "bytes": BYTES, "blob": BLOB, "memo": MEMO,
}

# Code page 1252, with its five undefined bytes read as the Latin-1 ones, as
# the server maps them.
_CP1252 = "".join(
    bytes([b]).decode("cp1252", errors="replace") if b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D)
    else chr(b) for b in range(256))
_TO_CP1252 = {ord(c): b for b, c in enumerate(_CP1252)}


def cp1252_text(data):
    return "".join(_CP1252[b] for b in data)


def cp1252_bytes(text):
    return bytes(_TO_CP1252.get(ord(c), 0x3F) for c in text)


class Column:
    __slots__ = ("name", "origin", "datatype", "size", "precision", "required", "readonly",
                 "kind")

    def __init__(self, name, origin, datatype, size, precision, required, readonly):
        self.name = name
        self.origin = origin
        self.datatype = datatype
        self.size = size
        self.precision = precision
        self.required = required
        self.readonly = readonly
        if datatype == "double":
            self.kind = DECIMAL if precision is not None else FLOAT
        else:
            self.kind = _KINDS.get(datatype, TEXT)


_FIELD = re.compile(r"<field>(.*?)</field>", re.S)
_ELEMENT = re.compile(r"<(\w+)>(.*?)</\1>", re.S)
_ENTITIES = {"amp": "&", "lt": "<", "gt": ">", "quot": '"', "apos": "'"}


def _unescape(text):
    def replace(match):
        name = match.group(1)
        if name not in _ENTITIES:
            raise InterfaceError(f"field definitions: unknown entity &{name};")
        return _ENTITIES[name]
    return re.sub(r"&(\w*);", replace, text)


def parse_field_defs(xml):
    """The columns of a field-definition document (text)."""
    start = xml.find("<fielddefs")
    end = xml.rfind("</fielddefs>")
    if start < 0 or end < start:
        raise InterfaceError(f"expected a <fielddefs> document, got {xml[:80]!r}")
    columns = []
    for body in _FIELD.findall(xml[start:end]):
        values = {tag: _unescape(value) for tag, value in _ELEMENT.findall(body)}
        if "datatype" not in values:
            raise InterfaceError("field definitions: a <field> without <datatype>")
        try:
            size = int(values.get("size", "0"))
            precision = int(values["precision"]) if "precision" in values else None
        except ValueError as error:
            raise InterfaceError(f"field definitions: {error}") from None
        columns.append(Column(values.get("name", ""), values.get("origin", ""),
                              values["datatype"], size, precision,
                              values.get("required") == "true",
                              values.get("readonly") == "true"))
    return columns


def _iso(text, kind):
    try:
        if kind == DATE:
            return datetime.date.fromisoformat(text) if len(text) == 10 else None
        if kind == TIME:
            return datetime.time.fromisoformat(text) if len(text) in (8, 12) else None
        if len(text) == 10:
            return datetime.datetime.fromisoformat(text)
        if len(text) in (19, 23) and text[10] == " ":
            return datetime.datetime.fromisoformat(text)
    except ValueError:
        return None
    return None


# Tokens only in the server's own spelling (an integer's shortest form,
# upper-case hex): the fewer spellings, the fewer wrong readings of raw bytes.
_INTEGER = re.compile(rb"(0|-?[1-9][0-9]*)\Z")
_NUMBER = re.compile(rb"-?\d+(\.\d*)?([eE]-?\d+)?\Z")
_DECIMAL = re.compile(rb"-?\d+(\.\d+)?\Z")
_HEX = re.compile(rb"([0-9A-F]{2})*\Z")


class _RowReader:
    def __init__(self, columns, payload):
        self.columns = columns
        self.payload = payload
        self.last = len(columns) - 1

    def separator_at(self, column, offset):
        payload = self.payload
        return offset < len(payload) and payload[offset] == (0 if column == self.last else 0x2C)

    def token_end(self, column, offset):
        wanted = 0 if column == self.last else 0x2C
        comma = self.payload.find(b",", offset)
        zero = self.payload.find(b"\0", offset)
        end = min(x for x in (comma, zero) if x >= 0) if comma >= 0 or zero >= 0 else -1
        return end if end >= 0 and self.payload[end] == wanted else -1

    def readings(self, column, offset):
        payload = self.payload
        kind = self.columns[column].kind
        out = []
        at_byte = payload[offset] if offset < len(payload) else None
        null = at_byte == 0xFF and self.separator_at(column, offset + 1)
        if kind in (TEXT, DATE, TIME, DATETIME) and at_byte == 0x22:
            parts = []
            i = offset + 1
            while True:
                quote = payload.find(b'"', i)
                if quote < 0:
                    break
                parts.append(payload[i:quote])
                if payload[quote + 1:quote + 2] == b'"':
                    parts.append(b'"')
                    i = quote + 2
                    continue
                if self.separator_at(column, quote + 1):
                    text = cp1252_text(b"".join(parts))
                    value = text if kind == TEXT else _iso(text, kind)
                    out.append((text if value is None else value, quote + 1))
                break
        if kind == BYTES:
            size = self.columns[column].size
            if size > 0 and self.separator_at(column, offset + size):
                out.append((payload[offset:offset + size], offset + size))
        if null and kind != INTEGER and kind != FLOAT and kind != DECIMAL:
            out.append((None, offset + 1))
        if kind == TEXT:
            size = self.columns[column].size
            if size > 0 and self.separator_at(column, offset + size):
                out.append((payload[offset:offset + size], offset + size))
        if kind in (INTEGER, FLOAT, DECIMAL, BOOLEAN, BLOB, MEMO, TEXT):
            end = self.token_end(column, offset)
            if end >= 0:
                token = payload[offset:end]
                value = self.token_value(kind, token)
                if value is not _NO_VALUE:
                    out.append((value, end))
        return out

    @staticmethod
    def token_value(kind, token):
        if kind in (INTEGER, TEXT):
            return int(token) if _INTEGER.match(token) else _NO_VALUE
        if kind == FLOAT:
            if token in (b"NAN", b"INF", b"-INF"):
                return float(token.decode().lower())
            return float(token) if _NUMBER.match(token) else _NO_VALUE
        if kind == DECIMAL:
            return decimal.Decimal(token.decode()) if _DECIMAL.match(token) else _NO_VALUE
        if kind == BOOLEAN:
            return {b"True": True, b"False": False}.get(token, _NO_VALUE)
        if not _HEX.match(token):
            return _NO_VALUE
        data = bytes.fromhex(token.decode())
        return data if kind == BLOB else cp1252_text(data)

    def read_row(self, offset, row_number):
        if not self.columns:
            raise InterfaceError("rows: a payload for a result without columns")
        row = [None] * len(self.columns)
        dead = set()
        deepest = (0, offset)
        stack = [[offset, self.readings(0, offset), 0]]
        while stack:
            frame = stack[-1]
            column = len(stack) - 1
            if frame[2] == len(frame[1]):
                dead.add((column, frame[0]))
                stack.pop()
                continue
            value, end = frame[1][frame[2]]
            frame[2] += 1
            row[column] = value
            if column == self.last:
                return row, end + 1
            if (column + 1, end + 1) in dead:
                continue
            if column + 1 > deepest[0]:
                deepest = (column + 1, end + 1)
            stack.append([end + 1, self.readings(column + 1, end + 1), 0])
        failed = self.columns[deepest[0]]
        raise InterfaceError(
            f"rows: row {row_number}, column {deepest[0] + 1} ({failed.name}, {failed.datatype}) "
            f"at byte {deepest[1]}: expected a value followed by "
            + ("the row's zero byte" if deepest[0] == self.last else "','"))


_NO_VALUE = object()


def decode_rows(columns, payload):
    """The rows of a `get` payload (bytes) as lists of Python values."""
    reader = _RowReader(columns, payload)
    rows = []
    offset = 0
    while offset < len(payload):
        row, offset = reader.read_row(offset, len(rows) + 1)
        rows.append(row)
    return rows


_DAY_MS = 86400000
_ORDINAL_SHIFT = 1969


def _date_of_ms(count, zone_hours):
    total = round(count)
    days, ms = divmod(total, _DAY_MS)
    moved = datetime.date.fromordinal(days)
    try:
        date = moved.replace(year=moved.year + _ORDINAL_SHIFT)
    except ValueError:
        raise InterfaceError(f"getJSON: {count} is not the count of a date") from None
    return (datetime.datetime.combine(date, datetime.time())
            + datetime.timedelta(milliseconds=ms) - datetime.timedelta(hours=zone_hours))


def decode_json_rows(columns, document, zone_hours=0):
    """The rows of a `getJSON` document (bytes or text). A NULL is the JSON
    string "null", so a text value "null" reads as None too; dates come
    back from the server's shifted millisecond counts."""
    try:
        parsed = json.loads(document, object_pairs_hook=list,
                            parse_constant=lambda name: float(name.lower()))
    except ValueError as error:
        raise InterfaceError(f"getJSON: not a JSON document: {error}") from None
    rows = dict(parsed).get("rows") if isinstance(parsed, list) else None
    if not isinstance(rows, list):
        raise InterfaceError('getJSON: expected an object with a "rows" array')
    result = []
    for number, members in enumerate(rows, 1):
        if not isinstance(members, list) or len(members) != len(columns):
            raise InterfaceError(f"getJSON: row {number}: expected {len(columns)} members")
        row = []
        for column, (_, value) in zip(columns, members):
            row.append(_json_value(column, value, zone_hours, number))
        result.append(row)
    return result


def _json_value(column, value, zone_hours, number):
    if value == "null":
        return None
    kind = column.kind
    try:
        if kind == INTEGER or (kind == TEXT and isinstance(value, int)):
            return int(value)
        if kind == FLOAT:
            return float(value)
        if kind == DECIMAL:
            return decimal.Decimal(str(value))
        if kind == BOOLEAN:
            return bool(value)
        if kind in (DATE, DATETIME):
            moment = _date_of_ms(value, zone_hours)
            return moment.date() if kind == DATE else moment
        if kind == TIME:
            ms = (round(value) - zone_hours * 3600000) % _DAY_MS
            return (datetime.datetime.min + datetime.timedelta(milliseconds=ms)).time()
        if kind == BLOB:
            return bytes.fromhex(value)
        if kind == BYTES:
            return cp1252_bytes(value)
        return cp1252_text(cp1252_bytes(value))
    except (TypeError, ValueError, OverflowError) as error:
        raise InterfaceError(
            f"getJSON: row {number}, column {column.name} ({column.datatype}): {error}") from None
