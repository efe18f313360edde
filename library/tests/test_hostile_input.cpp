// Input far beyond ordinary sizes: a text file with a 10 MB line, and patterns at and past the longest the record
// holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "quarn32.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace quarn_test;

namespace {

class LongLineFile : public ::testing::Test {
protected:
    static constexpr size_t kLineLength = 10 * 1000 * 1000;
    fs::path path_;

    void SetUp() override
    {
        QuarnMessages(0);
        path_ = fs::temp_directory_path() /
            ("quarn-long-line-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".txt");
        std::ofstream out(path_, std::ios::binary);
        // 10 MB of 'a' with "Needle" at its end, then a short line.
        std::string chunk(1 << 20, 'a');
        size_t left = kLineLength;
        while (left > 0) {
            const size_t n = std::min(left, chunk.size());
            out.write(chunk.data(), static_cast<std::streamsize>(n));
            left -= n;
        }
        out << "Needle\nshort Needle\n";
    }
    void TearDown() override
    {
        SFileClose();
        fs::remove(path_);
        SFileSetFlags(0, 0, 0, 0, 0, 1);
        QuarnMessages(1);
    }
    std::vector<std::string> Collect(char *(QUARN_API *search)(void))
    {
        std::vector<std::string> lines;
        EXPECT_EQ(SFileOpen(path_.string().c_str()), 1);
        while (const char *line = search()) {
            EXPECT_LE(std::string(line).size(), 1023u);
            lines.emplace_back(line);
        }
        return lines;
    }
};

} // namespace

// The line comes in pieces of 1023 bytes, each counted as a line; the
// piece that holds the word is found by the regular-expression and the
// approximate kinds.  (Soundex is left out: inside one long word it tries
// every start to the word's end, quadratic in the 1023-byte piece.)
TEST_F(LongLineFile, EveryKindFindsTheWordInItsPiece)
{
    const size_t pieces = kLineLength / 1023; // full pieces of 'a'
    const size_t tail = kLineLength % 1023;   // 'a's before "Needle" in the last piece
    const std::string lastPiece = std::to_string(pieces + 1) + ":" + std::string(tail, 'a') + "Needle\n";
    const std::string shortLine = std::to_string(pieces + 2) + ":short Needle\n";

    SFileSetFlags(0, 0, 1, 0, 0, 1);
    ASSERT_EQ(SCompileRGrep("Needle", 1), 0);
    EXPECT_EQ(Collect(SFileRGrep), (std::vector<std::string>{lastPiece, shortLine}));
    EXPECT_EQ(SFileClose(), 2);

    SFileSetFlags(0, 0, 1, 0, 0, 0);
    ASSERT_EQ(SCompileAGrep("Neadle", 1, 1), 0);
    EXPECT_EQ(Collect(SFileAGrep), (std::vector<std::string>{lastPiece, shortLine}));
    EXPECT_EQ(SFileClose(), 2);

    // Count only: nothing handed out, every piece counted by the skip value.
    SFileSetFlags(0, 0, 0, 1, 1, 1);
    ASSERT_EQ(SCompileRGrep("Needle", 1), 0);
    EXPECT_TRUE(Collect(SFileRGrep).empty());
    EXPECT_EQ(SFileClose(), static_cast<int32_t>(pieces));
}

// Patterns at the longest length the record holds compile; one byte more is
// refused with "pattern too long", and nothing is written past the record.
TEST(HostilePatterns, LongestPatternsAndOneByteMore)
{
    QuarnMessages(0);
    const std::string longest(QUARN_PATTERN_TEXT_SIZE - 1, 'a');
    const std::string tooLong(QUARN_PATTERN_TEXT_SIZE, 'a');
    const std::string line = std::string(600, 'a');
    struct Case {
        const char *kind;
        int32_t (*compile)(const std::string &, QuarnPattern *);
        int32_t (*match)(const std::string &, QuarnPattern *);
    };
    const Case cases[] = {
        {"regular expression", [](const std::string &s, QuarnPattern *p) { return CompileRGrep(s.c_str(), 1, p); },
         [](const std::string &s, QuarnPattern *p) { return RGrep(s.c_str(), p); }},
        {"Soundex", [](const std::string &s, QuarnPattern *p) { return CompileSGrep(s.c_str(), 0, p); },
         [](const std::string &s, QuarnPattern *p) { return SGrep(s.c_str(), p); }},
        {"approximate",
         [](const std::string &s, QuarnPattern *p) {
             AGrepEmpty(p);
             AGrepInit(p);
             return CompileAGrep(s.c_str(), 0, 1, p);
         },
         [](const std::string &s, QuarnPattern *p) { return AGrep(s.c_str(), p); }},
    };
    for (const Case &c : cases) {
        std::vector<unsigned char> guarded(sizeof(QuarnPattern) + 64, 0xA5);
        auto *p = new (guarded.data()) QuarnPattern{};
        if (std::string(c.kind) == "approximate")
            AGrepInit(p);
        EXPECT_EQ(c.compile(longest, p), 0) << c.kind;
        EXPECT_GE(c.match(line, p), 1) << c.kind;
        EXPECT_EQ(c.compile(tooLong, p), 4) << c.kind;
        EXPECT_EQ(c.match(line, p), -1) << c.kind;
        if (std::string(c.kind) == "approximate")
            AGrepEmpty(p);
        for (size_t i = sizeof(QuarnPattern); i < guarded.size(); ++i)
            ASSERT_EQ(guarded[i], 0xA5) << c.kind << ": byte " << i << " past the record";
    }
    QuarnMessages(1);
}

#if !defined(_WIN32)
#include <sys/mman.h>
#include <unistd.h>

// The vector scans read whole blocks around a text.  A text that ends at the
// last byte of a page followed by an unmapped page must be searched without
// touching that page, and with the same result as anywhere else.
TEST(HostileTexts, TextsEndingAtAnUnmappedPageAreSearchedInPlace)
{
    const long page = sysconf(_SC_PAGESIZE);
    void *area =
        mmap(nullptr, static_cast<size_t>(2 * page), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(area, MAP_FAILED);
    ASSERT_EQ(mprotect(static_cast<char *>(area) + page, static_cast<size_t>(page), PROT_NONE), 0);
    char *pageEnd = static_cast<char *>(area) + page;

    // A literal, run plans of each shape, and programs for the general walk.
    const char *const patterns[] = {"readme",     "ReadMe",       "e",    "\\.zip$",     "^W.n",         "a[^xyz]c",
                                    "[0-9]+",     "foo|bar|toto", ".zip", "[a-c]x[0-9]", "\\<[Aa].*\\>", "x*y",
                                    "\\(a\\)b\\1"};
    auto p = NewPattern();
    const std::string source = "Where readme.zip a-c foo 42 WindowsNT abc toto Win readMe9 aac x1 axc";
    int matched = 0;
    for (const char *pattern : patterns) {
        for (int caseFlag = 0; caseFlag < 2; ++caseFlag) {
            ASSERT_EQ(CompileRGrep(pattern, caseFlag, p.get()), 0) << pattern;
            for (size_t from = 0; from <= source.size(); ++from) {
                const std::string text = source.substr(from);
                char *placed = pageEnd - text.size() - 1;
                std::memcpy(placed, text.c_str(), text.size() + 1);
                const int inPlace = RGrep(placed, p.get());
                const long start = inPlace == 1 ? p->matchStart[0] - placed : -1;
                const long end = inPlace == 1 ? p->matchEnd[0] - placed : -1;
                ASSERT_EQ(RGrep(text.c_str(), p.get()), inPlace) << pattern << " on " << text;
                ASSERT_EQ(inPlace == 1 ? p->matchStart[0] - text.c_str() : -1, start) << pattern << " on " << text;
                ASSERT_EQ(inPlace == 1 ? p->matchEnd[0] - text.c_str() : -1, end) << pattern << " on " << text;
                matched += inPlace;
            }
        }
    }
    EXPECT_GT(matched, 500);
    munmap(area, static_cast<size_t>(2 * page));
}
#endif
