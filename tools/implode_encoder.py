"""Test-only Implode (method 6) encoder: two or three Shannon-Fano trees, 4 KiB or 8 KiB dictionary.

Items, least significant bit first: a flag bit 1 and a literal (8 plain bits with two trees, a literal-tree
code with three), or a flag bit 0, the low 6 (4 KiB) or 7 (8 KiB) bits of distance - 1, the distance-tree
code of its high bits, and the length-tree code of length - minimum (minimum 2 with two trees, 3 with
three), where code 63 is followed by 8 more bits of length. Tree codes are the canonical codes of their
bit lengths, stored complemented. Every tree gives every symbol a code (the trees must be complete), and is
stored as runs of equal bit lengths: a byte (runs - 1), then per run (codes - 1) << 4 | (length - 1).

General purpose flags: bit 1 for the 8 KiB dictionary, bit 2 for three trees.
"""
import heapq

from legacy_zip_writer import BitWriter, greedy_matches


def code_lengths(freqs, limit=16):
    """Huffman code lengths for every symbol (none left out), at most limit bits."""
    weights = [f + 1 for f in freqs]
    while True:
        heap = [(w, i, [i]) for i, w in enumerate(weights)]
        heapq.heapify(heap)
        lengths = [0] * len(weights)
        tie = len(weights)
        while len(heap) > 1:
            w1, _, s1 = heapq.heappop(heap)
            w2, _, s2 = heapq.heappop(heap)
            for s in s1 + s2:
                lengths[s] += 1
            heapq.heappush(heap, (w1 + w2, tie, s1 + s2))
            tie += 1
        if max(lengths) <= limit:
            return lengths
        weights = [(w >> 1) + 1 for w in weights]


def canonical_codes(lengths):
    codes = [0] * len(lengths)
    code = 0
    for length in range(1, 17):
        for symbol in range(len(lengths)):
            if lengths[symbol] == length:
                codes[symbol] = code
                code += 1
        code <<= 1
    return codes


def put_tree(bits, lengths):
    runs = []
    for length in lengths:
        if runs and runs[-1][0] == length and runs[-1][1] < 16:
            runs[-1][1] += 1
        else:
            runs.append([length, 1])
    bits.put(len(runs) - 1, 8)
    for length, count in runs:
        bits.put(((count - 1) << 4) | (length - 1), 8)


def implode(data, eight_k, three_trees):
    """Returns (compressed bytes, general purpose flags)."""
    min_length = 3 if three_trees else 2
    low_bits = 7 if eight_k else 6
    items = list(greedy_matches(data, min_length, 8192 if eight_k else 4096, min_length + 63 + 255, depth=48))
    literal_freq, length_freq, distance_freq = [0] * 256, [0] * 64, [0] * 64
    for length, value in items:
        if length is None:
            literal_freq[value] += 1
        else:
            length_freq[min(length - min_length, 63)] += 1
            distance_freq[(value - 1) >> low_bits] += 1
    literal_lengths = code_lengths(literal_freq)
    length_lengths = code_lengths(length_freq)
    distance_lengths = code_lengths(distance_freq)
    literal_codes = canonical_codes(literal_lengths)
    length_codes = canonical_codes(length_lengths)
    distance_codes = canonical_codes(distance_lengths)

    def put_symbol(bits, codes, lengths, symbol):
        bits.put_code(~codes[symbol] & ((1 << lengths[symbol]) - 1), lengths[symbol])

    bits = BitWriter()
    if three_trees:
        put_tree(bits, literal_lengths)
    put_tree(bits, length_lengths)
    put_tree(bits, distance_lengths)
    for length, value in items:
        if length is None:
            bits.put(1, 1)
            if three_trees:
                put_symbol(bits, literal_codes, literal_lengths, value)
            else:
                bits.put(value, 8)
            continue
        bits.put(0, 1)
        bits.put((value - 1) & ((1 << low_bits) - 1), low_bits)
        put_symbol(bits, distance_codes, distance_lengths, (value - 1) >> low_bits)
        stored = length - min_length
        put_symbol(bits, length_codes, length_lengths, min(stored, 63))
        if stored >= 63:
            bits.put(stored - 63, 8)
    flags = (2 if eight_k else 0) | (4 if three_trees else 0)
    return bits.getvalue(), flags
