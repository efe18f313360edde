// Windows-1252 case mapping (see ansi_case.h): ASCII letters, the Latin-1
// letters 0xC0-0xDE <-> 0xE0-0xFE except the signs 0xD7/0xF7, and the four
// pairs that code page adds in 0x80-0x9F: S/s caron, OE/oe ligature, Z/z
// caron and Y/y diaeresis.  Sharp s (0xDF) and micro (0xB5) have no other
// form in the code page and stay as they are.
#include "ansi_case.h"

namespace quarn {

namespace {

struct CaseTables {
    unsigned char upper[256];
    unsigned char lower[256];

    constexpr CaseTables() : upper{}, lower{}
    {
        for (int c = 0; c < 256; ++c) {
            upper[c] = static_cast<unsigned char>(c);
            lower[c] = static_cast<unsigned char>(c);
        }
        auto pair = [this](int big, int small) {
            upper[small] = static_cast<unsigned char>(big);
            lower[big] = static_cast<unsigned char>(small);
        };
        for (int c = 'A'; c <= 'Z'; ++c)
            pair(c, c + 32);
        for (int c = 0xC0; c <= 0xDE; ++c)
            if (c != 0xD7)
                pair(c, c + 32);
        pair(0x8A, 0x9A);
        pair(0x8C, 0x9C);
        pair(0x8E, 0x9E);
        pair(0x9F, 0xFF);
    }
};

constexpr CaseTables kCase;

} // namespace

unsigned char AnsiUpper(unsigned char c)
{
    return kCase.upper[c];
}

unsigned char AnsiLower(unsigned char c)
{
    return kCase.lower[c];
}

void AnsiUpperString(char *s)
{
    for (; *s != '\0'; ++s)
        *s = static_cast<char>(kCase.upper[static_cast<unsigned char>(*s)]);
}

void AnsiLowerString(char *s)
{
    for (; *s != '\0'; ++s)
        *s = static_cast<char>(kCase.lower[static_cast<unsigned char>(*s)]);
}

} // namespace quarn
