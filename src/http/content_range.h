#pragma once
// The value of a part's "Content-Range", in the one form a download can check: "bytes N-M/T".
#include <cstdint>
#include <string_view>

// The part's first and last byte and the whole body's length; false for any other form (an unknown length
// "*", a list of ranges, a sign, blanks, a last byte before the first or at or past the length).
bool ParseContentRange(std::string_view text, int64_t& first, int64_t& last, int64_t& total);
