"""Test-only helpers shared by the legacy-method encoders: an LSB-first bit writer, a greedy match finder and
a minimal ZIP writer that stores members already compressed with any method number."""
import struct
import zlib
from collections import defaultdict


class BitWriter:
    """Packs values least significant bit first, as Shrink, Reduce and Implode store them."""

    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.nbits = 0

    def put(self, value, count):
        """Appends the low count bits of value, lowest first."""
        self.acc |= (value & ((1 << count) - 1)) << self.nbits
        self.nbits += count
        while self.nbits >= 8:
            self.out.append(self.acc & 0xFF)
            self.acc >>= 8
            self.nbits -= 8

    def put_code(self, code, length):
        """Appends a prefix code given most significant bit first."""
        for i in range(length - 1, -1, -1):
            self.put((code >> i) & 1, 1)

    def getvalue(self):
        out = bytearray(self.out)
        if self.nbits:
            out.append(self.acc & 0xFF)
        return bytes(out)


def greedy_matches(data, min_length, max_distance, max_length, depth, usable=lambda length, distance: True):
    """Greedy longest matches of at least min_length bytes, searched among the last depth earlier positions
    with the same first min_length bytes, nearest first; usable(length, distance) can turn a candidate down.
    Yields (length, distance) for a match and (None, byte) for a literal."""
    chains = defaultdict(list)
    pos = 0
    while pos < len(data):
        best_length, best_distance = 0, 0
        key = data[pos:pos + min_length]
        if len(key) == min_length:
            for start in reversed(chains[key][-depth:]):
                distance = pos - start
                if distance > max_distance:
                    break
                length = 0
                while pos + length < len(data) and length < max_length and data[start + length] == data[pos + length]:
                    length += 1
                if length > best_length and usable(length, distance):
                    best_length, best_distance = length, distance
        if best_length >= min_length:
            yield best_length, best_distance
            step = best_length
        else:
            yield None, data[pos]
            step = 1
        for i in range(pos, min(pos + step, len(data) - min_length + 1)):
            chains[data[i:i + min_length]].append(i)
        pos += step


def write_zip(path, members):
    """members: list of dicts with name, method, flags, data (original bytes), compressed (bytes)."""
    dos_time, dos_date = 0x6000, 0x5A21  # 2025-01-01 12:00:00
    body = bytearray()
    central = bytearray()
    for m in members:
        name = m["name"].encode("ascii")
        crc = zlib.crc32(m["data"]) & 0xFFFFFFFF
        offset = len(body)
        fields = (10, m["flags"], m["method"], dos_time, dos_date, crc, len(m["compressed"]), len(m["data"]))
        body += struct.pack("<IHHHHHIIIHH", 0x04034B50, *fields, len(name), 0) + name + m["compressed"]
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 10, *fields, len(name), 0, 0, 0, 0, 0x20,
                               offset) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), len(body), 0)
    with open(path, "wb") as f:
        f.write(bytes(body) + bytes(central) + end)


def read_zip(path):
    """The members of a small archive (through its central directory) as dicts like write_zip takes, with
    crc and size instead of data."""
    data = open(path, "rb").read()
    end = data.rfind(b"PK\x05\x06")
    count, = struct.unpack_from("<H", data, end + 10)
    pos, = struct.unpack_from("<I", data, end + 16)
    members = []
    for _ in range(count):
        (_, _, _, flags, method, _, _, crc, csize, usize, nlen, xlen, clen, _, _, _,
         offset) = struct.unpack_from("<IHHHHHHIIIHHHHHII", data, pos)
        name = data[pos + 46:pos + 46 + nlen].decode("latin-1")
        lnlen, lxlen = struct.unpack_from("<HH", data, offset + 26)
        start = offset + 30 + lnlen + lxlen
        members.append(dict(name=name, flags=flags, method=method, crc=crc, size=usize,
                            compressed=data[start:start + csize]))
        pos += 46 + nlen + xlen + clen
    return members
