"""Test-only Shrink (method 1) encoder: LZW with code widths 9 to 13 and partial clearing.

The encoder keeps an exact mirror of the decoder's table: an entry (previous code, first byte of the
current string) is added after each code, as the decoder adds it, so the encoder can also emit the code
that the decoder is about to define (the KwKwK case). A partial clear is emitted when the table is full
and, to exercise it on small inputs, every `clear_every` codes; it is placed only right after a literal
code, because a decoder's next entry takes the previous code as its parent and a leaf code would be freed
by the clear itself.
"""
from legacy_zip_writer import BitWriter

FIRST_FREE = 257
CODES = 8192


class Shrinker:
    def __init__(self, clear_every=None):
        self.clear_every = clear_every
        self.parent = [-1] * CODES
        self.value = [0] * CODES
        self.children = [0] * CODES
        self.free_list = list(range(CODES))
        self.next_free = FIRST_FREE
        self.trie = {}  # (parent code, byte) -> code
        self.width = 9

    def _emit(self, bits, code):
        while code >= (1 << self.width):
            bits.put(256, self.width)
            bits.put(1, self.width)
            self.width += 1
        bits.put(code, self.width)

    def _add(self, parent, byte):
        if self.next_free >= CODES:
            return
        code = self.free_list[self.next_free]
        self.next_free += 1
        self.parent[code] = parent
        self.value[code] = byte
        self.children[parent] += 1
        self.trie.setdefault((parent, byte), code)

    def _partial_clear(self, bits):
        bits.put(256, self.width)
        bits.put(2, self.width)
        leaves = [c for c in range(FIRST_FREE, CODES) if self.children[c] == 0]
        self.next_free = CODES
        for code in reversed(leaves):
            parent = self.parent[code]
            if parent >= 0:
                self.children[parent] -= 1
                if self.trie.get((parent, self.value[code])) == code:
                    del self.trie[(parent, self.value[code])]
            self.parent[code] = -1
            self.value[code] = 0
            self.children[code] = 0
            self.next_free -= 1
            self.free_list[self.next_free] = code

    def encode(self, data, bits):
        if not data:
            return
        pos = 0
        prev = None  # the previous code
        since_clear = 0
        want_clear = False
        while pos < len(data):
            # Longest match in the table, then the entry the decoder is about to define (prev + data[pos]).
            code, length = data[pos], 1
            while pos + length < len(data) and (code, data[pos + length]) in self.trie:
                code = self.trie[(code, data[pos + length])]
                length += 1
            if prev is not None and self.next_free < CODES:
                pending = self.free_list[self.next_free]
                prev_string = self._string(prev)
                candidate = prev_string + bytes([prev_string[0]])
                if len(candidate) > length and data[pos:pos + len(candidate)] == candidate:
                    code, length = pending, len(candidate)
            self._emit(bits, code)
            if prev is not None:
                self._add(prev, data[pos])
            prev = code
            pos += length
            since_clear += 1
            if self.next_free >= CODES or (self.clear_every and since_clear >= self.clear_every):
                want_clear = True
            if want_clear and code < 256 and pos < len(data):
                self._partial_clear(bits)
                since_clear = 0
                want_clear = False

    def _string(self, code):
        out = []
        while code > 256:
            out.append(self.value[code])
            code = self.parent[code]
        out.append(code)
        return bytes(reversed(out))


def shrink(data, clear_every=None):
    bits = BitWriter()
    Shrinker(clear_every).encode(data, bits)
    return bits.getvalue()
