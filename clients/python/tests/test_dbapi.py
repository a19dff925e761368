"""The DB-API module against the real server, on SQLite and, when the
private cluster runs, on PostgreSQL."""

import datetime
import os
import ssl
import unittest

import velquarn

from .server import Server, postgres_settings

_server = None


def setUpModule():
    global _server
    _server = Server()


def tearDownModule():
    _server.stop()


class SqliteCase(unittest.TestCase):
    postgres = False

    def connect(self, **options):
        if self.postgres:
            return velquarn.connect("127.0.0.1", _server.port, database="pg",
                                    user=_server.pg_user, password=_server.pg_password,
                                    timeout=20, **options)
        return velquarn.connect("127.0.0.1", _server.port, database="lite", timeout=20,
                                **options)

    def setUp(self):
        self.connection = self.connect()
        self.table = f"py_{self.id().split('.')[-1].lower()}_{os.getpid()}"[:60]
        cursor = self.connection.cursor()
        try:
            cursor.execute(f"drop table {self.table}")
        except velquarn.DatabaseError:
            pass
        self.connection.commit()

    def tearDown(self):
        try:
            self.connection.rollback()
            self.connection.cursor().execute(f"drop table {self.table}")
            self.connection.commit()
        except velquarn.DatabaseError:
            pass  # the test made no table
        finally:
            self.connection.close()

    def types(self):
        if self.postgres:
            return "double precision", "bytea", "boolean"
        return "double", "longvarbinary", "boolean"

    def create(self):
        double, blob, boolean = self.types()
        cursor = self.connection.cursor()
        cursor.execute(f"create table {self.table} (k integer, s varchar(40), f {double}, "
                       f"d date, ts timestamp, b {blob}, ok {boolean})")
        self.connection.commit()
        return cursor

    def test_module_globals(self):
        self.assertEqual(velquarn.apilevel, "2.0")
        self.assertEqual(velquarn.paramstyle, "named")
        self.assertTrue(issubclass(velquarn.ProgrammingError, velquarn.DatabaseError))
        self.assertTrue(issubclass(velquarn.DatabaseError, velquarn.Error))

    def test_parameters_round_trip_as_python_types(self):
        cursor = self.create()
        rows = [
            (1, 'say "hi", ok', 0.5, datetime.date(2024, 2, 29),
             datetime.datetime(1999, 12, 31, 23, 59, 58), b"\x00\xff,\"\n", True),
            (2, None, None, None, None, None, None),
            (3, "", -2.5e-5, datetime.date(1970, 1, 1), datetime.datetime(2000, 3, 1),
             b"", False),
            (4, "  leading blanks", 1e20, None, None, b"\xff" * 3, True),
            (5, "O'Brien: x;y", 3.0, None, None, None, False),
        ]
        cursor.executemany(
            f"insert into {self.table} values(:k, :s, :f, :d, :ts, :b, :ok)", rows)
        self.assertEqual(cursor.rowcount, len(rows))
        self.connection.commit()
        cursor.execute(f"select k, s, f, d, ts, b, ok from {self.table} order by k")
        self.assertEqual([d[0].lower() for d in cursor.description],
                         ["k", "s", "f", "d", "ts", "b", "ok"])
        self.assertEqual(cursor.description[0][1], velquarn.NUMBER)
        self.assertEqual(cursor.description[1][1], velquarn.STRING)
        self.assertEqual(cursor.description[3][1], velquarn.DATETIME)
        got = cursor.fetchall()
        self.assertEqual(len(got), len(rows))
        for row, expected in zip(got, rows):
            if expected[0] == 2:
                # `get` writes numeric NULLs as 0.
                self.assertEqual(row[:3], (2, None, 0.0))
                self.assertEqual(row[3:], (None, None, None, None))
                continue
            if self.postgres:
                # The PostgreSQL driver describes booleans as characters.
                expected = expected[:6] + ({True: "1", False: "0"}[expected[6]],)
            self.assertEqual(row, expected)
        # Queries take parameters through `prep` and `exec`.
        cursor.execute(f"select k from {self.table} where s = :s", {"s": 'say "hi", ok'})
        self.assertEqual(cursor.fetchall(), [(1,)])
        cursor.execute(f"select k from {self.table} where s = :s and k > :k", ("  leading blanks", 1))
        self.assertEqual(cursor.fetchone(), (4,))
        self.assertIsNone(cursor.fetchone())
        # getJSON tells a numeric NULL from 0.
        cursor.execute(f"select k, f from {self.table} where k = 2")
        self.assertEqual(cursor.fetchall_json(), [(2, None)])

    def test_commit_and_rollback_use_the_transaction(self):
        cursor = self.create()
        cursor.execute(f"insert into {self.table} (k) values (1)")
        self.connection.commit()
        cursor.execute(f"insert into {self.table} (k) values (:k)", {"k": 2})
        self.assertEqual(cursor.rowcount, 1)
        self.connection.rollback()
        cursor.execute(f"update {self.table} set s = 'x' where k >= 1")
        self.assertEqual(cursor.rowcount, 1)
        self.connection.commit()
        cursor.execute(f"select k, s from {self.table} order by k")
        self.assertEqual(cursor.fetchall(), [(1, "x")])

    def test_autocommit_runs_changes_at_once(self):
        self.create()
        with self.connect(autocommit=True) as other:
            other.cursor().execute(f"insert into {self.table} (k, s) values (:k, :s)",
                                   {"k": 7, "s": "a,b"})
        cursor = self.connection.cursor()
        cursor.execute(f"select k, s from {self.table}")
        self.assertEqual(cursor.fetchall(), [(7, "a,b")])

    def test_long_results_page_and_cursors_do_not_disturb_each_other(self):
        cursor = self.create()
        cursor.execute(f"insert into {self.table} (k) with recursive n(i) as "
                       "(select 1 union all select i + 1 from n where i < 2500) select i from n")
        self.assertEqual(cursor.rowcount, 2500)
        self.connection.commit()
        first = self.connection.cursor()
        first.execute(f"select k from {self.table} order by k")
        self.assertEqual(first.fetchmany(3), [(1,), (2,), (3,)])
        second = self.connection.cursor()
        second.execute(f"select count(*) from {self.table}")
        self.assertEqual(second.fetchone()[0], 2500)
        rest = first.fetchall()
        self.assertEqual(len(rest), 2497)
        self.assertEqual(rest[-1], (2500,))

    def test_errors_carry_the_reply(self):
        cursor = self.connection.cursor()
        with self.assertRaises(velquarn.ProgrammingError) as caught:
            cursor.execute("select * from no_such_table_here")
        self.assertEqual(caught.exception.code, 512)
        self.assertIn("[Velquarn.sql]", caught.exception.text)
        with self.assertRaises(velquarn.ProgrammingError):
            cursor.fetchall()
        with self.assertRaises(velquarn.ProgrammingError):
            cursor.execute("select :a, :b", {"a": 1})
        # The connection is still usable.
        cursor.execute("select 1")
        self.assertEqual(cursor.fetchall(), [(1,)])


@unittest.skipUnless(postgres_settings(), "PostgreSQL not available (VELQUARN_PG_* unset)")
class PostgresCase(SqliteCase):
    postgres = True


class ConnectCase(unittest.TestCase):
    def test_unknown_section_and_closed_port(self):
        with self.assertRaises(velquarn.Error):
            connection = velquarn.connect("127.0.0.1", _server.port, database="no_such_section",
                                          timeout=20)
            connection.cursor().execute("select 1")
        from .server import free_port
        with self.assertRaises(velquarn.OperationalError):
            velquarn.connect("127.0.0.1", free_port(), database="lite", timeout=5)

    def test_tls(self):
        context = ssl.create_default_context(cafile=_server.ca)
        connection = velquarn.connect("127.0.0.1", _server.tls_port, database="lite", timeout=20,
                                      ssl=context)
        cursor = connection.cursor()
        cursor.execute("select 'g\u00e5' as word, 42 as n")
        self.assertEqual(cursor.fetchall(), [("g\u00e5", 42)])
        connection.close()
        # A server whose certificate the context does not trust is refused.
        with self.assertRaises(velquarn.OperationalError):
            velquarn.connect("127.0.0.1", _server.tls_port, database="lite", timeout=20,
                             ssl=ssl.create_default_context())


if __name__ == "__main__":
    unittest.main()
