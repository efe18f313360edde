// The template builder and substituter shared by the three pattern kinds.
// The kinds differ only in how they report (caption, the empty-template
// message) and in whether the builder knows the \xHH escape.
#pragma once

#include <cstdint>

#include "quarn32.h"

namespace quarn {

struct SubstKind {
    const char *caption;        // message-box caption of the kind
    const char *noTemplateText; // message for an empty template (code 6)
    bool hexEscape;             // \xHH understood (regular expressions)
};

int32_t SubsBuild(const SubstKind &kind, const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p);

int32_t Substitute(const SubstKind &kind, const char *line, const char *tmpl, char *dest, int32_t capacity,
                   QuarnPattern *p);

} // namespace quarn
