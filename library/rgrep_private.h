// Pieces of the regular-expression module shared with its substitution code.
#pragma once

#include <cstdint>

namespace quarn {

// ASCII-only letter-case fold used by the case-ignoring elements.
unsigned char FoldAscii(unsigned char c);

// Value of a hexadecimal digit (0-9, A-F, a-f), or -1.
int HexValue(unsigned char c);

// Message text of a regular-expression compile code.
const char *RegexMessage(int32_t code);

} // namespace quarn
