"""Connections and cursors.

The server keeps one result set per connection, so a cursor that starts a
statement first reads the rest of any other cursor's result into memory.

Transactions: `tran` acts on the server's main database connection, which
runs `execsql2`/`execsql3`, while `sql` and `exec` run on the query's own
connection outside any transaction. So, unless ``autocommit`` is set,
statements that change data are sent with `execsql3` (any byte of the
statement travels hex-encoded) inside a transaction started on first use,
with their parameters written into the text as SQL literals; commit() and
rollback() end it. Queries, and every statement in autocommit mode, run
with `sql`, or with `prep` and `exec` when they have parameters that
`exec` can carry (see sql_text.exec_value); other parameter values are
written into the statement as literals."""

import collections

from . import rows as _rows
from . import sql_text
from .exceptions import (DatabaseError, InterfaceError, NotSupportedError, OperationalError,
                         ProgrammingError, error_for_reply)
from .protocol import Transport, to_wire

PAGE_ROWS = 1000


def connect(host="127.0.0.1", port=8888, database=None, user=None, password=None, timeout=30.0,
            autocommit=False, server_time_zone=0, ssl=None):
    """Connects and opens the database (a configuration section or a data
    source name). timeout bounds every wait for the server, in seconds.
    server_time_zone is the section's ServerTimeZone, which the server
    adds to JSON dates (used by Cursor.fetchall_json). ssl: an
    ssl.SSLContext to speak TLS (to the gateway's TLS port), e.g.
    ssl.create_default_context(cafile="ca.pem")."""
    return Connection(host, port, database, user, password, timeout, autocommit,
                      server_time_zone, ssl)


def _one_line(statement):
    """The statement on one command line: line breaks outside literals
    become blanks; inside a literal they cannot travel in `sql`."""
    if "\n" not in statement and "\r" not in statement:
        return statement
    out = []
    quote = None
    for c in statement:
        if quote:
            if c in "\r\n":
                raise NotSupportedError(
                    "a line break inside a literal of a query cannot be sent; pass it as a "
                    "parameter")
            if c == quote:
                quote = None
        elif c in "'\"":
            quote = c
        elif c in "\r\n":
            c = " "
        out.append(c)
    return "".join(out)


class Connection:
    def __init__(self, host, port, database, user, password, timeout, autocommit,
                 server_time_zone, ssl_context=None):
        if not database:
            raise ProgrammingError("connect() needs a database (configuration section or DSN)")
        self._transport = Transport(host, port, timeout, ssl_context)
        self.autocommit_ = bool(autocommit)
        self.server_time_zone = server_time_zone
        self._tran_active = False
        self._active_cursor = None
        self._postgres = None
        try:
            greeting = self._transport.read_reply()
            if not greeting.ok:
                raise OperationalError(f"{greeting.code} {greeting.text}", greeting.code,
                                       greeting.text)
            line = f"open {database}"
            if user is not None:
                line += f" {user} {password or ''}"
            self._check(self._transport.command(line))
        except BaseException:
            self._transport.close()
            raise

    # PEP 249 names autocommit as an attribute in its extensions.
    @property
    def autocommit(self):
        return self.autocommit_

    @autocommit.setter
    def autocommit(self, value):
        if value and self._tran_active:
            self.commit()
        self.autocommit_ = bool(value)

    @property
    def closed(self):
        return self._transport.closed

    def _check(self, reply):
        if not reply.ok:
            raise error_for_reply(reply.code, "\n".join(reply.lines))
        return reply

    def _command(self, line):
        if self._transport.closed:
            raise InterfaceError("the connection is closed")
        return self._transport.command(line)

    def _detach(self):
        cursor = self._active_cursor
        self._active_cursor = None
        if cursor is not None:
            cursor._drain()

    def _start_transaction(self):
        if not self._tran_active:
            self._check(self._command("tran start"))
            self._tran_active = True

    def is_postgres(self):
        """True when the database is PostgreSQL (asked once): it decides
        how bytes literals are written."""
        if self._postgres is None:
            self._detach()
            reply = self._command("sql select version()")
            self._postgres = reply.code == 200
            if reply.code == 200:
                first = self._fetch_page(_rows.parse_field_defs(reply.text), 1)[0]
                self._postgres = bool(first) and "postgresql" in str(first[0][0]).lower()
                self._command("clear")
            elif reply.code == 201:
                self._transport.read_data_block()
        return self._postgres

    def _fetch_page(self, columns, count):
        reply = self._command(f"get {count}")
        if reply.code == 522:
            return [], True
        self._check(reply)
        page = _rows.decode_rows(columns, self._transport.read_counted_block())
        return page, len(page) < count

    def commit(self):
        if self._tran_active:
            self._detach()
            self._tran_active = False
            self._check(self._command("tran commit"))

    def rollback(self):
        if self._tran_active:
            self._detach()
            self._tran_active = False
            self._check(self._command("tran rollback"))

    def close(self):
        if self._transport.closed:
            return
        try:
            self._active_cursor = None
            # Closing the database on the server rolls an open transaction back.
            self._transport.send_line("quit")
        except DatabaseError:
            pass
        finally:
            self._transport.close()

    def cursor(self):
        if self._transport.closed:
            raise InterfaceError("the connection is closed")
        return Cursor(self)

    def __enter__(self):
        return self

    def __exit__(self, kind, value, traceback):
        try:
            if not self._transport.closed:
                if kind is None:
                    self.commit()
                else:
                    self.rollback()
        finally:
            self.close()

    def __del__(self):
        try:
            self._transport.close()
        except Exception:
            pass


class Cursor:
    def __init__(self, connection):
        self.connection = connection
        self.arraysize = 1
        self.description = None
        self.rowcount = -1
        self.lastrowid = None
        self._columns = None
        self._rows = collections.deque()
        self._at_end = True
        self._closed = False

    def _check_open(self):
        if self._closed:
            raise InterfaceError("the cursor is closed")
        if self.connection.closed:
            raise InterfaceError("the connection is closed")

    def _reset(self):
        self.description = None
        self.rowcount = -1
        self._columns = None
        self._rows.clear()
        self._at_end = True

    def _drain(self):
        while not self._at_end:
            self._next_page()

    def _next_page(self):
        page, self._at_end = self.connection._fetch_page(self._columns, PAGE_ROWS)
        self._rows.extend(tuple(row) for row in page)
        if self._at_end and self.connection._active_cursor is self:
            self.connection._active_cursor = None

    def _open_result(self, columns):
        self._columns = columns
        self.description = [
            (c.name, c.datatype, None, c.size or None, c.precision, None, not c.required)
            for c in columns
        ]
        self._at_end = False
        self.connection._active_cursor = self

    def execute(self, operation, parameters=None):
        self._check_open()
        connection = self.connection
        connection._detach()
        self._reset()
        statement = operation
        found, values = [], []
        if parameters:
            found, values = sql_text.ordered_values(statement, parameters)
        if not connection.autocommit and not sql_text.is_query(statement):
            self._execute_in_transaction(statement, found, values)
            return self
        if found:
            wire_values = [sql_text.exec_value(v) for v in values]
            if all(v is not None for v in wire_values):
                self._prepared(statement, found, wire_values)
                return self
            statement = sql_text.inline(statement, found, values, connection.is_postgres())
        reply = connection._command("sql " + _one_line(statement))
        if reply.code == 201:
            lines = connection._transport.read_data_block()
            self.rowcount = int(lines[0]) if lines else -1
        elif reply.code == 200:
            self._open_result(_rows.parse_field_defs(reply.text))
        else:
            connection._check(reply)
        return self

    def _execute_in_transaction(self, statement, found, values):
        connection = self.connection
        if found:
            statement = sql_text.inline(statement, found, values, connection.is_postgres())
        connection._start_transaction()
        hex_text = to_wire(statement).hex()
        reply = connection._check(connection._command(f"execsql3 {len(hex_text)} {hex_text}"))
        try:
            self.rowcount = int(reply.text)
        except ValueError:
            self.rowcount = -1

    def _prepared(self, statement, found, wire_values):
        connection = self.connection
        connection._check(connection._command("prep " + _one_line(statement)))
        reply = connection._command("exec " + ",".join(wire_values))
        if reply.code == 201:
            lines = connection._transport.read_data_block()
            self.rowcount = int(lines[0]) if lines else -1
            return
        if reply.code != 200:
            connection._check(reply)
        # Every parameter is in-out after `prep`, so their values follow.
        if found:
            connection._transport.read_data_block()
        info = connection._command("info")
        if info.code == 523:
            return
        connection._check(info)
        self._open_result(_rows.parse_field_defs(
            _rows.cp1252_text(connection._transport.read_counted_block())))

    def executemany(self, operation, seq_of_parameters):
        total = 0
        counted = False
        for parameters in seq_of_parameters:
            self.execute(operation, parameters)
            if self.rowcount >= 0:
                total += self.rowcount
                counted = True
        self.rowcount = total if counted else -1
        return self

    def fetchone(self):
        self._check_open()
        if self._columns is None:
            raise ProgrammingError("no result set: execute a query first")
        if not self._rows and not self._at_end:
            self._next_page()
        return self._rows.popleft() if self._rows else None

    def fetchmany(self, size=None):
        size = self.arraysize if size is None else size
        result = []
        while len(result) < size:
            row = self.fetchone()
            if row is None:
                break
            result.append(row)
        return result

    def fetchall(self):
        self._check_open()
        if self._columns is None:
            raise ProgrammingError("no result set: execute a query first")
        self._drain()
        result = list(self._rows)
        self._rows.clear()
        return result

    def fetchall_json(self):
        """All rows of the result, read again from the start with `getJSON`
        (numeric NULLs are None there, unlike in `get`)."""
        self._check_open()
        if self._columns is None:
            raise ProgrammingError("no result set: execute a query first")
        connection = self.connection
        reply = connection._check(connection._command("getJSON"))
        document = connection._transport.read_counted_block()
        del reply
        self._at_end = True
        self._rows.clear()
        if connection._active_cursor is self:
            connection._active_cursor = None
        return [tuple(row) for row in _rows.decode_json_rows(
            self._columns, document, connection.server_time_zone)]

    def __iter__(self):
        return self

    def __next__(self):
        row = self.fetchone()
        if row is None:
            raise StopIteration
        return row

    def setinputsizes(self, sizes):
        pass

    def setoutputsize(self, size, column=None):
        pass

    def close(self):
        if self.connection._active_cursor is self:
            self.connection._active_cursor = None
        self._closed = True
        self._rows.clear()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
