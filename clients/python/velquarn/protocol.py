"""The line protocol on a socket: command lines, numbered replies, data
blocks and counted blocks. Every read waits at most the timeout; a closed
connection, a timeout or a reply that does not parse raises
OperationalError or InterfaceError naming what was expected."""

import socket

from .exceptions import InterfaceError, OperationalError


def to_wire(text):
    """A command line as the wire carries it: one byte per character up
    to U+00FF; other characters become '?'."""
    return text.encode("latin-1", errors="replace")


def from_wire(data):
    return data.decode("latin-1")


class Reply:
    __slots__ = ("code", "lines")

    def __init__(self, code, lines):
        self.code = code
        self.lines = lines

    @property
    def text(self):
        return self.lines[-1] if self.lines else ""

    @property
    def ok(self):
        return 100 <= self.code < 300

    def __repr__(self):
        return f"Reply({self.code}, {self.lines!r})"


class Transport:
    def __init__(self, host, port, timeout, ssl_context=None):
        """ssl_context: an ssl.SSLContext for the gateway's TLS port; the
        server's certificate is checked against host (when the context
        checks host names)."""
        try:
            self._socket = socket.create_connection((host, port), timeout=timeout)
        except OSError as error:
            raise OperationalError(f"cannot connect to {host}:{port}: {error}") from error
        if ssl_context is not None:
            try:
                self._socket = ssl_context.wrap_socket(self._socket, server_hostname=host)
            except OSError as error:
                self._socket.close()
                raise OperationalError(f"TLS with {host}:{port} failed: {error}") from error
        self._socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self._buffer = bytearray()

    def close(self):
        if self._socket is not None:
            try:
                self._socket.close()
            finally:
                self._socket = None

    @property
    def closed(self):
        return self._socket is None

    def _fill(self, expected):
        if self._socket is None:
            raise InterfaceError("the connection is closed")
        try:
            chunk = self._socket.recv(65536)
        except socket.timeout as error:
            raise OperationalError(f"timed out waiting for {expected}") from error
        except OSError as error:
            raise OperationalError(f"reading {expected}: {error}") from error
        if not chunk:
            self.close()
            raise OperationalError(f"the server closed the connection while sending {expected}")
        self._buffer += chunk

    def send(self, data):
        if self._socket is None:
            raise InterfaceError("the connection is closed")
        try:
            self._socket.sendall(data)
        except OSError as error:
            raise OperationalError(f"sending a command: {error}") from error

    def send_line(self, text):
        self.send(to_wire(text) + b"\r\n")

    def read_line(self, expected="a reply line"):
        start = 0
        while True:
            end = self._buffer.find(b"\n", start)
            if end >= 0:
                line = bytes(self._buffer[:end])
                del self._buffer[:end + 1]
                return line[:-1] if line.endswith(b"\r") else line
            start = len(self._buffer)
            self._fill(expected)

    def read_reply(self):
        code = None
        lines = []
        while True:
            raw = self.read_line()
            text = from_wire(raw)
            if len(text) < 3 or not text[:3].isdigit() or (len(text) > 3 and text[3] not in " -"):
                raise InterfaceError(f"expected a reply line 'nnn text', got {text[:200]!r}")
            line_code = int(text[:3])
            if code is not None and line_code != code:
                raise InterfaceError(f"reply code changed within a reply: {text[:200]!r}")
            code = line_code
            if len(text) == 3:
                return Reply(code, lines)
            lines.append(text[4:])
            if text[3] == " ":
                return Reply(code, lines)

    def command(self, line):
        self.send_line(line)
        return self.read_reply()

    def read_data_block(self):
        lines = []
        while True:
            line = from_wire(self.read_line("a data block line"))
            if line == ".":
                return lines
            lines.append(line[1:] if line.startswith(".") else line)

    def read_bytes(self, count, expected):
        while len(self._buffer) < count:
            self._fill(expected)
        data = bytes(self._buffer[:count])
        del self._buffer[:count]
        return data

    def read_counted_block(self):
        prefix = self.read_bytes(4, "the 4-byte length of a counted block")
        count = int.from_bytes(prefix, "big")
        return self.read_bytes(count, f"a counted block of {count} bytes")
