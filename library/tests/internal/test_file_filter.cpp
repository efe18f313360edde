// The file search with its block filter against the plain line-by-line
// search: random files x random patterns x settings must give the same
// results, byte for byte, and the same counts.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "line_filter.h"
#include "quarn32.h"
#include "../temp_file.h"

namespace fs = std::filesystem;

using quarn_test::TempFile;

namespace {

struct Settings {
    int nameFlag, blockFlag, lineNumberFlag, countOnly, skipValue, textMode;
    int entry;   // 0 SFileRGrep, 1 SFileTextRGrep, 2 SFileBinaryRGrep
    int options; // line separators of the options word
};

struct Outcome {
    std::vector<std::string> results;
    int32_t selected = -1;
    bool operator==(const Outcome &o) const { return results == o.results && selected == o.selected; }
};

Outcome SearchFile(const std::string &path, const std::string &pattern, int caseFlag, const Settings &s, bool filter)
{
    quarn::SetFileLineFilter(filter);
    QuarnOptions(s.options);
    SFileSetFlags(s.nameFlag, s.blockFlag, s.lineNumberFlag, s.countOnly, s.skipValue, s.textMode);
    SCompileRGrep(pattern.c_str(), caseFlag);
    Outcome out;
    if (SFileOpen(path.c_str()) == 0)
        return out;
    char *(QUARN_API *const entries[])(void) = {SFileRGrep, SFileTextRGrep, SFileBinaryRGrep};
    for (const char *r; (r = entries[s.entry]()) != nullptr;)
        out.results.emplace_back(r);
    out.selected = SFileClose();
    quarn::SetFileLineFilter(true);
    return out;
}

// Lines of every shape the readers treat specially, in a file that may
// span several read blocks.
std::string RandomFile(std::mt19937 &rng, size_t approxSize)
{
    static const char filler[] = "qwvjhp gsmu,";
    static const char pieces[][8] = {"foo",  "bar", "toto",  "readme", "7x",  "12x",  "ab",   "kx", "a\r",
                                     "\r",   "A",   "K",     "0",      "\t",  ".",    "zip",  "b",  "x",
                                     "\xe9", "y",   "ababk", "abak",   "x1y", "x12y", "abbx", "aax"};
    std::string out;
    const int fileDensity = static_cast<int>(rng() % 40) + 2; // one piece in so many bytes
    while (out.size() < approxSize) {
        // Half the lines hold none of the pieces: those are the ones the
        // filter passes over.
        const int density = rng() % 2 == 0 ? fileDensity : 1 << 30;
        const int shape = static_cast<int>(rng() % 100);
        int length;
        if (shape < 70)
            length = static_cast<int>(rng() % 24);
        else if (shape < 85)
            length = static_cast<int>(rng() % 300);
        else if (shape < 95)
            length = 1019 + static_cast<int>(rng() % 8); // around the longest whole line
        else
            length = 1030 + static_cast<int>(rng() % 2200);
        std::string line;
        while (static_cast<int>(line.size()) < length) {
            if (static_cast<int>(rng() % static_cast<unsigned>(density)) == 0)
                line += pieces[rng() % (sizeof pieces / sizeof *pieces)];
            else if (rng() % 200 == 0)
                line += '\0';
            else
                line += filler[rng() % (sizeof filler - 1)];
        }
        line.resize(static_cast<size_t>(length));
        const int end = static_cast<int>(rng() % 20);
        if (end < 14)
            line += '\n';
        else if (end < 17)
            line += "\r\n";
        else if (end < 18)
            line += '\0';
        else if (end < 19)
            line += "\r\r\n";
        // else: runs on into the next line
        out += line;
    }
    if (rng() % 2 == 0 && !out.empty() && out.back() == '\n')
        out.pop_back(); // no final line feed
    return out;
}

std::string RandomPattern(std::mt19937 &rng)
{
    static const char *const fixed[] = {"readme",   "foo|bar|toto",  "[0-9]+x",     "\\.zip$",      "x[0-9]*y",
                                        "a\\n",     "a\\r",          "a[\\n]",      "a.",           "^b",
                                        "b$",       "\\x",           "k\\x0d",      "kx|q",         "[^a-z]x",
                                        "\\<ab\\>", "\\(a\\)b\\1",   "a$",          "ab*",          "z.p",
                                        "\\x0a",    "\\x0d\\x0a",    "y",           "\\(ab\\)\\1k", "a[0-9]*y",
                                        "ab*x",     "a\\(b\\)\\1-x", "\\(a\\)b\\1k"};
    static const char *const pieces[] = {"a", "b", "k", "x", "0", "A", "y",   ".",   "[0-9]", "[^ab]", "\\n", "\\x0d",
                                         "^", "$", "*", "+", "-", "|", "\\(", "\\)", "\\1",   "\\<",   "\\>", "zip"};
    if (rng() % 3 == 0)
        return fixed[rng() % (sizeof fixed / sizeof *fixed)];
    std::string p;
    for (int n = 1 + static_cast<int>(rng() % 6); n > 0; --n)
        p += pieces[rng() % (sizeof pieces / sizeof *pieces)];
    return p;
}

Settings RandomSettings(std::mt19937 &rng)
{
    static const int skipValues[] = {0, 0, 0, 0, 0, 1, -1};
    static const int textModes[] = {1, 1, 0, 2};
    Settings s{};
    s.nameFlag = static_cast<int>(rng() % 2);
    s.blockFlag = static_cast<int>(rng() % 2);
    s.lineNumberFlag = static_cast<int>(rng() % 2);
    s.countOnly = rng() % 4 == 0 ? 1 : 0;
    s.skipValue = skipValues[rng() % 7];
    s.textMode = textModes[rng() % 4];
    s.entry = static_cast<int>(rng() % 3);
    s.options = static_cast<int>(rng() % 4);
    return s;
}

TEST(FileSearchFilter, SameResultsWithAndWithoutTheFilter)
{
    std::mt19937 rng(2024);
    QuarnMessages(0);
    long compared = 0, selectedLines = 0;
    for (int fileRound = 0; fileRound < 36; ++fileRound) {
        // Mostly small files; some past one and two read blocks.
        const size_t size = fileRound % 6 == 0 ? 70000 + rng() % 90000 : rng() % 9000;
        const TempFile file(RandomFile(rng, size));
        for (int patternRound = 0; patternRound < 14; ++patternRound) {
            const std::string pattern = RandomPattern(rng);
            const int caseFlag = static_cast<int>(rng() % 2);
            for (int settingsRound = 0; settingsRound < 3; ++settingsRound) {
                const Settings s = RandomSettings(rng);
                const Outcome plain = SearchFile(file.name(), pattern, caseFlag, s, false);
                const Outcome filtered = SearchFile(file.name(), pattern, caseFlag, s, true);
                ASSERT_EQ(plain.selected, filtered.selected)
                    << "pattern '" << pattern << "' case " << caseFlag << " text mode " << s.textMode << " entry "
                    << s.entry << " skip " << s.skipValue << " file round " << fileRound;
                ASSERT_TRUE(plain == filtered) << "pattern '" << pattern << "' case " << caseFlag << " text mode "
                                               << s.textMode << " entry " << s.entry << " file round " << fileRound;
                ++compared;
                selectedLines += plain.selected;
            }
        }
    }
    QuarnOptions(8);
    QuarnMessages(1);
    SFileSetFlags(0, 0, 0, 0, 0, 1);
    EXPECT_EQ(compared, 36 * 14 * 3);
    EXPECT_GT(selectedLines, 1000); // the patterns do select lines
}

// A pattern compiled again, or settings changed, between two search calls
// of one file take effect from the next line on, as without the filter.
TEST(FileSearchFilter, ChangesBetweenSearchCalls)
{
    std::mt19937 rng(99);
    QuarnMessages(0);
    for (int round = 0; round < 40; ++round) {
        const TempFile file(RandomFile(rng, 20000 + rng() % 120000));
        const std::string patterns[] = {RandomPattern(rng), RandomPattern(rng), RandomPattern(rng)};
        const unsigned seed = static_cast<unsigned>(rng());
        std::vector<std::string> outcome[2];
        for (int filter = 0; filter < 2; ++filter) {
            quarn::SetFileLineFilter(filter == 1);
            std::mt19937 steps(seed);
            SFileSetFlags(0, 1, 1, 0, 0, 1);
            SCompileRGrep(patterns[0].c_str(), 1);
            ASSERT_NE(SFileOpen(file.name().c_str()), 0);
            for (int call = 0; call < 400; ++call) {
                const char *r = SFileRGrep();
                if (r == nullptr)
                    break;
                outcome[filter].emplace_back(r);
                switch (steps() % 8) {
                case 0:
                    SCompileRGrep(patterns[steps() % 3].c_str(), static_cast<int32_t>(steps() % 2));
                    break;
                case 1: // the skip value, and with it which lines are selected
                    SFileSetFlags(0, 1, 1, 0, static_cast<int32_t>(steps() % 2), 1);
                    break;
                case 2:
                    QuarnOptions(static_cast<int32_t>(steps() % 4));
                    break;
                default:
                    break;
                }
            }
            outcome[filter].push_back("selected " + std::to_string(SFileClose()));
            QuarnOptions(0);
        }
        quarn::SetFileLineFilter(true);
        ASSERT_EQ(outcome[0], outcome[1])
            << "round " << round << " patterns '" << patterns[0] << "' '" << patterns[1] << "' '" << patterns[2] << "'";
    }
    QuarnOptions(8);
    QuarnMessages(1);
    SFileSetFlags(0, 0, 0, 0, 0, 1);
}

// Lines of exactly the lengths around the longest whole line, with the
// match at either end, in every reader.
TEST(FileSearchFilter, LinesAroundTheLongestWholeLine)
{
    QuarnMessages(0);
    for (int length = 1020; length <= 1026; ++length)
        for (const char *end : {"\n", "\r\n", ""})
            for (int at : {0, 1, length - 4, length - 3}) {
                std::string line(static_cast<size_t>(length), 'q');
                line.replace(static_cast<size_t>(at), 3, "zip");
                std::string bytes = "qq\nzip\n" + line + end + "q\nzip\r\nqq\n" + line + end;
                const TempFile file(bytes);
                for (int textMode : {0, 1, 2}) {
                    const Settings s{0, 1, 1, 0, 0, textMode, 0, 0};
                    const Outcome plain = SearchFile(file.name(), "zip", 1, s, false);
                    const Outcome filtered = SearchFile(file.name(), "zip", 1, s, true);
                    ASSERT_TRUE(plain == filtered) << "length " << length << " at " << at << " mode " << textMode;
                    EXPECT_GE(plain.selected, 2);
                }
            }
    QuarnMessages(1);
    SFileSetFlags(0, 0, 0, 0, 0, 1);
}

} // namespace
