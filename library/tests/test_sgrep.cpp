// Soundex kind: code texts, matching walk-throughs (the last code word as a
// prefix, non-letters against the code's spaces, the previous code carried
// from one start position to the next), refusals and their reports.
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

using quarn_test::Offset;
using quarn_test::Report;
using quarn_test::ReportCapture;

namespace {

TEST(CompileSGrep, CodeTexts)
{
    const struct {
        const char *pattern;
        const char *code;
    } cases[] = {
        {"Robert", "R163"},  {"Rupert", "R163"},   {"Pfister", "P236"},      {"Tymczak", "T522"},  {"Ashcraft", "A226"},
        {"Jackson", "J25"},  {"Lee", "L"},         {"john smith", "J5 S53"}, {"  x1y  ", "X Y"},   {"123", ""},
        {"ROBERT", "R163"},  {"robert", "R163"},   {"Lloyd", "L3"},          {"O'Brien", "O B65"}, {"a--b", "A B"},
        {"Bwb", "B1"}, // W separates nothing in the code: it only breaks a run
        {"Abbb", "A1"},      {"Amamamam", "A555"}, {"\xe9t\xe9", "T"}, // 233 is no letter
        {"Robert.", "R163"}, {"x", "X"},
    };
    ReportCapture capture;
    for (const auto &c : cases) {
        auto p = quarn_test::NewPattern();
        ASSERT_EQ(CompileSGrep(c.pattern, 0, p.get()), 0) << c.pattern;
        EXPECT_EQ(p->errorCode, 0);
        EXPECT_STREQ(p->body.soundex.code, c.code) << c.pattern;
        EXPECT_STREQ(p->patternText, c.pattern);
    }
    EXPECT_TRUE(capture.reports().empty());
}

TEST(CompileSGrep, FlagIsIgnored)
{
    auto a = quarn_test::NewPattern(), b = quarn_test::NewPattern();
    ASSERT_EQ(CompileSGrep("ROBERT", 0, a.get()), 0);
    ASSERT_EQ(CompileSGrep("robert", 1, b.get()), 0);
    EXPECT_STREQ(a->body.soundex.code, b->body.soundex.code);
}

struct MatchCase {
    const char *pattern;
    const char *line;
    int result;
    long start;
    long end;
};

TEST(SGrep, Matching)
{
    const MatchCase cases[] = {
        {"Robert", "Robert", 1, 0, 6},
        {"Robert", "Rupert", 1, 0, 6},
        {"Robert", "Roberts", 1, 0, 6}, // the last word is matched as a prefix
        {"Robert", "the robber", 0, -1, -1},
        {"Robert", "Ro-bert", 0, -1, -1},     // '-' meets the digit 1
        {"Robert", "  Robert", 1, 0, 8},      // leading non-letters are skipped
        {"Robert", "aRobert", 0, -1, -1},     // no word start inside a word
        {"Robert", "say: robert!", 1, 4, 11}, // starts on the space before it
        {"Rob", "Robert", 1, 0, 3},
        {"Lee", "lamp", 1, 0, 1},
        {"Lee", "x-l", 1, 2, 3},
        {"Lee", "xyz", 0, -1, -1},
        {"b", "abbbb-b", 1, 3, 4}, // carried-over separator state
        {"john smith", "Jon Smyth", 1, 0, 8},
        {"john smith", "John-Smith", 1, 0, 9},
        {"john smith", "Jane Smith", 1, 0, 9},
        {"john smith", "John Smithers", 1, 0, 9},
        {"john smith", "John xSmith", 0, -1, -1},
        {"john smith", "John  ,, Smith", 1, 0, 13}, // a run of non-letters is one space
        {"john smith", "Johnson Smith", 0, -1, -1}, // a further digit before the space
        {"Ashcraft", "Ashcroft", 1, 0, 5},          // the code is used up at the r
        {"Robert", "", 0, -1, -1},
    };
    QuarnMessages(0);
    for (const auto &c : cases) {
        auto p = quarn_test::NewPattern();
        ASSERT_EQ(CompileSGrep(c.pattern, 0, p.get()), 0);
        p->matchStart[0] = c.line; // must be cleared by a search that finds nothing
        p->matchEnd[5] = c.line;
        EXPECT_EQ(SGrep(c.line, p.get()), c.result) << c.pattern << " in '" << c.line << "'";
        EXPECT_EQ(Offset(c.line, p->matchStart[0]), c.start) << c.pattern << " in " << c.line;
        EXPECT_EQ(Offset(c.line, p->matchEnd[0]), c.end) << c.pattern << " in " << c.line;
        EXPECT_EQ(p->matchEnd[5], nullptr);
        EXPECT_EQ(p->errorCode, 0);
    }
    QuarnMessages(1);
}

TEST(SGrep, RefusalsAndReports)
{
    ReportCapture capture;
    auto p = quarn_test::NewPattern();

    EXPECT_EQ(CompileSGrep("", 0, p.get()), 6);
    EXPECT_EQ(CompileSGrep(nullptr, 0, p.get()), 6);
    EXPECT_EQ(p->errorCode, 6);
    EXPECT_EQ(SGrep("Robert", p.get()), -1);
    EXPECT_EQ(p->errorCode, -1);
    EXPECT_EQ(SGrep("Robert", p.get()), -1) << "stays refused";
    ASSERT_EQ(capture.reports().size(), 4u);
    EXPECT_EQ(capture.reports()[0], (Report{"No regular expression provided", "SGrep"}));
    EXPECT_EQ(capture.reports()[2], (Report{"previous error in CompileSGrep", "Soundex Error"}));
    EXPECT_EQ(capture.reports()[3], (Report{"previous error in CompileSGrep", "Soundex Error"}));

    ASSERT_EQ(CompileSGrep("Robert", 0, p.get()), 0);
    EXPECT_EQ(SGrep("Rupert", p.get()), 1);
    capture.clear();
    EXPECT_EQ(SGrep(nullptr, p.get()), -1);
    EXPECT_EQ(p->errorCode, -1);
    EXPECT_EQ(SGrep("Robert", p.get()), -1);
    ASSERT_EQ(capture.reports().size(), 2u);
    EXPECT_EQ(capture.reports()[0], (Report{"no string to search", "Soundex Error"}));

    // A code text without letters: every search gives 0 with a report.
    capture.clear();
    ASSERT_EQ(CompileSGrep("123", 0, p.get()), 0);
    EXPECT_EQ(SGrep("123", p.get()), 0);
    EXPECT_EQ(SGrep("abc", p.get()), 0);
    EXPECT_EQ(p->errorCode, 0);
    ASSERT_EQ(capture.reports().size(), 2u);
    EXPECT_EQ(capture.reports()[0], (Report{"no pattern", "Soundex Error"}));
    EXPECT_EQ(SGrep("abc", nullptr), -1);
    EXPECT_EQ(CompileSGrep("abc", 0, nullptr), 6);
}

TEST(CompileSGrep, LongPatternsAreRefusedWithoutOverrun)
{
    ReportCapture capture;
    auto p = quarn_test::NewPattern();
    std::string words;
    while (words.size() < 511)
        words += "ab ";
    words.resize(511);
    ASSERT_EQ(CompileSGrep(words.c_str(), 0, p.get()), 0);
    EXPECT_EQ(std::string(p->body.soundex.code).substr(0, 8), "A1 A1 A1");
    EXPECT_EQ(SGrep("ab ab", p.get()), 0);
    words += "x";
    EXPECT_EQ(CompileSGrep(words.c_str(), 0, p.get()), 4);
    EXPECT_EQ(p->errorCode, 4);
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.reports()[0], (Report{"pattern too long", "SGrep"}));
    EXPECT_EQ(SGrep("ab", p.get()), -1);
}

// The code of every letter, spelt out letter by letter rather than by group,
// so that a letter missing from (or misplaced in) the code table shows, in
// the compiler and in the matcher alike.  0: no digit (vowels, H, W, Y).
TEST(Soundex, EveryByteHasItsCode)
{
    const struct {
        char letter;
        char digit;
    } kLetters[] = {
        {'A', 0},   {'B', '1'}, {'C', '2'}, {'D', '3'}, {'E', 0},   {'F', '1'}, {'G', '2'}, {'H', 0},   {'I', 0},
        {'J', '2'}, {'K', '2'}, {'L', '4'}, {'M', '5'}, {'N', '5'}, {'O', 0},   {'P', '1'}, {'Q', '2'}, {'R', '6'},
        {'S', '2'}, {'T', '3'}, {'U', 0},   {'V', '1'}, {'W', 0},   {'X', '2'}, {'Y', 0},   {'Z', '2'},
    };
    static_assert(sizeof kLetters / sizeof *kLetters == 26, "one row per letter");
    // One pattern per digit: its code is A followed by that digit.
    const char *const kDigitPatterns[] = {"ab", "ac", "ad", "al", "am", "ar"};

    QuarnMessages(0);
    auto p = quarn_test::NewPattern();
    auto compiled = [&](const std::string &pattern) {
        EXPECT_EQ(CompileSGrep(pattern.c_str(), 0, p.get()), 0) << pattern;
        return std::string(p->body.soundex.code);
    };
    for (int row = 0; row < 26; ++row) {
        const char upper = kLetters[row].letter;
        ASSERT_EQ(upper, 'A' + row);
        const char digit = kLetters[row].digit;
        for (const char letter : {upper, static_cast<char>(upper + 32)}) {
            const std::string l(1, letter);
            // Compiler: a first letter is kept upper-cased; after a vowel its
            // digit, if it has one, is appended.
            EXPECT_EQ(compiled(l), std::string(1, upper)) << letter;
            EXPECT_EQ(compiled("a" + l), digit ? std::string("A") + digit : "A") << letter;
            // Matcher: "a" + letter reproduces the code A<d> exactly for the
            // letter's own digit ...
            for (int d = 0; d < 6; ++d) {
                compiled(kDigitPatterns[d]);
                EXPECT_EQ(SGrep(("a" + l).c_str(), p.get()), digit == '1' + d ? 1 : 0)
                    << "a" << letter << " against " << kDigitPatterns[d];
            }
            // ... and a letter without a digit breaks a run: b<letter>b gives
            // B1 only then.
            compiled("bab");
            EXPECT_EQ(SGrep(("b" + l + "b").c_str(), p.get()), digit ? 0 : 1) << letter;
        }
    }
    // Every other byte value is no letter: it separates words in the pattern
    // and in the line, and alone it codes nothing.
    int separators = 0;
    for (int c = 1; c < 256; ++c) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            continue;
        const std::string b(1, static_cast<char>(c));
        EXPECT_EQ(compiled("a" + b + "b"), "A B") << c;
        EXPECT_EQ(compiled(b + "b" + b), "B") << c;
        compiled("a b");
        EXPECT_EQ(SGrep(("a" + b + "b").c_str(), p.get()), 1) << c;
        ++separators;
    }
    EXPECT_EQ(separators, 255 - 52);
    // Letters never separate: "a<letter>b" never gives A B.
    compiled("a b");
    for (const auto &row : kLetters) {
        EXPECT_EQ(SGrep((std::string("a") + row.letter + "b").c_str(), p.get()), 0) << row.letter;
        EXPECT_EQ(SGrep((std::string("a") + static_cast<char>(row.letter + 32) + "b").c_str(), p.get()), 0)
            << row.letter;
    }
    QuarnMessages(1);
}

} // namespace
