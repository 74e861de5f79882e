#!/usr/bin/env python3
"""Writes the seed inputs of the process_messages fuzz target: byte streams as a station
might send them, well-formed and not. Run from this folder; the fuzzer's own finds are
added beside these by hand."""
import os
import struct

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "process_messages")


def field(fid, data):
    return struct.pack("<HH", fid, len(data)) + data


def message(mtype, fields):
    body = b"".join(fields)
    return struct.pack("<HH", mtype, 4 + len(body)) + body


def packet(messages, total=None, count=None, magic=0xDEADBEEF):
    body = b"".join(messages)
    total = 18 + len(body) if total is None else total
    count = len(messages) if count is None else count
    return struct.pack("<I8xiH", magic, total, count) + body


def sample(counts, volume=2832, exponent=0, flags=0x0F, channel_count=None):
    n = len(counts) if channel_count is None else channel_count
    return message(10, [
        field(114, struct.pack("<H", 0)),
        field(115, struct.pack("<h", 1)),
        field(101, bytes([n])),
        field(116, struct.pack("<i", volume)),
        field(144, struct.pack("<h", exponent)),
        field(119, bytes([flags])),
        field(120, struct.pack("<%di" % len(counts), *counts)),
    ])


def config_info(kind, version):
    return message(3, [field(110, kind), field(111, version)])


def status(text):
    return message(5, [field(122, struct.pack("<H", 7)), field(124, text)])


SEEDS = {
    "worked_example": packet([sample([100, 40, 10])]),
    "thirty_two_channels": packet([sample([1000 - 30 * i for i in range(32)])]),
    "channel_count_33": packet([sample(list(range(33)))]),
    "zero_channels_failed_device": packet([sample([], flags=0x0C)]),
    "counts_near_limits": packet([sample([2**31 - 1, -2**31, 5], volume=0)]),
    "exponent_minus_400": packet([sample([5, 7, 1], exponent=-400)]),
    "two_samples_one_packet": packet([sample([10, 4]), sample([20, 5], flags=0x0B)]),
    "config_and_status": packet([config_info(b"Model 7\0", b"2.1\0"), status(b"ok\0")]),
    "texts_without_terminator": packet([config_info(b"Model", b"2"), status(b"full")]),
    "unknown_types": packet([message(77, [field(1, b"\x01\x02")]), message(0, [])]),
    "short_fixed_fields": packet([message(10, [field(114, b"\0\0"), field(101, b"\x02"),
                                               field(116, b"\x10"), field(120, b"\x01")])]),
    "long_array_field": packet([message(10, [field(114, b"\0\0"), field(101, b"\x20"),
                                             field(120, bytes(range(200)))])]),
    "field_overruns_message": packet([message(10, [field(114, b"\0\0")])[:-2] + b"\x65\x00\x40\x00"]),
    "count_beyond_content": packet([sample([3])], count=9),
    "header_only": packet([]),
    "two_packets": packet([sample([10])]) + packet([sample([20])]),
    "packet_then_garbage": packet([sample([10])]) + b"\x01\x02\x03garbage",
    "wrong_magic": packet([sample([10])], magic=0xDEADBEEE),
    "length_minus_one": packet([], total=-1),
    "length_17": packet([], total=17),
    "length_5001": packet([message(1, [field(1, bytes(4975))])]),
    "length_two_to_the_31": packet([], total=-2**31),
    "cut_in_the_body": packet([sample([100, 40, 10])])[:30],
    "cut_in_the_header": packet([sample([1])])[:9],
    "empty": b"",
}


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    print("wrote %d seeds to %s" % (len(SEEDS), OUT))


if __name__ == "__main__":
    main()
