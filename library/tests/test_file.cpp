// File search over temporary files: prefixes, block numbers, count-only,
// the skip value, text and binary reading (CR LF, 0 bytes, long lines, a
// missing final line feed), the three kinds, and calls with no open file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "test_support.h"
#include "temp_file.h"

namespace fs = std::filesystem;

using quarn_test::TempFile;

namespace {

// Every result of one search call until NULL.
std::vector<std::string> All(char *(QUARN_API *search)(void))
{
    std::vector<std::string> out;
    for (const char *r; (r = search()) != nullptr;)
        out.emplace_back(r);
    return out;
}

using Lines = std::vector<std::string>;

struct FileSearch : ::testing::Test {
    void SetUp() override { QuarnMessages(0); }
    void TearDown() override
    {
        SFileClose();
        SFileSetFlags(0, 0, 0, 0, 0, 1);
        QuarnMessages(1);
    }
};

TEST_F(FileSearch, SelectsMatchingLinesWithTheirLineFeed)
{
    TempFile f("one apple\ntwo\nthree apples\nfour");
    SFileSetFlags(0, 0, 0, 0, 0, 1);
    ASSERT_EQ(SCompileRGrep("apple", 0), 0);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileRGrep), (Lines{"one apple\n", "three apples\n"}));
    EXPECT_EQ(SFileRGrep(), nullptr) << "stays at the end";
    EXPECT_EQ(SFileClose(), 2);

    ASSERT_EQ(SCompileRGrep("f", 0), 0);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileRGrep), (Lines{"four"})) << "no final line feed";
    EXPECT_EQ(SFileClose(), 1);
}

TEST_F(FileSearch, SkipValueAndCountOnly)
{
    TempFile f("apple\npear\nplum\napple pie\n");
    ASSERT_EQ(SCompileRGrep("apple", 1), 0);
    SFileSetFlags(0, 0, 1, 0, 1, 1);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileRGrep), (Lines{"2:pear\n", "3:plum\n"})) << "lines that do not match";
    EXPECT_EQ(SFileClose(), 2);

    SFileSetFlags(1, 1, 1, 1, 0, 1);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(SFileRGrep(), nullptr) << "count only: the whole file in one call";
    EXPECT_EQ(SFileClose(), 2);

    ASSERT_EQ(SCompileRGrep("zebra", 1), 0);
    SFileSetFlags(0, 0, 0, 0, 0, 1);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(SFileRGrep(), nullptr);
    EXPECT_EQ(SFileClose(), 0);

    // A refused pattern (-1) selects every line with the skip value 0.
    ASSERT_EQ(SCompileRGrep("[", 1), 25);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileRGrep).size(), 4u);
    EXPECT_EQ(SFileClose(), 4);
}

TEST_F(FileSearch, PrefixesAndBlockNumbers)
{
    // Eleven lines of 692 bytes in all, then "red fox\n" whose
    // line feed is the file's 700th byte.
    std::string text;
    for (int i = 0; i < 11; ++i)
        text += std::string(i < 10 ? 62 : 61, 'x') + "\n";
    ASSERT_EQ(text.size(), 692u);
    text += "red fox\n";
    ASSERT_EQ(text.size(), 700u);
    TempFile f(text);
    ASSERT_EQ(SCompileRGrep("fox", 1), 0);
    SFileSetFlags(1, 1, 1, 0, 0, 1);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    const char *r = SFileRGrep();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), f.name() + ":1:12:red fox\n");
    EXPECT_EQ(SFileClose(), 1);

    // A line ending in the first block, one whose line feed is byte 512
    // (offset 511) and one whose line feed is byte 513 (offset 512).
    std::string blocks = "a\n" + std::string(508, '-') + "b\n" + "c\n";
    ASSERT_EQ(blocks.size(), 514u);
    TempFile g(blocks);
    ASSERT_EQ(SCompileRGrep("[abc]", 1), 0);
    SFileSetFlags(0, 1, 0, 0, 0, 1);
    ASSERT_EQ(SFileOpen(g.name().c_str()), 1);
    EXPECT_EQ(All(SFileRGrep), (Lines{"0:a\n", "0:" + std::string(508, '-') + "b\n", "1:c\n"}));
    SFileClose();
}

TEST_F(FileSearch, BinaryReadingEndsLinesAtZeroBytes)
{
    TempFile f(std::string("ab\0cd\n", 6));
    ASSERT_EQ(SCompileRGrep(".", 1), 0);
    SFileSetFlags(0, 0, 1, 0, 0, 0);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileRGrep), (Lines{"1:ab", "2:cd\n"}));
    EXPECT_EQ(SFileClose(), 2);

    // The line reader keeps the 0 byte inside the line: the matcher sees
    // "ab" only.
    SFileSetFlags(0, 0, 1, 0, 0, 1);
    ASSERT_EQ(SCompileRGrep("d", 1), 0);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileTextRGrep), Lines{});
    EXPECT_EQ(SFileClose(), 0);
}

TEST_F(FileSearch, LongLinesAreSplit)
{
    TempFile f(std::string(1999, 'y') + "\nz\n");
    ASSERT_EQ(SCompileRGrep("y", 1), 0);
    for (int textMode : {1, 0}) {
        SFileSetFlags(0, 0, 0, 0, 0, textMode);
        ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
        EXPECT_EQ(All(SFileRGrep), (Lines{std::string(1023, 'y'), std::string(976, 'y') + "\n"})) << textMode;
        EXPECT_EQ(SFileClose(), 2);
    }
    // The line count counts both pieces; with a prefix the piece is cut so
    // that the whole result has 1023 characters.
    SFileSetFlags(0, 0, 1, 0, 0, 1);
    ASSERT_EQ(SCompileRGrep("z", 1), 0);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileRGrep), (Lines{"3:z\n"}));
    SFileClose();
    ASSERT_EQ(SCompileRGrep("y", 1), 0);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    const char *r = SFileRGrep();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(std::string(r), "1:" + std::string(1021, 'y'));
    SFileClose();
}

TEST_F(FileSearch, CarriageReturnsByMode)
{
    TempFile f("a1\r\nb2\r\nc\rd\r\n\r\n");
    ASSERT_EQ(SCompileRGrep(".", 1), 0); // '.' also matches a line feed or CR
    const Lines translated{"a1\n", "b2\n", "c\rd\n", "\n"};
    const Lines raw{"a1\r\n", "b2\r\n", "c\rd\r\n", "\r\n"};
    const struct {
        int textMode;
        char *(QUARN_API *search)(void);
        const Lines &lines;
    } cases[] = {
        {1, SFileRGrep, translated}, // CR LF read as LF, a lone CR stays
        {1, SFileTextRGrep, translated},
        {1, SFileBinaryRGrep, raw},
        {0, SFileRGrep, raw},
        {0, SFileTextRGrep, raw}, // opened binary: the line reader translates nothing
        {2, SFileRGrep, raw},     // likewise for a text flag other than 1
    };
    for (const auto &c : cases) {
        SFileSetFlags(0, 0, 0, 0, 0, c.textMode);
        ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
        EXPECT_EQ(All(c.search), c.lines) << c.textMode;
        EXPECT_EQ(SFileClose(), 4);
    }

    // Block numbers count raw bytes, CR included, in text mode too: the
    // line feed after "ab" is at offset 511, then at offset 512.
    ASSERT_EQ(SCompileRGrep("ab", 1), 0);
    for (int dashes : {506, 507}) {
        TempFile g(std::string(dashes, '-') + "\r\nab\r\n");
        for (int textMode : {1, 0}) {
            SFileSetFlags(0, 1, 0, 0, 0, textMode);
            ASSERT_EQ(SFileOpen(g.name().c_str()), 1);
            const char *r = SFileRGrep();
            ASSERT_NE(r, nullptr);
            EXPECT_EQ(std::string(r), std::to_string(dashes - 506) + (textMode ? ":ab\n" : ":ab\r\n"));
            SFileClose();
        }
    }
}

TEST_F(FileSearch, SoundexAndApproximateKinds)
{
    TempFile f("Dear Rupert,\nsee you\nRobert and Roberta\nbest, hallo\n");
    ASSERT_EQ(SCompileSGrep("Robert", 0), 0);
    SFileSetFlags(0, 0, 1, 0, 0, 1);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileSGrep), (Lines{"1:Dear Rupert,\n", "3:Robert and Roberta\n"}));
    EXPECT_EQ(SFileClose(), 2);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileBinarySGrep).size(), 2u);
    EXPECT_EQ(SFileClose(), 2);

    // SFileSetFlags re-prepares the held approximate record: compile after.
    SFileSetFlags(0, 0, 1, 0, 0, 1);
    ASSERT_EQ(SCompileAGrep("hello", 1, 0), 0);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileAGrep), (Lines{"4:best, hallo\n"}));
    EXPECT_EQ(SFileClose(), 1);
    // SFileClose released it: without a new compile every line is refused
    // (-1), which the skip value 0 selects.
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileTextAGrep).size(), 4u);
    EXPECT_EQ(SFileClose(), 4);
    SFileSetFlags(0, 0, 0, 0, -1, 1); // skip the refusals instead
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileBinaryAGrep).size(), 0u);
    EXPECT_EQ(SFileClose(), 0);
}

TEST_F(FileSearch, CallsWithoutAnOpenFile)
{
    ASSERT_EQ(SCompileRGrep("a", 1), 0);
    EXPECT_EQ(SFileRGrep(), nullptr);
    EXPECT_EQ(SFileTextSGrep(), nullptr);
    EXPECT_EQ(SFileBinaryAGrep(), nullptr);
    EXPECT_EQ(SFileClose(), 0);
    EXPECT_EQ(SFileOpen("/nonexistent/quarn/file.txt"), 0);
    EXPECT_EQ(SFileOpen(nullptr), 0);
    EXPECT_EQ(SFileRGrep(), nullptr);
    EXPECT_EQ(SFileClose(), 0);

    // Opening again without closing: the first stream is closed, the counts
    // start over.
    TempFile f("a\na\n");
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    ASSERT_NE(SFileRGrep(), nullptr);
    ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
    EXPECT_EQ(All(SFileRGrep).size(), 2u);
    EXPECT_EQ(SFileClose(), 2);
    EXPECT_EQ(SFileClose(), 0);
}

TEST_F(FileSearch, ResultNeverExceedsItsBuffer)
{
    // A path of more than 1023 characters: the prefixes alone fill the
    // result, which is cut at 1023.
#ifdef _WIN32
    GTEST_SKIP() << "the ANSI file functions open no path longer than MAX_PATH";
#endif
    fs::path dir = fs::temp_directory_path() / ("quarn_long_" + std::to_string(getpid()));
    fs::path deep = dir;
    for (int i = 0; i < 5; ++i)
        deep /= std::string(240, static_cast<char>('a' + i));
    fs::create_directories(deep);
    {
        TempFile f("needle\n", deep);
        ASSERT_GT(f.name().size(), 1100u);
        ASSERT_EQ(SCompileRGrep("needle", 1), 0);
        SFileSetFlags(1, 1, 1, 0, 0, 1);
        ASSERT_EQ(SFileOpen(f.name().c_str()), 1);
        const char *r = SFileRGrep();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(std::string(r), f.name().substr(0, 1023));
        EXPECT_EQ(SFileClose(), 1);
    }
    fs::remove_all(dir);
}

} // namespace
