// catalog_names.h - conversions between the raw byte names of the catalog
// and display strings.
//
// Catalog names are bytes: files written on Windows hold the ANSI code page
// (Windows-1252 in the West), names scanned on Linux hold whatever the file
// system gave (UTF-8 nearly always).  Display code decodes them here and
// nowhere else.
#pragma once

#include <string>
#include <string_view>

#include <QString>

namespace tslcat {

// Valid UTF-8 decodes as UTF-8; anything else as Windows-1252 (Latin-1 with
// the 0x80..0x9F extras), so every byte string shows something readable.
QString DecodeName(std::string_view bytes);
// For files other programs read (CSV, JSON): valid UTF-8 as UTF-8, anything
// else byte by byte as Windows-1252, where the five bytes that code page
// leaves undefined (81 8D 8F 90 9D) become U+FFFD.
QString DecodeNameForExchange(std::string_view bytes);
// A name typed by the user (renames, disc names) as UTF-8 bytes.
std::string EncodeName(const QString &text);

// The longest name the catalog file stores: its records keep a length byte.
inline constexpr size_t kMaxStoredNameBytes = 255;

// Text the user typed as the catalog stores it on the other kind of system:
// its Windows-1252 bytes (every catalog written on Windows in the West),
// when they differ from its UTF-8 bytes and every character has one; else
// "" (plain ASCII text, or a character Windows-1252 lacks).  A search tries
// both forms, so a name is found whichever system stored it.
std::string EncodeNameWindows1252(const QString &text);

// The length of the longest start of `bytes` of at most `maxBytes` bytes
// that does not end inside a character.  Valid UTF-8 is cut between
// characters; other bytes are single-byte text, where every byte is one.
size_t CutAtCharacterBoundary(std::string_view bytes, size_t maxBytes);

// The longest start of `text` whose UTF-8 form has at most `maxBytes` bytes,
// without splitting a character (nor a surrogate pair).
QString LimitToUtf8Bytes(const QString &text, size_t maxBytes);

// Case-insensitive ordering of the user's locale, used for the file-type
// list and the scanner's per-folder sort.  Returns <0, 0 or >0.  Two names
// that differ only in letter case compare equal.
int CompareNamesCaseInsensitive(std::string_view a, std::string_view b);
// The same order on names already decoded with DecodeName (sorting decodes
// each name once instead of at every comparison).
int CompareDecodedNamesCaseInsensitive(const QString &a, const QString &b);

} // namespace tslcat
