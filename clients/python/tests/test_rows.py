"""The `get` payload reader on its own, without a server."""

import unittest

from velquarn.rows import Column, decode_rows
from velquarn.exceptions import InterfaceError


def column(datatype, size=0):
    return Column("C", "", datatype, size, None, False, False)


class RowReading(unittest.TestCase):
    def test_only_the_servers_spelling_of_a_token_reads_as_one(self):
        # An auto-increment value read as 12 raw bytes "355807281,6F", and
        # the memo after it as "b1111111", would spell the same bytes.
        columns = [column("int32"), column("string", 12), column("memo"), column("string", 20)]
        rows = decode_rows(columns, b"0,355807281,6F,b1111111,11111111111\0")
        self.assertEqual(rows, [[0, 355807281, "o", b"b1111111,11111111111"]])
        for token in (b"-0", b"007", b"-01", b"+1", b"-"):
            with self.assertRaises(InterfaceError, msg=token):
                decode_rows([column("int32")], token + b"\0")
        self.assertEqual(decode_rows([column("int32")], b"0\0-10\0"), [[0], [-10]])
        with self.assertRaises(InterfaceError):
            decode_rows([column("blob")], b"6f\0")


if __name__ == "__main__":
    unittest.main()
