// Substitution for all three kinds: every template escape, the capacity
// boundaries of builder and substituter, the line left as it was, and the
// refusals with each kind's caption and messages.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "test_support.h"

using quarn_test::Report;
using quarn_test::ReportCapture;

namespace {

using BuildFn = int32_t(QUARN_API *)(const char *, char *, int32_t, QuarnPattern *);
using SubstituteFn = int32_t(QUARN_API *)(char *, const char *, char *, int32_t, QuarnPattern *);

struct Kind {
    const char *name;
    BuildFn build;
    SubstituteFn substitute;
    const char *caption;
    const char *noTemplate;
    // Compiles a pattern that matches "bcd" in "a bcd e" (for the regular
    // expression with the tag \1 = "c") and searches `line` with it.
    std::function<int(const char *line, QuarnPattern *p)> search;
};

const Kind kKinds[] = {
    {"regex", RGrepSubsBuild, RGrepSubstitute, "Regular Expression Error", "no pattern provided",
     [](const char *line, QuarnPattern *p) {
         CompileRGrep("b\\(.\\)d", 1, p);
         return RGrep(line, p);
     }},
    {"soundex", SGrepSubsBuild, SGrepSubstitute, "Soundex Error", "no pattern provided",
     [](const char *line, QuarnPattern *p) {
         CompileSGrep("bcd", 0, p); // the code B23
         return SGrep(line, p);
     }},
    {"approx", AGrepSubsBuild, AGrepSubstitute, "Approximative Find Error", "no pattern",
     [](const char *line, QuarnPattern *p) {
         AGrepEmpty(p);
         AGrepInit(p);
         CompileAGrep("bcd", 0, 1, p);
         return AGrep(line, p);
     }},
};

// A record per kind, released at the end of the test.
struct Record {
    std::unique_ptr<QuarnPattern> p = quarn_test::NewPattern();
    ~Record() { AGrepEmpty(p.get()); }
};

std::string Bytes(const char *dest, size_t n)
{
    return std::string(dest, n);
}

TEST(Substitution, RegularExpressionExample)
{
    Record r;
    char line[] = "abcde";
    ASSERT_EQ(CompileRGrep("b\\(.\\)d", 1, r.p.get()), 0);
    ASSERT_EQ(RGrep(line, r.p.get()), 1);
    char dest[64];
    EXPECT_EQ(RGrepSubsBuild("[&:\\1]", dest, 63, r.p.get()), 0);
    EXPECT_STREQ(dest, "[bcd:c]");
    EXPECT_EQ(RGrepSubstitute(line, "[&:\\1]", dest, 63, r.p.get()), 0);
    EXPECT_STREQ(dest, "a[bcd:c]e");
    EXPECT_STREQ(line, "abcde");
}

TEST(Substitution, TemplateEscapes)
{
    struct Case {
        const char *tmpl;
        std::string regex;  // expected output, regular-expression kind
        std::string others; // Soundex ("b" matches "b") and approximate ("bcd")
    };
    // Soundex: \1 is never set; approximate: only one match, so \1 is not.
    const Case cases[] = {
        {"&", "bcd", "bcd"},
        {"\\0", "bcd", "bcd"},
        {"<\\1>", "<c>", "<>"},
        {"<\\2\\9>", "<>", "<>"},
        {"\\&", "&", "&"},
        {"\\\\", "\\", "\\"},
        {"\\q\\Q", "qQ", "qQ"},
        {"\\b\\f\\n\\r\\t", "\b\f\n\r\t", "\b\f\n\r\t"},
        {"\\x41", "A", "x41"},
        {"\\x4z!", std::string("\x04!"), "x4z!"},
        {"\\xz4!", std::string("\x04!"), "xz4!"},
        {"\\xa1\\xFF", "\xa1\xff", "xa1xFF"},
        {"\\x41B", "AB", "x41B"},
        {"\\x4", std::string("\x04"), "x4"}, // the template ends inside \x
        {"\\x", "", "x"},
        {"ab\\", "ab", "ab"}, // the template ends after a backslash
        {"plain", "plain", "plain"},
    };
    for (const Kind &kind : kKinds) {
        Record r;
        const char line[] = "a bcd e";
        ASSERT_EQ(kind.search(line, r.p.get()), 1) << kind.name;
        for (const Case &c : cases) {
            char dest[32];
            std::memset(dest, 'Z', sizeof dest);
            r.p->errorCode = 77;
            ASSERT_EQ(kind.build(c.tmpl, dest, 31, r.p.get()), 0) << kind.name << " " << c.tmpl;
            EXPECT_EQ(r.p->errorCode, 0);
            const std::string want = std::strcmp(kind.name, "regex") == 0 ? c.regex : c.others;
            EXPECT_EQ(Bytes(dest, want.size() + 1), want + '\0') << kind.name << " " << c.tmpl;
        }
    }
}

TEST(Substitution, HexZeroEndsTheSubstitutedText)
{
    Record r;
    char line[] = "a bcd e";
    ASSERT_EQ(kKinds[0].search(line, r.p.get()), 1);
    char dest[32];
    EXPECT_EQ(RGrepSubsBuild("x\\x00y", dest, 31, r.p.get()), 0);
    EXPECT_EQ(Bytes(dest, 4), std::string("x\0y\0", 4)) << "the 0 byte stays in the destination";
    EXPECT_EQ(RGrepSubstitute(line, "x\\x00y", dest, 31, r.p.get()), 0);
    EXPECT_STREQ(dest, "a x e") << "the rest is appended at the 0";
}

TEST(Substitution, BuilderCapacity)
{
    ReportCapture capture;
    for (const Kind &kind : kKinds) {
        Record r;
        const char line[] = "a bcd e";
        ASSERT_EQ(kind.search(line, r.p.get()), 1);
        const std::string whole = "bcd";
        const int n = static_cast<int>(whole.size());
        char dest[16];

        capture.clear();
        EXPECT_EQ(kind.build("&", dest, n, r.p.get()), 0) << kind.name;
        EXPECT_EQ(dest, whole);
        EXPECT_EQ(kind.build("&", dest, n - 1, r.p.get()), 3) << kind.name;
        EXPECT_EQ(r.p->errorCode, 3);
        EXPECT_EQ(dest, whole.substr(0, n - 1)) << "written so far, terminated";
        EXPECT_EQ(kind.build("xy", dest, 1, r.p.get()), 3);
        EXPECT_STREQ(dest, "x");
        EXPECT_EQ(kind.build("\\t", dest, 0, r.p.get()), 3);
        EXPECT_STREQ(dest, "");
        ASSERT_EQ(capture.reports().size(), 3u);
        EXPECT_EQ(capture.reports()[0], (Report{"not enough space in destination string", kind.caption}));
        // Template bytes that write nothing never fail for space.
        EXPECT_EQ(kind.build("\\7\\8", dest, 0, r.p.get()), 0) << kind.name;
        EXPECT_EQ(kind.build("x", nullptr, 10, r.p.get()), 3);
        EXPECT_EQ(kind.build("x", dest, -1, r.p.get()), 3);
        EXPECT_EQ(kind.build("x", dest, 5, nullptr), 5);
        EXPECT_EQ(capture.reports().size(), 3u) << "argument refusals are silent";
    }
}

TEST(Substitution, SubstituterCapacity)
{
    // Replacing the match 'c' in "abcde" with "X".
    const struct {
        int capacity;
        int code;
        const char *dest;
    } cases[] = {
        {9, 0, "abXde"}, {5, 0, "abXde"}, {4, 3, "ab"}, {3, 3, "ab"}, {2, 3, ""}, {0, 3, ""},
    };
    ReportCapture capture;
    for (const auto &c : cases) {
        Record r;
        char line[] = "abcde";
        ASSERT_EQ(CompileRGrep("c", 1, r.p.get()), 0);
        ASSERT_EQ(RGrep(line, r.p.get()), 1);
        char dest[16];
        std::memset(dest, 'Z', sizeof dest);
        capture.clear();
        EXPECT_EQ(RGrepSubstitute(line, "X", dest, c.capacity, r.p.get()), c.code) << c.capacity;
        EXPECT_STREQ(dest, c.dest) << c.capacity;
        EXPECT_EQ(r.p->errorCode, c.code);
        EXPECT_STREQ(line, "abcde");
        EXPECT_EQ(capture.reports().size(), c.code == 0 ? 0u : 1u);
    }
}

TEST(Substitution, ApproximateAndSoundexExamples)
{
    Record r;
    char line[] = "say hallo to jello";
    AGrepInit(r.p.get());
    ASSERT_EQ(CompileAGrep("hello", 1, 1, r.p.get()), 0);
    ASSERT_EQ(AGrep(line, r.p.get()), 2);
    char dest[64];
    EXPECT_EQ(AGrepSubsBuild("<\\0|\\1>", dest, 63, r.p.get()), 0);
    EXPECT_STREQ(dest, "<hallo|jello>");
    EXPECT_EQ(AGrepSubstitute(line, "&&", dest, 63, r.p.get()), 0);
    EXPECT_STREQ(dest, "say hallohallo to jello");

    Record s;
    char names[] = "call Jon Smyth now";
    ASSERT_EQ(CompileSGrep("john smith", 0, s.p.get()), 0);
    ASSERT_EQ(SGrep(names, s.p.get()), 1);
    EXPECT_EQ(SGrepSubsBuild("\\1", dest, 63, s.p.get()), 0);
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(SGrepSubstitute(names, "[&]", dest, 63, s.p.get()), 0);
    EXPECT_STREQ(dest, "call [Jon Smyt]h now"); // the code is used up at the 't'
}

TEST(Substitution, RefusalsByKind)
{
    ReportCapture capture;
    for (const Kind &kind : kKinds) {
        Record r;
        char line[] = "a bcd e";
        char dest[16] = "junk";
        capture.clear();

        ASSERT_EQ(kind.search("xyz", r.p.get()), 0) << kind.name;
        EXPECT_EQ(kind.build("&", dest, 15, r.p.get()), 5);
        EXPECT_STREQ(dest, "");
        std::strcpy(dest, "junk");
        EXPECT_EQ(kind.substitute(line, "&", dest, 15, r.p.get()), 5);
        EXPECT_STREQ(dest, "");

        ASSERT_EQ(kind.search(line, r.p.get()), 1);
        std::strcpy(dest, "junk");
        EXPECT_EQ(kind.build("", dest, 15, r.p.get()), 6);
        EXPECT_STREQ(dest, "");
        EXPECT_EQ(kind.build(nullptr, dest, 15, r.p.get()), 6);
        EXPECT_EQ(kind.substitute(line, "", dest, 15, r.p.get()), 6);
        EXPECT_EQ(r.p->errorCode, 6);

        ASSERT_EQ(capture.reports().size(), 5u) << kind.name;
        EXPECT_EQ(capture.reports()[0], (Report{"no previous search", kind.caption}));
        EXPECT_EQ(capture.reports()[2], (Report{kind.noTemplate, kind.caption}));

        // A successful substitution clears an earlier code.
        EXPECT_EQ(kind.substitute(line, "&", dest, 15, r.p.get()), 0);
        EXPECT_EQ(r.p->errorCode, 0);
        EXPECT_STREQ(dest, line);
    }
}

TEST(Substitution, LineChangedOrForeignIsRefused)
{
    ReportCapture capture;
    Record r;
    char line[] = "a bcd e";
    ASSERT_EQ(kKinds[0].search(line, r.p.get()), 1);
    char dest[32];

    // The line was cut inside the match: the tag text hits a 0 byte.
    line[3] = '\0';
    EXPECT_EQ(RGrepSubsBuild("[&]", dest, 31, r.p.get()), 1);
    EXPECT_STREQ(dest, "[b") << "written so far";
    EXPECT_EQ(r.p->errorCode, 1);
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.reports()[0], (Report{"bad state in automaton", "Regular Expression Error"}));
    // The substituter sees that the match no longer lies in the line.
    EXPECT_EQ(RGrepSubstitute(line, "&", dest, 31, r.p.get()), 1);
    EXPECT_STREQ(dest, "");
    line[3] = 'c';

    // Another buffer with the same text: refused, nothing read through the
    // recorded positions.
    char copy[] = "a bcd e";
    EXPECT_EQ(RGrepSubstitute(copy, "&", dest, 31, r.p.get()), 1);
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(RGrepSubstitute(nullptr, "&", dest, 31, r.p.get()), 1);

    // matchEnd[0] not set.
    r.p->matchEnd[0] = nullptr;
    EXPECT_EQ(RGrepSubstitute(line, "&", dest, 31, r.p.get()), 1);
    EXPECT_EQ(capture.reports().size(), 5u);
    // A set tag whose start lies outside the line.
    ASSERT_EQ(kKinds[0].search(line, r.p.get()), 1);
    r.p->matchStart[4] = copy;
    r.p->matchEnd[4] = copy + 2;
    EXPECT_EQ(RGrepSubstitute(line, "\\4", dest, 31, r.p.get()), 1);
    r.p->matchStart[4] = line + 1;
    r.p->matchEnd[4] = line + 3;
    EXPECT_EQ(RGrepSubstitute(line, "\\4", dest, 31, r.p.get()), 0);
    EXPECT_STREQ(dest, "a  b e");
}

} // namespace
