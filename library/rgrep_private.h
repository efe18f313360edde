// Pieces of the regular-expression module shared by its files and by its
// substitution code: the letter-case fold, the word table, bit sets.
#pragma once

#include <cstdint>

namespace quarn {

// ASCII-only letter-case fold used by the case-ignoring elements.
unsigned char FoldAscii(unsigned char c);

// Value of a hexadecimal digit (0-9, A-F, a-f), or -1.
int HexValue(unsigned char c);

// Message text of a regular-expression compile code.
const char *RegexMessage(int32_t code);

namespace rgrep {

struct FoldTable {
    unsigned char entry[256];
    constexpr FoldTable() : entry{}
    {
        for (int c = 0; c < 256; ++c)
            entry[c] = (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : static_cast<unsigned char>(c);
    }
};

inline constexpr FoldTable kFold;

// 0-9, A-Z, '_' and a-z as a 32-byte bit set: bit (c & 7) of byte (c >> 3).
inline constexpr unsigned char kDefaultWordSet[32] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xff, 0x03, // 0x30-0x39
    0xfe, 0xff, 0xff, 0x87, 0xfe, 0xff, 0xff, 0x07, // A-Z, '_', a-z
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

struct WordTable {
    unsigned char entry[256];
    constexpr WordTable() : entry{}
    {
        for (int c = 0; c < 256; ++c)
            entry[c] = (kDefaultWordSet[c >> 3] >> (c & 7)) & 1;
    }
};

// The word characters of \< and \> (rgrep_words.cpp); read at match time.
extern WordTable gWordTable;

inline void AddMember(unsigned char *set, unsigned c)
{
    set[c >> 3] |= static_cast<unsigned char>(1u << (c & 7));
}

inline bool IsMember(const unsigned char *set, unsigned c)
{
    return (set[c >> 3] >> (c & 7)) & 1;
}

} // namespace rgrep

} // namespace quarn
