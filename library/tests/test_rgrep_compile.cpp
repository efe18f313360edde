// Regular-expression compiler: program bytes for each construct (as a
// readable dump and, for the header's examples, raw bytes), every error
// code with its message and caption, and hostile patterns.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "rgrep_program.h"
#include "test_support.h"

using namespace quarn::rgrep;
using quarn_test::Report;
using quarn_test::ReportCapture;

namespace {

std::string Char(unsigned char c)
{
    if (c >= 0x20 && c < 0x7f && c != '\'')
        return std::string("'") + static_cast<char>(c) + "'";
    return std::to_string(c);
}

std::string Set(const unsigned char *set)
{
    std::string out = "[";
    for (int c = 0; c < 256; ++c)
        if ((set[c >> 3] >> (c & 7)) & 1)
            out += (c >= 0x21 && c < 0x7f) ? std::string(1, static_cast<char>(c)) : "\\" + std::to_string(c);
    return out + "]";
}

// Readable dump of a compiled program, one token per element.
std::string Disassemble(const QuarnPattern &p)
{
    const unsigned char *pc = p.body.regex.program;
    std::string out;
    auto element = [&](const unsigned char *&e) {
        switch (*e) {
        case CHAR_ANYCASE:
            out += "c" + Char(e[1]);
            e += 2;
            break;
        case CHAR:
            out += "C" + Char(e[1]);
            e += 2;
            break;
        case ANY:
            out += "ANY";
            e += 1;
            break;
        case CLASS:
            out += "CLASS" + Set(e + 1);
            e += 33;
            break;
        case NOT_CLASS:
            out += "NOT" + Set(e + 1);
            e += 33;
            break;
        default:
            out += "?" + std::to_string(*e);
            e += 1;
            break;
        }
    };
    while (pc < p.body.regex.program + QUARN_PROGRAM_SIZE) {
        if (!out.empty())
            out += " ";
        switch (*pc) {
        case END:
            return out + "END";
        case LINE_START:
            out += "^";
            ++pc;
            break;
        case LINE_END:
            out += "$";
            ++pc;
            break;
        case TAG_START:
            out += "(" + std::to_string(pc[1]);
            pc += 2;
            break;
        case TAG_END:
            out += std::to_string(pc[1]) + ")";
            pc += 2;
            break;
        case WORD_START:
            out += "<";
            ++pc;
            break;
        case WORD_END:
            out += ">";
            ++pc;
            break;
        case BACKREF:
            out += "\\" + std::to_string(pc[1]);
            pc += 2;
            break;
        case BRANCH:
            out += "|";
            ++pc;
            break;
        case STAR:
        case OPTIONAL: {
            out += *pc == STAR ? "STAR(" : "OPT(";
            ++pc;
            element(pc);
            out += ")";
            if (*pc++ != END)
                return out + " <missing END>";
            break;
        }
        case LITERAL:
        case LITERAL_ANYCASE:
            out += (*pc == LITERAL ? "LIT\"" : "lit\"") + std::string(reinterpret_cast<const char *>(pc + 1)) + "\"";
            pc += 2 + std::strlen(reinterpret_cast<const char *>(pc + 1));
            break;
        default:
            element(pc);
            break;
        }
    }
    return out + " <no END>";
}

struct ProgramCase {
    const char *pattern;
    int caseFlag;
    const char *dump;
};

const ProgramCase kPrograms[] = {
    {"abc", 1, "LIT\"abc\" END"},
    {"abc", 0, "lit\"abc\" END"},
    {"foo&&bar", 0, "lit\"foo&&bar\" END"},
    {"a{2}(x)?", 1, "LIT\"a{2}(x)?\" END"},
    {"a-b", 1, "OPT(C'a') C'b' END"},
    {"x+", 0, "c'x' STAR(c'x') END"},
    {"x*", 1, "STAR(C'x') END"},
    {"a**", 0, "STAR(c'a') END"},
    {"a*+", 0, "STAR(c'a') END"},
    {"a-*", 0, "OPT(c'a') END"},
    {"a+*", 0, "c'a' STAR(c'a') END"},
    {".*", 0, "STAR(ANY) END"},
    {"[ab]+", 0, "CLASS[ab] STAR(CLASS[ab]) END"},
    {"^ab|c[xy]", 0, "^ c'a' c'b' | c'c' CLASS[xy] END"},
    {"a$", 0, "c'a' $ END"},
    {"a$b", 0, "c'a' c'$' c'b' END"},
    {"a$|b", 0, "c'a' c'$' | c'b' END"},
    {"a^", 0, "c'a' c'^' END"},
    {"a\\|^b", 0, "c'a' c'|' ^ c'b' END"},
    {"a|^b", 0, "c'a' | ^ c'b' END"},
    {"|a||", 0, "| c'a' | | END"},
    {"\\(a\\)\\1", 1, "(1 C'a' 1) \\1 END"},
    {"\\(a\\(b\\)\\)", 1, "(1 C'a' (2 C'b' 2) 1) END"},
    {"\\(a\\(b\\1\\)\\)", 1, "(1 C'a' (2 C'b' \\1 2) 1) END"},
    {"\\<ab\\>", 0, "< c'a' c'b' > END"},
    {"\\b\\f\\n\\r\\t.", 0, "C8 C12 C10 C13 C9 ANY END"},
    {"\\x41.", 0, "C'A' ANY END"},
    {"\\x.", 0, "C0 ANY END"},
    {"\\x4g.", 0, "C4 c'g' ANY END"},
    {"\\x414.", 0, "C'A' c'4' ANY END"},
    {"\\.\\*\\0\\q", 0, "c'.' c'*' c'0' c'q' END"},
    {"a\\", 0, "c'a' c'\\' END"},
    {"\\", 0, "c'\\' END"},
    {"[]]", 0, "CLASS[]] END"},
    {"[]x]", 0, "CLASS[]x] END"},
    {"[-x]", 0, "CLASS[-x] END"},
    {"[-]x]", 0, "CLASS[-]x] END"},
    {"[^]x]", 0, "NOT[]x] END"},
    {"[-]]", 0, "CLASS[-]] END"},
    {"[a-]", 0, "CLASS[-a] END"},
    {"[z-a]", 0, "CLASS[z] END"},
    {"[a-d]", 0, "CLASS[abcd] END"},
    {"[A-Z]", 0, "CLASS[ABCDEFGHIJKLMNOPQRSTUVWXYZ] END"},
    {"[a-c-e]", 0, "CLASS[abcde] END"},
    {"[\\]\\-\\^\\\\]", 0, "CLASS[-\\]^] END"},
    {"[\\n\\t]", 0, "CLASS[\\9\\10] END"},
    {"[\\x41\\x]", 0, "CLASS[\\0A] END"},
    {"[\\n-p]", 0, "CLASS[\\10op] END"},
    {"[^a-c]", 0, "NOT[abc] END"},
    {"[a|^$]", 0, "CLASS[$^a|] END"},
};

TEST(CompileRGrep, ProgramForEachConstruct)
{
    QuarnMessages(0);
    for (const auto &c : kPrograms) {
        auto p = quarn_test::NewPattern();
        ASSERT_EQ(CompileRGrep(c.pattern, c.caseFlag, p.get()), 0) << c.pattern;
        EXPECT_EQ(p->errorCode, 0) << c.pattern;
        EXPECT_EQ(Disassemble(*p), c.dump) << "pattern " << c.pattern << " case " << c.caseFlag;
        EXPECT_STREQ(p->patternText, c.pattern);
        EXPECT_EQ(p->option, c.caseFlag);
    }
    QuarnOptions(QUARN_OPT_MESSAGES);
}

TEST(CompileRGrep, DocumentedRawBytes)
{
    auto p = quarn_test::NewPattern();
    ASSERT_EQ(CompileRGrep("x+", 0, p.get()), 0);
    const unsigned char xPlus[] = {1, 'x', 12, 1, 'x', 0, 0};
    EXPECT_EQ(0, std::memcmp(p->body.regex.program, xPlus, sizeof xPlus));

    ASSERT_EQ(CompileRGrep("x*", 0, p.get()), 0);
    const unsigned char xStar[] = {12, 1, 'x', 0, 0};
    EXPECT_EQ(0, std::memcmp(p->body.regex.program, xStar, sizeof xStar));

    ASSERT_EQ(CompileRGrep("abc", 1, p.get()), 0);
    const unsigned char literal[] = {18, 'a', 'b', 'c', 0, 0};
    EXPECT_EQ(0, std::memcmp(p->body.regex.program, literal, sizeof literal));

    ASSERT_EQ(CompileRGrep("^ab|c[xy]", 0, p.get()), 0);
    unsigned char expected[42] = {5, 1, 'a', 1, 'b', 15, 1, 'c', 3};
    expected[9 + ('x' >> 3)] |= 1 << ('x' & 7);
    expected[9 + ('y' >> 3)] |= 1 << ('y' & 7);
    expected[41] = 0;
    EXPECT_EQ(0, std::memcmp(p->body.regex.program, expected, sizeof expected));
    EXPECT_EQ(p->body.regex.branchCount, 2);
    EXPECT_EQ(p->body.regex.branchStart[0], p->body.regex.program);
    EXPECT_EQ(p->body.regex.branchStart[1], p->body.regex.program + 6);
}

TEST(CompileRGrep, TenAlternativesAndNineTagsAreTheLimits)
{
    auto p = quarn_test::NewPattern();
    EXPECT_EQ(CompileRGrep("a|b|c|d|e|f|g|h|i|j", 0, p.get()), 0);
    EXPECT_EQ(p->body.regex.branchCount, 10);
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(*p->body.regex.branchStart[i], CHAR_ANYCASE);
    std::string nine;
    for (int i = 0; i < 9; ++i)
        nine += "\\(a";
    for (int i = 0; i < 9; ++i)
        nine += "\\)";
    EXPECT_EQ(CompileRGrep(nine.c_str(), 1, p.get()), 0);
}

struct ErrorCase {
    const char *pattern;
    int code;
    const char *message;
};

const ErrorCase kErrors[] = {
    {"", 6, "No regular expression provided"},
    {"*a", 26, "Empty closure in beginning of pattern"},
    {"+", 26, "Empty closure in beginning of pattern"},
    {"-a", 26, "Empty closure in beginning of pattern"},
    {"^*", 27, "Illegal closure after special character"},
    {"a|*b", 27, "Illegal closure after special character"},
    {"\\(a\\)*", 27, "Illegal closure after special character"},
    {"\\(*a\\)", 27, "Illegal closure after special character"},
    {"\\<*", 27, "Illegal closure after special character"},
    {"a\\>+", 27, "Illegal closure after special character"},
    {"\\(a\\)\\1-", 27, "Illegal closure after special character"},
    {"\\(\\)", 29, "Null pattern inside \\(\\)"},
    {"a\\)", 30, "Unmatched \\)"},
    {"\\<\\>", 31, "Null pattern inside \\<\\>"},
    {"\\(a\\1\\)", 32, "Cyclical reference in tag \\number"},
    {"\\2\\(a\\)", 33, "Undetermined reference"},
    {"\\(a\\)\\2", 33, "Undetermined reference"},
    {"\\(a", 34, "Unmatched \\("},
    {"\\(a\\(b\\)", 34, "Unmatched \\("},
    {"\\(a\\)\\(\\)", 29, "Null pattern inside \\(\\)"},
    {"[a", 25, "Missing ]"},
    {"[", 25, "Missing ]"},
    {"[^", 25, "Missing ]"},
    {"[-]", 25, "Missing ]"},
    {"[^-]", 25, "Missing ]"},
    {"[]", 25, "Missing ]"},
    {"[a\\", 25, "Missing ]"},
    {"[a\\]", 25, "Missing ]"},
    {"a|b|c|d|e|f|g|h|i|j|k", 35, "Too many branches '|'"},
    {"||||||||||", 35, "Too many branches '|'"},
    {"\\(\\(\\(\\(\\(\\(\\(\\(\\(\\(", 28, "Too many \\(\\) pairs"},
    // The first offending construct decides, left to right.
    {"\\(*[", 27, "Illegal closure after special character"},
    {"[a\\(", 25, "Missing ]"},
    {"\\(a\\)\\)*", 30, "Unmatched \\)"},
};

TEST(CompileRGrep, EveryErrorHasItsCodeMessageAndOneReport)
{
    ReportCapture capture;
    for (const auto &c : kErrors) {
        auto p = quarn_test::NewPattern();
        p->body.regex.program[0] = 0x7f;
        capture.clear();
        EXPECT_EQ(CompileRGrep(c.pattern, 0, p.get()), c.code) << c.pattern;
        EXPECT_EQ(p->errorCode, c.code) << c.pattern;
        EXPECT_EQ(p->body.regex.program[0], END) << c.pattern;
        ASSERT_EQ(capture.reports().size(), 1u) << c.pattern;
        EXPECT_EQ(capture.reports()[0], (Report{c.message, "Regular Expression Error"})) << c.pattern;
        EXPECT_EQ(RGrep("anything", p.get()), -1) << c.pattern;
    }
}

TEST(CompileRGrep, NullArgumentsAreRefused)
{
    ReportCapture capture;
    auto p = quarn_test::NewPattern();
    EXPECT_EQ(CompileRGrep(nullptr, 0, p.get()), 6);
    EXPECT_EQ(p->errorCode, 6);
    EXPECT_EQ(capture.reports().size(), 1u);
    capture.clear();
    EXPECT_EQ(CompileRGrep("abc", 0, nullptr), 6);
    EXPECT_TRUE(capture.reports().empty());
}

TEST(CompileRGrep, SuccessClearsAnEarlierError)
{
    QuarnMessages(0);
    auto p = quarn_test::NewPattern();
    EXPECT_EQ(CompileRGrep("[x", 0, p.get()), 25);
    EXPECT_EQ(RGrep("x", p.get()), -1);
    EXPECT_EQ(CompileRGrep("x", 0, p.get()), 0);
    EXPECT_EQ(RGrep("x", p.get()), 1);
    QuarnOptions(QUARN_OPT_MESSAGES);
}

TEST(CompileRGrep, PatternLimits)
{
    ReportCapture capture;
    auto p = quarn_test::NewPattern();
    std::string longest = "^" + std::string(510, 'a');
    EXPECT_EQ(CompileRGrep(longest.c_str(), 0, p.get()), 0);
    EXPECT_EQ(CompileRGrep((longest + "a").c_str(), 0, p.get()), 4);
    EXPECT_EQ(capture.reports().back(), (Report{"pattern too long", "Regular Expression Error"}));

    std::string literal(511, 'a');
    EXPECT_EQ(CompileRGrep(literal.c_str(), 0, p.get()), 0);
    EXPECT_EQ(RGrep(literal.c_str(), p.get()), 1);
    EXPECT_EQ(CompileRGrep((literal + "a").c_str(), 0, p.get()), 4);

    // 527 two-byte elements fit with the END byte; one more does not.
    std::string fits = "^" + std::string(300, 'b');
    EXPECT_EQ(CompileRGrep(fits.c_str(), 0, p.get()), 0);

    // 31 classes (33 bytes each) fit in 1056 bytes; 32 do not.
    std::string classes;
    for (int i = 0; i < 31; ++i)
        classes += "[a]";
    EXPECT_EQ(CompileRGrep(classes.c_str(), 0, p.get()), 0);
    EXPECT_EQ(CompileRGrep((classes + "[a]").c_str(), 0, p.get()), 4);
    // A `+` doubles its operand: 15 class-pluses take 15*68 = 1020 bytes.
    std::string plus;
    for (int i = 0; i < 15; ++i)
        plus += "[ab]+";
    EXPECT_EQ(CompileRGrep(plus.c_str(), 0, p.get()), 0);
    EXPECT_EQ(CompileRGrep((plus + "[c]+").c_str(), 0, p.get()), 4);
}

TEST(CompileRGrep, RandomPatternsNeverOverrunTheRecord)
{
    // Hostile patterns from the dialect's own characters: compile and match
    // under the sanitizers; the guard bytes after the record must survive.
    QuarnMessages(0);
    const char alphabet[] = "ab.|^$[]\\*+-()<>0123456789xnq^-";
    std::mt19937 rng(12345);
    struct Guarded {
        QuarnPattern p;
        unsigned char guard[64];
    };
    auto g = std::make_unique<Guarded>();
    std::memset(g->guard, 0x5A, sizeof g->guard);
    for (int iter = 0; iter < 20000; ++iter) {
        std::string pattern;
        const int len = 1 + static_cast<int>(rng() % (iter % 100 == 0 ? 700 : 24));
        for (int i = 0; i < len; ++i)
            pattern += alphabet[rng() % (sizeof alphabet - 1)];
        const int code = CompileRGrep(pattern.c_str(), static_cast<int>(rng() % 2), &g->p);
        const int result = RGrep("ab.|^$[]xnq\n(0)a-b", &g->p);
        if (code == 0)
            ASSERT_GE(result, 0) << pattern;
        else
            ASSERT_EQ(result, -1) << pattern;
    }
    for (unsigned char b : g->guard)
        ASSERT_EQ(b, 0x5A);
    QuarnOptions(QUARN_OPT_MESSAGES);
}

} // namespace
