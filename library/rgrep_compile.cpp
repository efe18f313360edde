// Parsing a regular expression and emitting its byte program (the format
// of rgrep_program.h) into the caller's record: CompileRGrep.  The program's
// scan summary and run plan are written by rgrep_plan.cpp.
#include <cstdint>
#include <cstring>

#include "quarn32.h"
#include "quarn_private.h"
#include "rgrep_plan.h"
#include "rgrep_private.h"
#include "rgrep_program.h"
#include "subst.h"

namespace quarn {

using namespace rgrep;

const char *RegexMessage(int32_t code)
{
    switch (code) {
    case kPatternTooLong:
        return "pattern too long";
    case kNoPattern:
        return "No regular expression provided";
    case kMissingBracket:
        return "Missing ]";
    case kEmptyClosure:
        return "Empty closure in beginning of pattern";
    case kIllegalClosure:
        return "Illegal closure after special character";
    case kTooManyTags:
        return "Too many \\(\\) pairs";
    case kNullTag:
        return "Null pattern inside \\(\\)";
    case kUnmatchedClose:
        return "Unmatched \\)";
    case kNullWord:
        return "Null pattern inside \\<\\>";
    case kCyclicalReference:
        return "Cyclical reference in tag \\number";
    case kUndeterminedReference:
        return "Undetermined reference";
    case kUnmatchedOpen:
        return "Unmatched \\(";
    case kTooManyBranches:
        return "Too many branches '|'";
    default:
        return "bad state in automaton";
    }
}

namespace {

int32_t Fail(QuarnPattern *p, int32_t code)
{
    p->body.regex.program[0] = END;
    ClearHints(p->body.regex);
    p->errorCode = code;
    ShowErrorBox(RegexMessage(code), gCaptionRegex);
    return code;
}

bool IsSpecial(unsigned char c)
{
    return c != '\0' && std::strchr(".|^$[\\*+-", c) != nullptr;
}

} // namespace

int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

namespace {

// Value of up to two hex digits at pat[*i]; advances *i past them.
unsigned char ReadHex(const unsigned char *pat, size_t len, size_t *i)
{
    int value = 0;
    for (int n = 0; n < 2 && *i < len && HexValue(pat[*i]) >= 0; ++n, ++*i)
        value = value * 16 + HexValue(pat[*i]);
    return static_cast<unsigned char>(value);
}

// Writes the program into the record's fixed area.  One byte is always kept
// free so the closing END fits whatever came before.
class ProgramWriter {
public:
    explicit ProgramWriter(unsigned char *program) : program_(program) {}

    bool Fits(int bytes) const { return pos_ + bytes <= QUARN_PROGRAM_SIZE - 1; }
    int Pos() const { return pos_; }
    unsigned char *At(int offset) { return program_ + offset; }
    void Byte(unsigned char b) { program_[pos_++] = b; }
    void SetPos(int pos) { pos_ = pos; }
    void Terminate() { program_[pos_] = END; }

private:
    unsigned char *program_;
    int pos_ = 0;
};

// Parses the class starting at pat[*i] == '['.  On success emits it and
// leaves *i after the closing ']'.
int32_t CompileClass(const unsigned char *pat, size_t len, size_t *i, ProgramWriter &out)
{
    unsigned char set[kSetBytes] = {};
    size_t j = *i + 1;
    unsigned char op = CLASS;
    if (j < len && pat[j] == '^') {
        op = NOT_CLASS;
        ++j;
    }
    if (j < len && pat[j] == '-') {
        AddMember(set, '-');
        ++j;
    }
    if (j < len && pat[j] == ']') {
        AddMember(set, ']');
        ++j;
    }
    for (;;) {
        if (j >= len)
            return kMissingBracket;
        unsigned char c = pat[j];
        if (c == ']') {
            ++j;
            break;
        }
        if (c == '-' && j + 1 < len && pat[j + 1] != ']') {
            // Bounds are the raw characters around '-'; the lower one was
            // added as a member by the step that read it.
            unsigned lo = pat[j - 1], hi = pat[j + 1];
            for (unsigned v = lo + 1; v <= hi; ++v)
                AddMember(set, v);
            j += 2;
            continue;
        }
        if (c == '\\') {
            if (j + 1 >= len)
                return kMissingBracket;
            unsigned char d = pat[j + 1];
            j += 2;
            if (d == 'x') {
                AddMember(set, ReadHex(pat, len, &j));
            } else {
                int control = EscapedControl(d);
                AddMember(set, control >= 0 ? static_cast<unsigned>(control) : d);
            }
            continue;
        }
        AddMember(set, c);
        ++j;
    }
    if (!out.Fits(1 + kSetBytes))
        return kPatternTooLong;
    out.Byte(op);
    for (unsigned char b : set)
        out.Byte(b);
    *i = j;
    return kOk;
}

bool IsRepeatable(unsigned char op)
{
    return op == CHAR_ANYCASE || op == CHAR || op == ANY || op == CLASS || op == NOT_CLASS;
}

int32_t Compile(const unsigned char *pat, size_t len, int32_t caseFlag, QuarnPattern *p)
{
    QuarnRegexBody &rx = p->body.regex;
    ProgramWriter out(rx.program);

    bool literal = true;
    for (size_t k = 0; k < len && literal; ++k)
        literal = !IsSpecial(pat[k]);
    if (literal) {
        out.Byte(caseFlag != 0 ? LITERAL : LITERAL_ANYCASE);
        for (size_t k = 0; k < len; ++k)
            out.Byte(pat[k]);
        out.Byte('\0');
        out.Terminate();
        WriteLiteralHints(rx, out.Pos() + 1);
        p->errorCode = kOk;
        return kOk;
    }

    const unsigned char ordinary = caseFlag != 0 ? CHAR : CHAR_ANYCASE;
    unsigned char openTags[9];
    int openCount = 0;
    int nextTag = 1;
    int prev = -1; // offset of the previous element, -1 before the first

    auto emitChar = [&](unsigned char op, unsigned char c) -> bool {
        if (!out.Fits(2))
            return false;
        out.Byte(op);
        out.Byte(c);
        return true;
    };

    size_t i = 0;
    while (i < len) {
        const unsigned char c = pat[i];
        const int start = out.Pos();
        bool fits = true;

        switch (c) {
        case '$':
            if (i == len - 1)
                fits = out.Fits(1) && (out.Byte(LINE_END), true);
            else
                fits = emitChar(ordinary, c);
            ++i;
            break;
        case '^':
            if (i == 0 || pat[i - 1] == '|')
                fits = out.Fits(1) && (out.Byte(LINE_START), true);
            else
                fits = emitChar(ordinary, c);
            ++i;
            break;
        case '.':
            fits = out.Fits(1) && (out.Byte(ANY), true);
            ++i;
            break;
        case '|':
            if (rx.branchCount >= QUARN_MAX_BRANCHES)
                return Fail(p, kTooManyBranches);
            if (!out.Fits(1))
                return Fail(p, kPatternTooLong);
            out.Byte(BRANCH);
            rx.branchStart[rx.branchCount++] = out.At(out.Pos());
            ++i;
            break;
        case '[': {
            int32_t code = CompileClass(pat, len, &i, out);
            if (code != kOk)
                return Fail(p, code);
            break;
        }
        case '*':
        case '+':
        case '-': {
            if (i == 0)
                return Fail(p, kEmptyClosure);
            unsigned char *operand = out.At(prev);
            if (*operand == STAR || *operand == OPTIONAL) {
                ++i; // a repeated repeater adds nothing and stays previous
                continue;
            }
            if (!IsRepeatable(*operand))
                return Fail(p, kIllegalClosure);
            int size = OperandSize(*operand);
            if (c == '+') {
                // x+ is x followed by x*: copy the operand and repeat the copy.
                if (!out.Fits(size))
                    return Fail(p, kPatternTooLong);
                std::memcpy(out.At(out.Pos()), operand, static_cast<size_t>(size));
                prev = out.Pos();
                out.SetPos(prev + size);
                operand = out.At(prev);
            }
            if (!out.Fits(2))
                return Fail(p, kPatternTooLong);
            std::memmove(operand + 1, operand, static_cast<size_t>(size));
            operand[0] = c == '-' ? OPTIONAL : STAR;
            operand[1 + size] = END;
            out.SetPos(prev + size + 2);
            ++i;
            continue; // the repeater element is the previous element
        }
        case '\\': {
            if (i + 1 >= len) {
                // A trailing backslash stands for itself.
                fits = emitChar(ordinary, c);
                ++i;
                break;
            }
            const unsigned char d = pat[i + 1];
            i += 2;
            if (d == '(') {
                if (nextTag >= 10)
                    return Fail(p, kTooManyTags);
                if (!emitChar(TAG_START, static_cast<unsigned char>(nextTag)))
                    return Fail(p, kPatternTooLong);
                openTags[openCount++] = static_cast<unsigned char>(nextTag++);
            } else if (d == ')') {
                if (prev >= 0 && *out.At(prev) == TAG_START)
                    return Fail(p, kNullTag);
                if (openCount == 0)
                    return Fail(p, kUnmatchedClose);
                fits = emitChar(TAG_END, openTags[--openCount]);
            } else if (d >= '1' && d <= '9') {
                const int k = d - '0';
                if (openCount > 0 && openTags[openCount - 1] == k)
                    return Fail(p, kCyclicalReference);
                if (k >= nextTag)
                    return Fail(p, kUndeterminedReference);
                fits = emitChar(BACKREF, static_cast<unsigned char>(k));
            } else if (d == '<') {
                fits = out.Fits(1) && (out.Byte(WORD_START), true);
            } else if (d == '>') {
                if (prev >= 0 && *out.At(prev) == WORD_START)
                    return Fail(p, kNullWord);
                fits = out.Fits(1) && (out.Byte(WORD_END), true);
            } else if (d == 'x') {
                fits = emitChar(CHAR, ReadHex(pat, len, &i));
            } else if (EscapedControl(d) >= 0) {
                fits = emitChar(CHAR, static_cast<unsigned char>(EscapedControl(d)));
            } else {
                fits = emitChar(ordinary, d);
            }
            break;
        }
        default:
            fits = emitChar(ordinary, c);
            ++i;
            break;
        }
        if (!fits)
            return Fail(p, kPatternTooLong);
        prev = start;
    }

    if (openCount > 0)
        return Fail(p, kUnmatchedOpen);
    out.Terminate();
    WriteHints(rx, out.Pos() + 1);
    p->errorCode = kOk;
    return kOk;
}

} // namespace

} // namespace quarn

using namespace quarn;
using namespace quarn::rgrep;

extern "C" {

int32_t QUARN_API CompileRGrep(const char *pattern, int32_t caseFlag, QuarnPattern *p)
{
    if (p == nullptr)
        return kNoPattern;
    if (pattern == nullptr || *pattern == '\0')
        return Fail(p, kNoPattern);
    const size_t len = strnlen(pattern, QUARN_PATTERN_TEXT_SIZE);
    if (len >= QUARN_PATTERN_TEXT_SIZE)
        return Fail(p, kPatternTooLong);

    std::memcpy(p->patternText, pattern, len + 1);
    p->option = caseFlag;
    p->body.regex.branchStart[0] = p->body.regex.program;
    p->body.regex.branchCount = 1;
    return Compile(reinterpret_cast<const unsigned char *>(pattern), len, caseFlag, p);
}

} // extern "C"
