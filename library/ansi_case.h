// The single-byte letter-case mapping of the approximate kind.  Windows
// converts with CharUpperA/CharLowerA in the ANSI code page; to give the
// same results everywhere the library uses one fixed mapping, that of the
// Western code page (Windows-1252), on every platform.
#pragma once

namespace quarn {

unsigned char AnsiUpper(unsigned char c);
unsigned char AnsiLower(unsigned char c);

// Converts a NUL-terminated string in place.
void AnsiUpperString(char *s);
void AnsiLowerString(char *s);

} // namespace quarn
