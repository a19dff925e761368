#!/usr/bin/env python3
"""The protocol fuzzer's own checks: what it takes for a well-formed stream,
what it reports, and that a seed gives the same bursts again."""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import protocol_fuzz  # noqa: E402

GREETING = b"200 Velquarn ready\r\n"


class CheckOutputTest(unittest.TestCase):
    def ok(self, data, complete=True):
        self.assertIsNone(protocol_fuzz.check_output(data, complete), data)

    def bad(self, data, complete=True):
        self.assertIsNotNone(protocol_fuzz.check_output(data, complete), data)

    def test_replies_blocks_and_prompts(self):
        self.ok(GREETING + b"200-first\r\n200 last\r\n500 Unknown command\r\n")
        # A counted block after a final reply, its payload of any bytes.
        payload = b"1,\"a\r\nb\"\x00\xff\r\n"
        self.ok(GREETING + b"200 OK\r\n" + struct.pack(">I", len(payload)) + payload +
                b"522 EOF\r\n")
        # A data block after a final reply, with lines that look like replies.
        self.ok(GREETING + b"201 Rows affected\r\n5\r\n200 x=1\r\n.\r\n200 OK\r\n")
        self.ok(GREETING + b"200 OK\r\n.\r\n")
        # An upload's empty prompt line.
        self.ok(GREETING + b"200 OK\r\n\r\n\r\n200 Done\r\n")

    def test_streams_the_client_cut(self):
        self.ok(GREETING + b"200 OK\r\n\x00\x00\x10\x00abc", complete=False)
        self.ok(GREETING + b"200 O", complete=False)
        self.bad(GREETING + b"200 OK\r\n\x00\x00\x10\x00abc", complete=True)
        self.bad(GREETING + b"200 O", complete=True)

    def test_malformed_streams(self):
        self.bad(b"hello\r\n")
        self.bad(GREETING + b"garbage\r\n", complete=True)
        self.bad(GREETING + b"500 Error\r\n.\r\nxyz\r\n")
        # A counted block only follows a final reply.
        self.bad(GREETING + b"200-more\r\n\x00\x00\x00\x01x200 OK\r\n")


class TrafficTest(unittest.TestCase):
    def test_a_seed_gives_the_same_bursts(self):
        env = {"user": b"u", "password": b"p"}
        first = protocol_fuzz.burst(7, 3, 8, True, env)
        self.assertEqual(first, protocol_fuzz.burst(7, 3, 8, True, env))
        self.assertNotEqual(first, protocol_fuzz.burst(7, 4, 8, True, env))

    def test_traffic_uses_the_command_words_and_odd_bytes(self):
        env = {"user": b"u", "password": b"p"}
        sent = b"".join(bytes.fromhex(chunk) for number in range(40)
                        for script in protocol_fuzz.burst(1, number, 8, True, env)
                        for chunk in script["chunks"])
        for word in (b"sql ", b"getJSON", b"sys setconfig", b"sqlbatch", b"open pg"):
            self.assertIn(word, sent)
        for byte in (b"\x00", b"\xff", b"\x85"):
            self.assertIn(byte, sent)


if __name__ == "__main__":
    unittest.main()
