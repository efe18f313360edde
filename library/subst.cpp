// Template expansion for the substitution calls of every kind.  The builder
// is a small automaton over the template bytes (text, escape, hex, insert
// tag); the substituter wraps it between the line's prefix and the rest of
// the line after the match.  Both check the destination capacity before
// every byte they write and never read a template past its NUL.
#include "subst.h"

#include <cstdint>
#include <cstring>

#include "quarn_private.h"
#include "rgrep_private.h"

namespace quarn {

namespace {

int32_t Fail(const SubstKind &kind, QuarnPattern *p, int32_t code, const char *text)
{
    p->errorCode = code;
    ShowErrorBox(text, kind.caption);
    return code;
}

constexpr const char *kNoSpaceText = "not enough space in destination string";
constexpr const char *kBadStateText = "bad state in automaton";
constexpr const char *kNoSearchText = "no previous search";

// Bounded writer over the caller's destination: at most `capacity` bytes,
// always kept terminated (the destination holds capacity + 1 bytes).
class Output {
public:
    Output(char *dest, int32_t capacity) : dest_(dest), capacity_(capacity) { dest_[0] = '\0'; }

    bool Put(char c)
    {
        if (written_ >= capacity_)
            return false;
        dest_[written_++] = c;
        dest_[written_] = '\0';
        return true;
    }

private:
    char *dest_;
    int32_t capacity_;
    int32_t written_ = 0;
};

// '&', '\\' and every byte but the control letters stand for themselves.
int EscapedByte(unsigned char c)
{
    const int control = EscapedControl(c);
    return control >= 0 ? control : c;
}

} // namespace

int32_t SubsBuild(const SubstKind &kind, const char *tmpl, char *dest, int32_t capacity, QuarnPattern *p)
{
    if (p == nullptr)
        return kNoPreviousSearch;
    if (dest == nullptr || capacity < 0)
        return kNoSpace;
    Output out(dest, capacity);
    if (tmpl == nullptr || *tmpl == '\0')
        return Fail(kind, p, kNoPattern, kind.noTemplateText);
    if (p->matchStart[0] == nullptr)
        return Fail(kind, p, kNoPreviousSearch, kNoSearchText);

    const unsigned char *t = reinterpret_cast<const unsigned char *>(tmpl);
    for (;;) {
        unsigned char c = *t++;
        int tag = -1;
        if (c == '\0')
            break;
        if (c == '&') {
            tag = 0;
        } else if (c == '\\') {
            unsigned char e = *t;
            if (e == '\0')
                break; // a trailing backslash writes nothing
            ++t;
            if (e >= '0' && e <= '9') {
                tag = e - '0';
            } else if (e == 'x' && kind.hexEscape) {
                if (*t == '\0')
                    break; // "\x" at the end writes nothing
                int high = HexValue(*t);
                ++t;
                int value = high < 0 ? 0 : high;
                int low = *t == '\0' ? -1 : HexValue(*t);
                if (*t != '\0')
                    ++t; // the second byte is consumed, hex or not
                if (low >= 0)
                    value = value * 16 + low;
                if (!out.Put(static_cast<char>(value)))
                    return Fail(kind, p, kNoSpace, kNoSpaceText);
                continue;
            } else {
                if (!out.Put(static_cast<char>(EscapedByte(e))))
                    return Fail(kind, p, kNoSpace, kNoSpaceText);
                continue;
            }
        } else {
            if (!out.Put(static_cast<char>(c)))
                return Fail(kind, p, kNoSpace, kNoSpaceText);
            continue;
        }

        // Insert tag `tag`: its bytes up to its end, unless a 0 byte comes
        // first (the line changed since the search).
        const char *from = p->matchStart[tag];
        const char *to = p->matchEnd[tag];
        if (from == nullptr || to == nullptr)
            continue;
        // Compare as addresses: the end may be left from another line.
        const uintptr_t end = reinterpret_cast<uintptr_t>(to);
        for (const char *q = from; reinterpret_cast<uintptr_t>(q) < end; ++q) {
            if (*q == '\0')
                return Fail(kind, p, kBadState, kBadStateText);
            if (!out.Put(*q))
                return Fail(kind, p, kNoSpace, kNoSpaceText);
        }
    }
    p->errorCode = kOk;
    return kOk;
}

int32_t Substitute(const SubstKind &kind, const char *line, const char *tmpl, char *dest, int32_t capacity,
                   QuarnPattern *p)
{
    if (p == nullptr)
        return kNoPreviousSearch;
    if (dest == nullptr || capacity < 0)
        return kNoSpace;
    dest[0] = '\0';
    p->errorCode = kOk;
    if (tmpl == nullptr || *tmpl == '\0')
        return Fail(kind, p, kNoPattern, kind.noTemplateText);
    if (p->matchStart[0] == nullptr)
        return Fail(kind, p, kNoPreviousSearch, kNoSearchText);
    if (p->matchEnd[0] == nullptr || line == nullptr)
        return Fail(kind, p, kBadState, kBadStateText);

    // The recorded positions must lie in this very line: another buffer, or
    // a line that was shortened since the search, is refused before anything
    // is read through them.
    const size_t lineLength = std::strlen(line);
    const uintptr_t lineBegin = reinterpret_cast<uintptr_t>(line);
    const uintptr_t lineEnd = lineBegin + lineLength;
    auto inLine = [&](const char *q) {
        uintptr_t a = reinterpret_cast<uintptr_t>(q);
        return a >= lineBegin && a <= lineEnd;
    };
    const uintptr_t start = reinterpret_cast<uintptr_t>(p->matchStart[0]);
    const uintptr_t stop = reinterpret_cast<uintptr_t>(p->matchEnd[0]);
    bool valid = inLine(p->matchStart[0]) && inLine(p->matchEnd[0]) && stop >= start;
    for (int n = 1; valid && n < QUARN_MAX_TAGS; ++n)
        if (p->matchStart[n] != nullptr && p->matchEnd[n] != nullptr)
            valid = inLine(p->matchStart[n]);
    if (!valid)
        return Fail(kind, p, kBadState, kBadStateText);

    const size_t prefix = start - lineBegin;
    if (prefix + 1 > static_cast<size_t>(capacity))
        return Fail(kind, p, kNoSpace, kNoSpaceText);
    // The prefix is copied by length: the line itself is never written.
    std::memcpy(dest, line, prefix);
    dest[prefix] = '\0';

    int32_t code = SubsBuild(kind, tmpl, dest + prefix, capacity - static_cast<int32_t>(prefix), p);
    if (code != kOk)
        return code;

    const size_t built = std::strlen(dest);
    const size_t rest = lineEnd - stop;
    if (built + rest > static_cast<size_t>(capacity)) {
        dest[prefix] = '\0';
        return Fail(kind, p, kNoSpace, kNoSpaceText);
    }
    std::memcpy(dest + built, line + (stop - lineBegin), rest + 1);
    return kOk;
}

} // namespace quarn
