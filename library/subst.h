// The template builder and substituter shared by the three pattern kinds.
// The kinds differ only in how they report (caption, the empty-template
// message) and in whether the builder knows the \xHH escape.
#pragma once

#include <cstdint>

#include "quarn32.h"

namespace quarn {

// The byte that an escaped letter stands for in patterns and templates
// alike: \b \f \n \r \t give 8 12 10 13 9; -1 for any other letter.
inline int EscapedControl(unsigned char letter)
{
    switch (letter) {
    case 'b':
        return 8;
    case 'f':
        return 12;
    case 'n':
        return 10;
    case 'r':
        return 13;
    case 't':
        return 9;
    default:
        return -1;
    }
}

struct SubstKind {
    const char *caption;        // message-box caption of the kind
    const char *noTemplateText; // message for an empty template (code 6)
    bool hexEscape;             // \xHH understood (regular expressions)
};

int32_t SubsBuild(const SubstKind &kind, const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p);

int32_t Substitute(const SubstKind &kind, const char *line, const char *tmpl, char *dest, int32_t capacity,
                   QuarnPattern *p);

} // namespace quarn
