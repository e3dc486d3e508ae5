"""Test-only Reduce (methods 2 to 5) encoder.

Stage one (the expander's input): LZ77 over a 4096-byte history with the marker byte 144. A match of
length L (3 or more) at distance D is written as 144, V, [L - 3 - mask], (D - 1) & 255, where V holds
L - 3 (or the full mask, followed by the rest in one byte) in its low bits and (D - 1) >> 8 in its high
f bits; a literal 144 is written as 144, 0. V may not be 0 (that would read as the literal 144), so a
length-3 match with a distance of at most 256 is not used.

Stage two: every byte of that stream is coded through the follower set of the byte before it: a flag bit 0
and an index when the byte is in the set, else a flag bit 1 (when the set is not empty) and the 8 bits.
Each set holds the most frequent followers, up to `max_followers` (at most 32).
"""
from collections import Counter, defaultdict

from legacy_zip_writer import BitWriter, greedy_matches

MARKER = 144


def index_bits(count):
    for bits, limit in ((1, 2), (2, 4), (3, 8), (4, 16), (5, 32)):
        if count <= limit:
            return bits
    raise ValueError("follower set too large")


def expand_stream(data, factor):
    """The expander's input for data: greedy longest matches within the factor's reach."""
    mask = (127, 63, 31, 15)[factor - 1]
    max_distance = 256 << factor
    max_length = mask + 255 + 3
    out = bytearray()
    for length, value in greedy_matches(data, 3, max_distance, max_length, depth=64,
                                        usable=lambda length, distance: not (length == 3 and distance <= 256)):
        if length is not None:
            stored = length - 3
            high = (value - 1) >> 8
            if stored >= mask:
                out += bytes([MARKER, mask | (high << (8 - factor)), stored - mask])
            else:
                out += bytes([MARKER, stored | (high << (8 - factor))])
            out.append((value - 1) & 255)
        else:
            out += bytes([MARKER, 0]) if value == MARKER else bytes([value])
    return bytes(out)


def reduce(data, factor, max_followers=32):
    stream = expand_stream(data, factor)
    pairs = defaultdict(Counter)
    last = 0
    for byte in stream:
        pairs[last][byte] += 1
        last = byte
    sets = {}
    for byte in range(256):
        sets[byte] = [b for b, _ in pairs[byte].most_common(max_followers)]
    bits = BitWriter()
    for byte in range(255, -1, -1):
        bits.put(len(sets[byte]), 6)
        for follower in sets[byte]:
            bits.put(follower, 8)
    last = 0
    for byte in stream:
        followers = sets[last]
        if not followers:
            bits.put(byte, 8)
        elif byte in followers:
            bits.put(0, 1)
            bits.put(followers.index(byte), index_bits(len(followers)))
        else:
            bits.put(1, 1)
            bits.put(byte, 8)
        last = byte
    return bits.getvalue()
