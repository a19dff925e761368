"""A real consumer: pandas.read_sql over a velquarn connection. pandas comes
from Debian (python3-pandas); the test is skipped where it is missing,
unless VELQUARN_REQUIRE_PANDAS=1 (as the CI script sets it)."""

import os
import unittest
import warnings

import velquarn

from . import test_dbapi

try:
    import pandas
except ImportError:  # pragma: no cover - depends on the machine
    pandas = None


def setUpModule():
    if pandas is None and os.environ.get("VELQUARN_REQUIRE_PANDAS") == "1":
        raise RuntimeError("pandas is required (python3-pandas) but cannot be imported")
    test_dbapi.setUpModule()


def tearDownModule():
    test_dbapi.tearDownModule()


@unittest.skipIf(pandas is None, "pandas not installed")
class PandasCase(unittest.TestCase):
    def test_read_sql_returns_the_frame(self):
        with velquarn.connect("127.0.0.1", test_dbapi._server.port, database="lite") as con:
            cursor = con.cursor()
            cursor.execute("create table pandas_customer (id integer, name varchar(40), "
                           "balance double)")
            cursor.executemany("insert into pandas_customer values (:id, :name, :balance)",
                               [(1, "Ada Lindqvist", 1520.5), (2, "Bo Ek", -20.0),
                                (3, "Carla Ruiz", 0.0)])
            con.commit()
            with warnings.catch_warnings():
                # pandas warns that it only tests SQLAlchemy and sqlite3.
                warnings.simplefilter("ignore", UserWarning)
                frame = pandas.read_sql("select id, name, balance from pandas_customer "
                                        "where balance >= :low order by id", con,
                                        params={"low": -100})
            expected = pandas.DataFrame({"id": [1, 2, 3],
                                         "name": ["Ada Lindqvist", "Bo Ek", "Carla Ruiz"],
                                         "balance": [1520.5, -20.0, 0.0]})
            pandas.testing.assert_frame_equal(frame, expected)
            cursor.execute("drop table pandas_customer")
            con.commit()


if __name__ == "__main__":
    unittest.main()
