// SGREP: the Soundex kind.  A pattern is reduced to a code text (per word
// its upper-case first letter and up to three digits); a line matches where
// its words, coded on the fly while they are read, reproduce that text.
// The coder state (the previous code) deliberately carries over from one
// start position to the next, so an attempt that starts inside a word only
// sees a word start after the previous attempt ended on a non-letter.
#include <cstring>

#include "quarn32.h"
#include "quarn_private.h"
#include "subst.h"

namespace quarn {

namespace {

// The separator state: between words, or before the first one.
constexpr char kSeparator = '*';

struct SoundexTable {
    char entry[256];
    constexpr SoundexTable() : entry{}
    {
        for (int c = 0; c < 256; ++c)
            entry[c] = ' ';
        entry[0] = kSeparator;
        auto group = [this](const char *letters, char digit) {
            for (const char *l = letters; *l != '\0'; ++l) {
                entry[static_cast<unsigned char>(*l)] = digit;
                entry[static_cast<unsigned char>(*l) + 32] = digit;
            }
        };
        group("BFPV", '1');
        group("CGJKQSXZ", '2');
        group("DT", '3');
        group("L", '4');
        group("MN", '5');
        group("R", '6');
    }
};

constexpr SoundexTable kSoundex;
constexpr int kMaxDigits = 3;

// Letters of this kind are those of the "C" locale: A-Z and a-z only.
bool IsLetter(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

char Upper(unsigned char c)
{
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
}

char Code(unsigned char c)
{
    return kSoundex.entry[c];
}

int32_t Refuse(QuarnPattern *p, const char *text)
{
    p->errorCode = kSoundexRefused;
    ShowErrorBox(text, gCaptionSoundex);
    return kSoundexRefused;
}

void ClearMatches(QuarnPattern *p)
{
    for (int i = 0; i < QUARN_MAX_TAGS; ++i) {
        p->matchStart[i] = nullptr;
        p->matchEnd[i] = nullptr;
    }
}

} // namespace

} // namespace quarn

using namespace quarn;

extern "C" {

int32_t QUARN_API CompileSGrep(const char *pattern, int32_t /*flag*/, QuarnPattern *p)
{
    // The compile call reports under its own fixed caption, not the
    // module's.
    static const char kCaption[] = "SGrep";
    if (p == nullptr)
        return kNoPattern;
    if (pattern == nullptr || *pattern == '\0') {
        p->errorCode = kNoPattern;
        ShowErrorBox("No regular expression provided", kCaption);
        return kNoPattern;
    }
    if (std::strlen(pattern) >= QUARN_PATTERN_TEXT_SIZE) {
        p->body.soundex.code[0] = '\0';
        p->errorCode = kPatternTooLong;
        ShowErrorBox("pattern too long", kCaption);
        return kPatternTooLong;
    }
    std::strcpy(p->patternText, pattern);

    // The code text is never longer than the pattern, so it fits too.
    char *code = p->body.soundex.code;
    size_t length = 0;
    size_t digitsStart = 0;
    char previous = kSeparator;
    for (const unsigned char *s = reinterpret_cast<const unsigned char *>(pattern); *s; ++s) {
        const unsigned char c = *s;
        if (!IsLetter(c)) {
            if (previous != kSeparator) {
                code[length++] = ' ';
                previous = kSeparator;
            }
        } else if (previous == kSeparator) {
            code[length++] = Upper(c);
            previous = Code(c);
            digitsStart = length;
        } else {
            const char d = Code(c);
            if (d == previous)
                continue; // one digit for a run of one group
            previous = d;
            if (d != ' ' && length - digitsStart < kMaxDigits)
                code[length++] = d;
        }
    }
    if (length > 0 && code[length - 1] == ' ')
        --length;
    code[length] = '\0';
    p->errorCode = kOk;
    return kOk;
}

int32_t QUARN_API SGrep(const char *line, QuarnPattern *p)
{
    if (p == nullptr)
        return kSoundexRefused;
    if (p->errorCode != kOk)
        return Refuse(p, "previous error in CompileSGrep");
    if (line == nullptr)
        return Refuse(p, "no string to search");
    ClearMatches(p);
    // The code text is bounded by its field even if the record was never
    // compiled.
    const char *code = p->body.soundex.code;
    const size_t codeLength = strnlen(code, QUARN_PATTERN_TEXT_SIZE);
    if (codeLength == 0 || codeLength == QUARN_PATTERN_TEXT_SIZE) {
        p->errorCode = kOk;
        ShowErrorBox("no pattern", gCaptionSoundex);
        return 0;
    }

    char previous = kSeparator; // carried over between start positions
    for (const char *start = line; *start != '\0'; ++start) {
        size_t at = 0;          // position in the code text
        size_t digitsStart = 0; // code position after this word's letter
        const char *t = start;
        bool matched = false;
        for (;;) {
            if (at == codeLength) {
                matched = true;
                break;
            }
            const unsigned char c = static_cast<unsigned char>(*t);
            if (c == '\0')
                break;
            if (!IsLetter(c)) {
                if (previous != kSeparator) {
                    previous = kSeparator;
                    if (code[at++] != ' ')
                        break;
                }
            } else if (previous == kSeparator) {
                previous = Code(c);
                digitsStart = at + 1;
                if (code[at++] != Upper(c))
                    break;
            } else {
                const char d = Code(c);
                if (d != previous) {
                    previous = d;
                    if (d != ' ' && at - digitsStart < kMaxDigits && code[at++] != d)
                        break;
                }
            }
            ++t;
        }
        if (matched) {
            p->matchStart[0] = start;
            p->matchEnd[0] = t;
            return 1;
        }
    }
    return 0;
}

int32_t QUARN_API SGrepSubsBuild(const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p)
{
    return SubsBuild({gCaptionSoundex, "no pattern provided", false}, tmpl, dest, capacity, p);
}

int32_t QUARN_API SGrepSubstitute(char *line, const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p)
{
    return Substitute({gCaptionSoundex, "no pattern provided", false}, line, tmpl, dest, capacity, p);
}

} // extern "C"
