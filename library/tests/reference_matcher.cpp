// The plain model of the regular-expression dialect; see reference_matcher.h.
// Written from the dialect's rules alone, element by element, so that a fault
// in the library's shared backtracker, its scan summary or its memo shows up
// as a disagreement with this file.
#include "reference_matcher.h"

namespace refmatch {

namespace {

bool IsUpper(unsigned char c)
{
    return c >= 'A' && c <= 'Z';
}
bool IsLower(unsigned char c)
{
    return c >= 'a' && c <= 'z';
}

unsigned char FoldAscii(unsigned char c)
{
    return IsUpper(c) ? static_cast<unsigned char>(c + 32) : c;
}

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads the up to two hexadecimal digits after "\x" starting at `i`; leaves
// `i` after them.
unsigned char ReadHex(const std::string &s, size_t &i)
{
    int value = 0;
    for (int n = 0; n < 2 && i < s.size() && HexValue(static_cast<unsigned char>(s[i])) >= 0; ++n, ++i)
        value = value * 16 + HexValue(static_cast<unsigned char>(s[i]));
    return static_cast<unsigned char>(value);
}

// The control escapes shared by elements and class members; 0 if `d` is none.
unsigned char ControlEscape(unsigned char d)
{
    switch (d) {
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
        return 0;
    }
}

} // namespace

WordSet DefaultWordSet()
{
    WordSet w{};
    for (int c = 0; c < 256; ++c)
        w[c] = (c >= '0' && c <= '9') || IsUpper(static_cast<unsigned char>(c)) ||
            IsLower(static_cast<unsigned char>(c)) || c == '_';
    return w;
}

int Regex::Compile(const std::string &pattern, int caseFlag)
{
    alternatives_.assign(1, Alternative{});
    programSize_ = 1; // the final END
    hasBackReference_ = false;
    tagCount_ = 0;
    if (pattern.empty())
        return 6;
    const bool fold = caseFlag == 0;

    auto ordinary = [&](unsigned char c) {
        Element e;
        e.kind = Kind::Char;
        e.c = c;
        e.fold = fold;
        return e;
    };
    auto exact = [&](unsigned char c) {
        Element e;
        e.kind = Kind::Char;
        e.c = c;
        return e;
    };

    // A pattern with none of the special characters is one literal, found by
    // plain comparison: the same as a run of single characters.
    if (pattern.find_first_of(".|^$[\\*+-") == std::string::npos) {
        for (unsigned char c : pattern)
            alternatives_.back().push_back(ordinary(c));
        programSize_ = 1 + pattern.size() + 1 + 1;
        return 0;
    }

    std::vector<int> open; // stack of open tag numbers
    int nextTag = 1;
    const size_t n = pattern.size();
    size_t i = 0;
    while (i < n) {
        Alternative &alt = alternatives_.back();
        const unsigned char c = static_cast<unsigned char>(pattern[i]);
        // The element the previous step emitted: the last of this alternative,
        // or the `|` that began it.
        const Element *prev = alt.empty() ? nullptr : &alt.back();
        const bool prevIsBranch = alt.empty() && alternatives_.size() > 1;
        Element e;
        if (c == '\\') {
            if (i + 1 == n) { // a lone final backslash is the character itself
                alt.push_back(ordinary('\\'));
                programSize_ += 2;
                ++i;
                continue;
            }
            const unsigned char d = static_cast<unsigned char>(pattern[i + 1]);
            i += 2;
            if (d == '(') {
                if (nextTag == 10)
                    return 28;
                e.kind = Kind::TagStart;
                e.c = static_cast<unsigned char>(nextTag);
                open.push_back(nextTag++);
                tagCount_ = nextTag - 1;
                programSize_ += 2;
            } else if (d == ')') {
                if (prev != nullptr && prev->repeat == Repeat::None && prev->kind == Kind::TagStart)
                    return 29;
                if (open.empty())
                    return 30;
                e.kind = Kind::TagEnd;
                e.c = static_cast<unsigned char>(open.back());
                open.pop_back();
                programSize_ += 2;
            } else if (d >= '1' && d <= '9') {
                const int k = d - '0';
                if (!open.empty() && open.back() == k)
                    return 32;
                if (k >= nextTag)
                    return 33;
                e.kind = Kind::BackRef;
                e.c = static_cast<unsigned char>(k);
                hasBackReference_ = true;
                programSize_ += 2;
            } else if (d == '<') {
                e.kind = Kind::WordStart;
                programSize_ += 1;
            } else if (d == '>') {
                if (prev != nullptr && prev->repeat == Repeat::None && prev->kind == Kind::WordStart)
                    return 31;
                e.kind = Kind::WordEnd;
                programSize_ += 1;
            } else if (ControlEscape(d) != 0) {
                e = exact(ControlEscape(d));
                programSize_ += 2;
            } else if (d == 'x') {
                e = exact(ReadHex(pattern, i));
                programSize_ += 2;
            } else {
                e = ordinary(d);
                programSize_ += 2;
            }
            alt.push_back(e);
            continue;
        }
        if (c == '*' || c == '+' || c == '-') {
            if (i == 0)
                return 26;
            ++i;
            if (prev != nullptr && prev->repeat != Repeat::None)
                continue; // a repeater after a repeater is ignored
            if (prevIsBranch || prev == nullptr)
                return 27;
            switch (prev->kind) {
            case Kind::Char:
            case Kind::Any:
            case Kind::Class:
            case Kind::NotClass:
                break;
            default:
                return 27;
            }
            const size_t operandSize = prev->kind == Kind::Char ? 2 : prev->kind == Kind::Any ? 1 : 33;
            if (c == '+') {
                Element copy = *prev;
                alt.push_back(copy); // x+ is x followed by x*
                programSize_ += operandSize;
            }
            alt.back().repeat = c == '-' ? Repeat::Optional : Repeat::Star;
            programSize_ += 2;
            continue;
        }
        if (c == '[') {
            size_t j = i + 1;
            e.kind = Kind::Class;
            if (j < n && pattern[j] == '^') {
                e.kind = Kind::NotClass;
                ++j;
            }
            if (j < n && pattern[j] == '-') {
                e.set.set('-');
                ++j;
            }
            if (j < n && pattern[j] == ']') {
                e.set.set(']');
                ++j;
            }
            for (;;) {
                if (j >= n)
                    return 25;
                const unsigned char m = static_cast<unsigned char>(pattern[j]);
                if (m == ']') {
                    ++j;
                    break;
                }
                if (m == '-' && j + 1 < n && pattern[j + 1] != ']') {
                    // Bounds are the raw bytes beside the '-'; the lower one
                    // was added already as a member of its own.
                    const int lo = static_cast<unsigned char>(pattern[j - 1]);
                    const int hi = static_cast<unsigned char>(pattern[j + 1]);
                    for (int v = lo + 1; v <= hi; ++v)
                        e.set.set(static_cast<size_t>(v));
                    j += 2;
                    continue;
                }
                if (m == '\\') {
                    if (j + 1 >= n)
                        return 25;
                    const unsigned char d = static_cast<unsigned char>(pattern[j + 1]);
                    j += 2;
                    if (ControlEscape(d) != 0)
                        e.set.set(ControlEscape(d));
                    else if (d == 'x')
                        e.set.set(ReadHex(pattern, j));
                    else
                        e.set.set(d);
                    continue;
                }
                e.set.set(m);
                ++j;
            }
            i = j;
            programSize_ += 33;
            alt.push_back(e);
            continue;
        }
        ++i;
        if (c == '.') {
            e.kind = Kind::Any;
            programSize_ += 1;
        } else if (c == '|') {
            if (alternatives_.size() == 10)
                return 35;
            alternatives_.emplace_back();
            programSize_ += 1;
            continue;
        } else if (c == '$' && i == n) {
            e.kind = Kind::LineEnd;
            programSize_ += 1;
        } else if (c == '^' && (i == 1 || pattern[i - 2] == '|')) {
            e.kind = Kind::LineStart;
            programSize_ += 1;
        } else {
            e = ordinary(c);
            programSize_ += 2;
        }
        alternatives_.back().push_back(e);
    }
    if (!open.empty())
        return 34;
    return 0;
}

// One search's mutable state.
struct Regex::Walk {
    const unsigned char *text;
    long length;
    long lineStart;
    int options;
    const WordSet *words;
    Outcome *out;
    long budget;

    unsigned char At(long p) const { return p < length ? text[p] : 0; }
};

bool Regex::Single(const Element &e, unsigned char ch)
{
    switch (e.kind) {
    case Kind::Char:
        return e.fold ? FoldAscii(ch) == FoldAscii(e.c) : ch == e.c;
    case Kind::Any:
        return true;
    case Kind::Class:
        return e.set.test(ch);
    case Kind::NotClass:
        return !e.set.test(ch);
    default:
        return false;
    }
}

// Runs alternative `alt` from element `k` at text position `p`; returns the
// position after the matched text, or -1.
long Regex::Run(Walk &w, size_t alt, size_t k, long p) const
{
    const Alternative &elements = alternatives_[alt];
    const bool lastAlternative = alt + 1 == alternatives_.size();
    for (; k < elements.size(); ++k) {
        Outcome &out = *w.out;
        if (++out.steps > w.budget) {
            out.abandoned = true;
            return -1;
        }
        const Element &e = elements[k];
        if (e.repeat != Repeat::None) {
            // A repeater that ends the whole program matches nothing; one that
            // ends an alternative before a `|` does not count.
            if (lastAlternative && k + 1 == elements.size())
                return p;
            if (e.repeat == Repeat::Star && e.kind == Kind::Any) {
                // Shortest first; then from the end of the text back again.
                for (long q = p; q < w.length; ++q) {
                    const long r = Run(w, alt, k + 1, q);
                    if (r >= 0)
                        return r;
                }
                for (long q = w.length; q >= p; --q) {
                    const long r = Run(w, alt, k + 1, q);
                    if (r >= 0)
                        return r;
                }
                return -1;
            }
            if (e.repeat == Repeat::Star) {
                long q = p;
                while (q < w.length && Single(e, w.text[q]))
                    ++q;
                for (; q >= p; --q) {
                    const long r = Run(w, alt, k + 1, q);
                    if (r >= 0)
                        return r;
                }
                return -1;
            }
            if (e.kind == Kind::Any) { // optional `.`: without it first
                const long r = Run(w, alt, k + 1, p);
                if (r >= 0 || p >= w.length)
                    return r;
                return Run(w, alt, k + 1, p + 1);
            }
            if (p < w.length && Single(e, w.text[p])) {
                const long r = Run(w, alt, k + 1, p + 1);
                if (r >= 0)
                    return r;
            }
            return Run(w, alt, k + 1, p);
        }
        switch (e.kind) {
        case Kind::Char:
        case Kind::Any:
        case Kind::Class:
        case Kind::NotClass:
            if (p >= w.length || !Single(e, w.text[p]))
                return -1;
            ++p;
            break;
        case Kind::LineStart:
            if (p != w.lineStart)
                return -1;
            break;
        case Kind::LineEnd:
            if (!(p == w.length || ((w.options & 1) && w.At(p) == '\n') || ((w.options & 2) && w.At(p) == '\r')))
                return -1;
            break;
        case Kind::TagStart:
            out.tagStart[e.c] = p;
            out.tagStartSet[e.c] = true;
            break;
        case Kind::TagEnd:
            out.tagEnd[e.c] = p;
            out.tagEndSet[e.c] = true;
            break;
        case Kind::WordStart:
            if (!((*w.words)[w.At(p)] && (p == w.lineStart || !(*w.words)[w.At(p - 1)])))
                return -1;
            break;
        case Kind::WordEnd:
            if (!(p != w.lineStart && p > 0 && (*w.words)[w.At(p - 1)] && !(*w.words)[w.At(p)]))
                return -1;
            break;
        case Kind::BackRef: {
            // A tag not both started and ended during this search, or one
            // that ends where it starts or before, is an empty reference.
            const int t = e.c;
            if (!out.tagStartSet[t] || !out.tagEndSet[t] || out.tagEnd[t] <= out.tagStart[t])
                break;
            const long length = out.tagEnd[t] - out.tagStart[t];
            if (p + length > w.length)
                return -1;
            for (long i = 0; i < length; ++i)
                if (w.text[p + i] != w.text[out.tagStart[t] + i])
                    return -1;
            p += length;
            break;
        }
        }
    }
    return p;
}

Outcome Regex::Search(const std::string &text, int options, const WordSet &words, long budget) const
{
    Outcome out;
    Walk w{reinterpret_cast<const unsigned char *>(text.c_str()),
           static_cast<long>(text.size()),
           0,
           options,
           &words,
           &out,
           budget};
    for (long p = 0;; ++p) {
        for (size_t a = 0; a < alternatives_.size(); ++a) {
            const long end = Run(w, a, 0, p);
            if (out.abandoned)
                return out;
            if (end >= 0) {
                out.result = 1;
                out.start = p;
                out.end = end;
                return out;
            }
        }
        if (p == w.length)
            return out;
        const unsigned char passed = w.text[p];
        if ((passed == '\n' && (options & 1)) || (passed == '\r' && (options & 2)))
            w.lineStart = p + 1;
    }
}

} // namespace refmatch
