"""velquarn: a DB-API 2.0 (PEP 249) client of the Velquarn ODBC gateway,
standard library only.

    import velquarn
    connection = velquarn.connect("127.0.0.1", 8888, database="demo")
    cursor = connection.cursor()
    cursor.execute("select * from customer where id = :id", {"id": 1})
    print(cursor.fetchall())
"""

import datetime as _datetime
import time as _time

from .connection import Connection, Cursor, connect
from .exceptions import (DatabaseError, DataError, Error, IntegrityError, InterfaceError,
                         InternalError, NotSupportedError, OperationalError, ProgrammingError,
                         Warning)

apilevel = "2.0"
# Threads may share the module, not connections: a connection is one
# conversation on one socket.
threadsafety = 1
# Markers are the server's own ":name"; a sequence of parameters fills the
# markers in the order they appear.
paramstyle = "named"

__version__ = "2.1.0"


class _TypeObject:
    """Compares equal to the field-definition datatype names it covers."""

    def __init__(self, *names):
        self.names = frozenset(names)

    def __eq__(self, other):
        return other in self.names

    def __ne__(self, other):
        return other not in self.names

    def __hash__(self):
        return hash(self.names)


STRING = _TypeObject("string", "memo")
BINARY = _TypeObject("bytes", "blob")
NUMBER = _TypeObject("int16", "int32", "int64", "double", "currency", "boolean")
DATETIME = _TypeObject("date", "time", "datetime")
ROWID = _TypeObject()

Date = _datetime.date
Time = _datetime.time
Timestamp = _datetime.datetime
Binary = bytes


def DateFromTicks(ticks):
    return Date(*_time.localtime(ticks)[:3])


def TimeFromTicks(ticks):
    return Time(*_time.localtime(ticks)[3:6])


def TimestampFromTicks(ticks):
    return Timestamp(*_time.localtime(ticks)[:6])


__all__ = [
    "apilevel", "threadsafety", "paramstyle", "connect", "Connection", "Cursor",
    "Warning", "Error", "InterfaceError", "DatabaseError", "DataError", "OperationalError",
    "IntegrityError", "InternalError", "ProgrammingError", "NotSupportedError",
    "STRING", "BINARY", "NUMBER", "DATETIME", "ROWID", "Date", "Time", "Timestamp", "Binary",
    "DateFromTicks", "TimeFromTicks", "TimestampFromTicks",
]
