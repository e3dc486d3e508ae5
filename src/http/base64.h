#pragma once
// Base64 with the standard alphabet of RFC 4648, "=" as the fill character and no line breaks.
#include <cstdint>
#include <string>
#include <string_view>

#include "rtl/streams.h"

// Encodes a whole text; never fails.
std::string EncodeBase64(std::string_view bytes);
// Encodes byteCount bytes of source from its position (-1: to its end). Only the last part of a stream may
// need fill characters, so a byteCount that is not a multiple of 3 and stops short of the end raises
// EIdException "Uneven size in Encode.".
std::string EncodeBase64(TStream& source, int64_t byteCount);

// Decodes text into target at its position. Raises EIdException "Uneven size in DecodeToStream." when the
// length of text is not a multiple of 4, and EIdException "Invalid character in base64 text." for a
// character outside the alphabet or a fill character before the end.
void DecodeBase64ToStream(std::string_view text, TStream& target);
std::string DecodeBase64(std::string_view text);
