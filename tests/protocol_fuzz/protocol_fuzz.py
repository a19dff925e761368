#!/usr/bin/env python3
"""Random protocol traffic against the whole server.

Starts the velquarn binary (the AddressSanitizer build, by default) on
127.0.0.1 with a configuration and data folder of its own: a SQLite section
"lite" and, when VELQUARN_PG_* name the private PostgreSQL cluster, a
PostgreSQL section "pg" and data source. Then, burst after burst, drives up
to --connections connections at once with traffic built from the real
command words: random arguments, NUL, 0xFF and 0x80-0x9F bytes, lone CR or
LF, long tokens, pipelined commands, blocks of lines and counted blocks cut
short, and abrupt closes. After every burst it checks that

  * every line the server sent is a numbered reply ("ddd text" or
    "ddd-text") or belongs to a data block or counted block after a reply;
  * each connection that half-closed was closed by the server in time;
  * the process still runs, a new connection is greeted and "test" is
    answered with 200;
  * the server wrote no sanitizer report.

A finding stops the run: its seed, the burst numbers and the bytes of the
last bursts are saved to a JSON file, which replays with --replay FILE; the
same bursts come again from --seed N --first-burst B. The exit status is 1
for a finding, 3 for a stall only (a half-closed connection not closed in
time, which a loaded machine can cause too), 0 for none.

  protocol_fuzz.py --binary build-asan/src/service/velquarn --seconds 120
  protocol_fuzz.py --binary ... --replay finding-123.json
"""

import argparse
import json
import os
import random
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

COMMANDS = [
    "sql", "quit", "get", "open", "close", "info", "test", "tran", "prep", "exec",
    "clear", "sys", "sndf", "call", "sqlbatch", "crtf", "addrec", "execsql2",
    "infoJSON", "getJSON", "execsql3",
]
SYS_OPERANDS = [
    "getconfig", "setconfig", "datasourcenames", "databasenames", "tablenames",
    "indexnames", "indexfields", "defaultindexfields", "customdata",
]
SQL = [
    "select 1", "select 1, 'a', 2.5, null", "select * from fz_t", "select * from fz_t where a = ?",
    "create table fz_t (a int, b varchar(20), c real, d blob, e date)",
    "insert into fz_t values (1, 'x''y', 2.5, null, '2020-02-29')",
    "insert into fz_t (a, b) values (?, ?)", "update fz_t set a = a + 1", "delete from fz_t",
    "drop table fz_t", "select x'00ff80', 1e308, -9223372036854775808",
    "select 'a' || char(0) || 'b'", "select count(*) from fz_t", "select ?, ?, ?",
    "select", "", "select * from no_such_table", "begin", "commit", "rollback",
    "select a, b from fz_t order by 1 desc",
]
TAIL_KEEP = 20  # bursts kept in a finding's file
# A finding that may be the machine's load rather than a fault (a session
# slower than the deadline): the run exits with 3 instead of 1 for it.
STALL = "stall: "


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


# --- traffic ---------------------------------------------------------------

def odd_bytes(rng):
    return bytes(rng.choice([0, 0xFF, rng.randint(0x80, 0x9F), rng.randint(1, 31)])
                 for _ in range(rng.randint(1, 6)))


def token(rng, pg):
    roll = rng.random()
    if roll < 0.05:
        return b"A" * rng.choice([1024, 70000, 200000])
    if roll < 0.15:
        return odd_bytes(rng)
    if roll < 0.3:
        return str(rng.choice([0, 1, -1, 3, 2**31, -2**31 - 1, 2**63, 10**30])).encode()
    if roll < 0.4 and pg:
        return b"pg"
    return rng.choice([b"lite", b"fz_t", b"a", b"?", b",", b"'", b'"', b"null", b"NAN", b"*"])


def sql_text(rng):
    text = rng.choice(SQL).encode()
    if rng.random() < 0.2:
        at = rng.randint(0, len(text))
        text = text[:at] + odd_bytes(rng) + text[at:]
    return text


def counted_lines(rng):
    lines = [b"Key%d=%d" % (i, rng.randint(0, 9)) for i in range(rng.randint(0, 3))]
    count = len(lines) if rng.random() < 0.7 else rng.choice([-1, 0, 2**31 - 1, len(lines) + 5])
    body = b"".join(line + b"\r\n" for line in lines)
    if rng.random() < 0.2:
        body = body[: rng.randint(0, len(body))]  # cut short
    return struct.pack(">i", count) + body


def command(rng, pg, env):
    """One command line (and any block that follows it), without its end."""
    word = rng.choice(COMMANDS)
    if rng.random() < 0.1:
        word = word.upper() if rng.random() < 0.5 else word[: rng.randint(0, len(word))]
    word = word.encode()
    follow = b""
    w = word.lower()
    if w in (b"sql", b"execsql2", b"prep"):
        args = sql_text(rng)
    elif w == b"execsql3":
        args = sql_text(rng).hex().upper().encode()
        if rng.random() < 0.2:
            args = args[:-1] + rng.choice([b"G", b"", b"\xff"])
    elif w == b"open":
        if pg and rng.random() < 0.4:
            args = rng.choice([b"pg", b"VelquarnPG"]) + b" " + env["user"] + b" " + env["password"]
        elif rng.random() < 0.7:
            args = b"lite"
        else:
            args = token(rng, pg)
    elif w == b"get":
        args = token(rng, pg) if rng.random() < 0.3 else str(rng.randint(0, 30)).encode()
    elif w == b"tran":
        args = rng.choice([b"start", b"commit", b"rollback", token(rng, pg)])
    elif w in (b"exec", b"call"):
        args = b",".join(token(rng, pg) for _ in range(rng.randint(0, 4)))
    elif w == b"sys":
        args = rng.choice(SYS_OPERANDS).encode()
        if rng.random() < 0.5:
            args += b" " + token(rng, pg)
        if args.startswith(b"setconfig"):
            follow = counted_lines(rng)
    elif w in (b"sndf", b"crtf", b"addrec"):
        args = b"fz_up " + str(rng.choice([0, 1, 20, -5, 100000])).encode()
        records = b"".join(b"rec%d\r\n" % i for i in range(rng.randint(0, 4)))
        follow = records + (b".\r\n" if rng.random() < 0.8 else b"")
    elif w == b"sqlbatch":
        args = b""
        lines = b"".join(sql_text(rng) + b"\r\n" for _ in range(rng.randint(0, 3)))
        follow = lines + (b".\r\n" if rng.random() < 0.8 else b"")
    else:
        args = token(rng, pg) if rng.random() < 0.3 else b""
    line = word + (b" " + args if args or rng.random() < 0.3 else b"")
    return line, follow


def ending(rng):
    return rng.choice([b"\r\n"] * 8 + [b"\n", b"\r", b"\r\r\n", b"\x00\r\n"])


def connection_script(rng, pg, env):
    """What one connection sends: chunks, and how it ends."""
    chunks = []
    for _ in range(rng.randint(1, 12)):
        pipelined = b""
        for _ in range(rng.choice([1, 1, 1, 3, 8])):
            line, follow = command(rng, pg, env)
            pipelined += line + ending(rng) + follow
        chunks.append(pipelined)
    if rng.random() < 0.1:
        chunks.append(struct.pack(">I", rng.randint(0, 2**32 - 1))[: rng.randint(1, 4)])
    return {"chunks": [c.hex() for c in chunks],
            "end": rng.choice(["half"] * 6 + ["abrupt", "abrupt", "drop"])}


def own_tables(script, slot):
    """The script with table names of the connection's own: on PostgreSQL a
    session waits for the row and catalog locks of another's open
    transaction, so shared tables make chains of legitimate waits that
    outlast any deadline on a loaded machine."""
    script["chunks"] = [bytes.fromhex(chunk).replace(b"fz_", b"fz%d_" % slot).hex()
                        for chunk in script["chunks"]]
    return script


def burst(seed, number, connections, pg, env):
    rng = random.Random("%d:%d" % (seed, number))
    return [own_tables(connection_script(rng, pg, env), slot)
            for slot in range(rng.randint(1, connections))]


# --- checking ----------------------------------------------------------------

def reply_code(line):
    if len(line) >= 4 and line[:3].isdigit() and line[3:4] in (b" ", b"-"):
        return int(line[:3])
    if len(line) == 3 and line.isdigit():
        return int(line)
    return None


def check_output(data, complete):
    """None when data is a well-formed stream of replies and blocks, else why.

    After a final reply line the server may send a counted block (a 4-byte
    big-endian count, then the bytes) or a data block (lines up to "."
    alone); an upload prompts with an empty line. A stream cut by the
    client's own close may end anywhere (complete is then false)."""
    at = 0
    after_final = False
    in_block = False
    first = True
    while at < len(data):
        if after_final and not in_block and data[at] == 0 and len(data) - at >= 1:
            if len(data) - at < 4:
                return None if not complete else "counted block header cut at %d" % at
            count = struct.unpack(">I", data[at:at + 4])[0]
            if count > len(data) - at - 4:
                return None if not complete else "counted block of %d bytes cut at %d" % (count, at)
            at += 4 + count
            after_final = False
            continue
        end = data.find(b"\r\n", at)
        if end < 0:
            return None if not complete else "unterminated line at %d: %r" % (at, data[at:at + 80])
        line = data[at:end]
        at = end + 2
        code = reply_code(line)
        if first and code is None:
            return "no greeting: %r" % line[:80]
        first = False
        if in_block:
            if line == b".":
                in_block = False
                after_final = False
            continue
        if code is not None and 100 <= code <= 999:
            after_final = len(line) == 3 or line[3:4] == b" "
            continue
        if line == b"":
            continue  # an upload's prompt
        if after_final:
            in_block = line != b"."
            after_final = False
            continue
        if line == b".":
            continue
        return "not a reply at %d: %r" % (at, line[:80])
    if in_block and complete:
        return "a data block without its closing \".\""
    return None


def run_connection(port, script, result, deadline_s):
    try:
        sock = socket.create_connection(("127.0.0.1", port), timeout=10)
    except OSError as error:
        result["error"] = "connect failed: %s" % error
        return
    received = bytearray()
    sock.settimeout(0.05)

    def drain():
        try:
            while True:
                block = sock.recv(65536)
                if not block:
                    return True
                received.extend(block)
        except (socket.timeout, BlockingIOError):
            return False
        except OSError:
            return True

    closed = False
    try:
        for chunk in script["chunks"]:
            data = bytes.fromhex(chunk)
            sock.settimeout(10)
            sock.sendall(data)
            sock.settimeout(0.05)
            closed = drain()
            if closed:
                break
    except OSError:
        closed = True  # the server closed first (a too long line, quit, a timeout)
    end = script["end"]
    if end == "abrupt" and not closed:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        sock.close()
        result["output"] = bytes(received)
        result["complete"] = False
        return
    if end == "half" and not closed:
        try:
            sock.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        stop = time.monotonic() + deadline_s
        while not closed and time.monotonic() < stop:
            closed = drain()
        if not closed:
            result["error"] = STALL + "server did not close a half-closed connection in %d s" % (
                deadline_s)
    sock.close()
    result["output"] = bytes(received)
    result["complete"] = closed and end == "half"


def alive(port, process):
    if process.poll() is not None:
        return "the server exited with %s" % process.returncode
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
            sock.settimeout(20)
            data = b""
            while data.count(b"\r\n") < 1:
                block = sock.recv(4096)
                if not block:
                    return "a new connection was closed before its greeting"
                data += block
            if reply_code(data.split(b"\r\n")[0]) is None:
                return "bad greeting %r" % data[:80]
            sock.sendall(b"test\r\n")
            data = data[data.find(b"\r\n") + 2:]
            while b"\r\n" not in data:
                block = sock.recv(4096)
                if not block:
                    return "closed instead of answering test"
                data += block
            if not data.startswith(b"200"):
                return "test answered %r" % data[:80]
    except OSError as error:
        return "test failed: %s" % error
    return None


SANITIZER_MARKS = ("ERROR: AddressSanitizer", "runtime error:", "ERROR: LeakSanitizer",
                   "WARNING: ThreadSanitizer", "ERROR: ThreadSanitizer")


def sanitizer_report(path):
    with open(path, errors="replace") as log:
        text = log.read()
    for mark in SANITIZER_MARKS:
        at = text.find(mark)
        if at >= 0:
            return text[max(0, at - 200):at + 4000]
    return None


# --- the server ----------------------------------------------------------------

class Server:
    def __init__(self, binary, folder, pg, preload=None, lsan_suppressions=None):
        self.folder = folder
        self.port = free_port()
        self.stderr_path = os.path.join(folder, "server.stderr")
        odbc = os.path.join(folder, "odbc")
        os.makedirs(os.path.join(odbc, "user"))
        lib = "/usr/lib/x86_64-linux-gnu/odbc/"
        with open(os.path.join(odbc, "odbcinst.ini"), "w") as inst:
            inst.write("[Fuzz SQLite3]\nDriver=%slibsqlite3odbc.so\nThreading=2\n\n"
                       "[Fuzz PostgreSQL]\nDriver=%spsqlodbcw.so\n" % (lib, lib))
        open(os.path.join(odbc, "odbc.ini"), "w").close()
        with open(os.path.join(odbc, "user", "odbc.ini"), "w") as ini:
            if pg:
                ini.write("[VelquarnPG]\nDriver=Fuzz PostgreSQL\nServername=%s\nPort=%s\n"
                          "Database=%s\nConnSettings=SET lock_timeout TO 2000\n"
                          % (pg["host"], pg["port"], pg["database"]))
        # Sessions of one burst wait for each other's locks: an open
        # transaction, a cursor not read to its end. Both databases give up
        # after 2 s, so that only a wait of the gateway's own outlasts the
        # close deadline.
        sections = ("[lite]\nDSN=\nDriverName=Fuzz SQLite3\n"
                    "DriverParams=Database=%s,Timeout=2000\n" % os.path.join(folder, "lite.db"))
        if pg:
            sections += ("[pg]\nDSN=VelquarnPG\n")
        # Short read and idle timeouts: a block cut short ends its command in
        # seconds. A line limit that long tokens sometimes pass.
        with open(os.path.join(folder, "velquarn.ini"), "w") as config:
            config.write("[Settings]\nPort=%d\nListenAddress=127.0.0.1\nReadTimeout=2\n"
                         "MaxLineLength=131072\nStopTimeout=10\n\n[CustomData]\nfuzz=1\n\n%s"
                         % (self.port, sections))
        env = dict(os.environ)
        env["ODBCSYSINI"] = odbc
        env["ODBCINI"] = os.path.join(odbc, "user", "odbc.ini")
        # The leak check at exit needs the ODBC libraries kept loaded (the
        # preload of tests/sanitizers/keep_loaded.c): once unloaded, what the
        # drivers hold shows as leaks of unknown modules.
        if preload:
            env["LD_PRELOAD"] = preload
        env.setdefault("ASAN_OPTIONS", "detect_leaks=%d:halt_on_error=1" % bool(preload))
        env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
        if lsan_suppressions:
            env["LSAN_OPTIONS"] = "suppressions=%s:print_suppressions=0" % lsan_suppressions
        self.stderr = open(self.stderr_path, "w")
        self.process = subprocess.Popen(
            [binary, "--config", os.path.join(folder, "velquarn.ini"),
             "--event-log", os.path.join(folder, "events.log")],
            cwd=folder, env=env, stdout=self.stderr, stderr=self.stderr)
        stop = time.monotonic() + 60
        while time.monotonic() < stop:
            if self.process.poll() is not None:
                raise RuntimeError("the server exited at start: see %s" % self.stderr_path)
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.1)
        raise RuntimeError("the server did not listen within 60 s")

    def stop(self):
        """Stops the server; returns why it failed, or None."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(60)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
                return "the server did not stop within 60 s of SIGTERM"
        self.stderr.close()
        report = sanitizer_report(self.stderr_path)
        if report:
            return "sanitizer report at exit:\n" + report
        if self.process.returncode != 0:
            return "the server exited with %d" % self.process.returncode
        return None


# --- the run -------------------------------------------------------------------

def run_burst(server, scripts, deadline_s):
    results = [dict() for _ in scripts]
    threads = [threading.Thread(target=run_connection,
                                args=(server.port, script, result, deadline_s))
               for script, result in zip(scripts, results)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for number, result in enumerate(results):
        if "error" in result:
            return "connection %d: %s" % (number, result["error"])
        why = check_output(result.get("output", b""), result.get("complete", False))
        if why:
            return "connection %d: %s" % (number, why)
    report = sanitizer_report(server.stderr_path)
    if report:
        return "sanitizer report:\n" + report
    return alive(server.port, server.process)


def postgres_settings():
    names = ("HOST", "PORT", "DATABASE", "USER", "PASSWORD")
    values = {name.lower(): os.environ.get("VELQUARN_PG_" + name, "") for name in names}
    return values if values["host"] and values["port"] else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--binary", required=True)
    parser.add_argument("--seconds", type=float, default=120)
    parser.add_argument("--connections", type=int, default=8)
    parser.add_argument("--seed", type=int)
    parser.add_argument("--first-burst", type=int, default=0)
    parser.add_argument("--bursts", type=int, default=0, help="stop after so many (0: by time)")
    parser.add_argument("--replay", help="a finding's file: run its bursts again")
    parser.add_argument("--findings", default=".", help="folder for finding files")
    parser.add_argument("--close-deadline", type=float, default=30)
    parser.add_argument("--preload", help="a library the server is started with (LD_PRELOAD)")
    parser.add_argument("--lsan-suppressions", help="the server's leak suppressions file")
    args = parser.parse_args()

    pg = postgres_settings()
    env = {"user": (pg or {}).get("user", "u").encode(),
           "password": (pg or {}).get("password", "p").encode()}
    replay = None
    if args.replay:
        with open(args.replay) as finding:
            replay = json.load(finding)
        seed = replay["seed"]
    else:
        seed = args.seed if args.seed is not None else random.SystemRandom().randrange(2**31)
    print("protocol_fuzz: seed %d, PostgreSQL %s" % (seed, "on" if pg else "off"), flush=True)

    folder = tempfile.mkdtemp(prefix="velquarn-protocol-fuzz-")
    absolute = lambda path: os.path.abspath(path) if path else None  # noqa: E731
    server = Server(absolute(args.binary), folder, pg, absolute(args.preload),
                    absolute(args.lsan_suppressions))
    started = time.monotonic()
    recent = []
    number = args.first_burst
    finding = None
    sent = 0
    try:
        while True:
            if replay is not None:
                if not replay["bursts"]:
                    break
                number, scripts = replay["bursts"].pop(0)
            else:
                if args.bursts and number - args.first_burst >= args.bursts:
                    break
                if not args.bursts and time.monotonic() - started >= args.seconds:
                    break
                scripts = burst(seed, number, args.connections, pg is not None, env)
            recent = (recent + [[number, scripts]])[-TAIL_KEEP:]
            finding = run_burst(server, scripts, args.close_deadline)
            sent += len(scripts)
            if finding:
                break
            number += 1
    finally:
        stopped = server.stop()
        finding = finding or stopped
    elapsed = time.monotonic() - started
    bursts_run = len(recent) if replay else number - args.first_burst + (1 if finding else 0)
    print("protocol_fuzz: %d bursts, %d connections in %.0f s" % (bursts_run, sent, elapsed),
          flush=True)
    if finding:
        os.makedirs(args.findings, exist_ok=True)
        path = os.path.join(os.path.abspath(args.findings),
                            "protocol-finding-%d-%d.json" % (seed, number))
        with open(path, "w") as out:
            json.dump({"seed": seed, "finding": finding, "bursts": recent}, out)
        shutil.copy(server.stderr_path, path + ".stderr")
        print("protocol_fuzz: FINDING in burst %d: %s" % (number, finding), file=sys.stderr)
        print("protocol_fuzz: saved to %s; replay with --replay %s, or --seed %d "
              "--first-burst %d" % (path, path, seed, number), file=sys.stderr)
        print("protocol_fuzz: server folder kept at %s" % folder, file=sys.stderr)
        return 3 if STALL in finding else 1
    shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
