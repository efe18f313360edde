// CompileRGrep/RGrep against the plain model of reference_matcher.cpp: compile
// codes, match or no match, the match's start and end, and where every tag
// was last started and ended, on every small pattern over a few constructs
// and on seeded random patterns with tags, back references, anchors, word
// boundaries and line separators.  All sizes are bounded so that the whole
// file runs in seconds under the sanitizers.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "reference_matcher.h"
#include "test_support.h"

using quarn_test::Offset;

namespace {

std::string Show(const std::string &s)
{
    std::ostringstream o;
    o << '"';
    for (unsigned char c : s) {
        if (c == '\n')
            o << "\\n";
        else if (c == '\r')
            o << "\\r";
        else if (c < 32 || c >= 127)
            o << "\\x" << std::hex << static_cast<int>(c) << std::dec;
        else
            o << c;
    }
    return o.str() + '"';
}

struct Tally {
    long patterns = 0;      // patterns both sides compiled
    long refused = 0;       // patterns both sides refused with the same code
    long searches = 0;      // searches compared
    long matches = 0;       // ... of which matched
    long taggedMatches = 0; // ... with at least one tag passed
    long backRefMatches = 0;
    long abandoned = 0;  // searches the model gave up on (too many steps)
    long codes[64] = {}; // refusals by compile code
};

// One compiled pattern on both sides, searched over texts that all live in
// the same buffer, so that tag ends kept from an earlier search point into
// the current one's memory.
class Pair {
public:
    // Failure reports stay off while a pair lives (the options word holds
    // only the separators of the search at hand); the initial options word
    // is restored afterwards.
    Pair() : record_(quarn_test::NewPattern()), buffer_(256, '\0') { QuarnOptions(0); }
    ~Pair() { QuarnOptions(QUARN_OPT_MESSAGES); }
    Pair(const Pair &) = delete;
    Pair &operator=(const Pair &) = delete;

    // Compiles on both sides; returns whether the codes agree (a mismatch is
    // recorded as a test failure).  `usable` tells whether searching makes
    // sense (both compiled, and the program is far from the size limit).
    bool Compile(const std::string &pattern, int caseFlag, bool &usable, Tally &tally)
    {
        pattern_ = pattern;
        caseFlag_ = caseFlag;
        const int engine = CompileRGrep(pattern.c_str(), caseFlag, record_.get());
        const int model = model_.Compile(pattern, caseFlag);
        usable = false;
        if (model_.ProgramSize() > 900)
            return true; // near the program limit the library refuses by size
        EXPECT_EQ(engine, model) << "compile " << Show(pattern) << " case " << caseFlag;
        if (engine != model)
            return false;
        if (engine != 0) {
            ++tally.refused;
            ++tally.codes[engine & 63];
            return true;
        }
        ++tally.patterns;
        usable = true;
        return true;
    }

    // Searches `text` on both sides with the options word and word set;
    // returns whether everything agreed.
    bool Search(const std::string &text, int options, const refmatch::WordSet &words, Tally &tally)
    {
        const refmatch::Outcome want = model_.Search(text, options, words, 300000);
        if (want.abandoned) {
            ++tally.abandoned;
            return true;
        }
        std::memcpy(buffer_.data(), text.c_str(), text.size() + 1);
        const char *base = buffer_.data();
        const char *endsBefore[QUARN_MAX_TAGS];
        for (int n = 0; n < QUARN_MAX_TAGS; ++n)
            endsBefore[n] = record_->matchEnd[n];
        QuarnOptions(options);
        const int got = RGrep(base, record_.get());
        QuarnOptions(0);
        ++tally.searches;

        std::ostringstream where;
        where << Show(pattern_) << " case " << caseFlag_ << " options " << options << " on " << Show(text);
        bool ok = true;
        auto check = [&](long engine, long model, const char *what, int n) {
            if (engine != model) {
                ADD_FAILURE() << where.str() << ": " << what << ' ' << n << " engine " << engine << " model " << model;
                ok = false;
            }
        };
        check(got, want.result, "result", 0);
        check(Offset(base, record_->matchStart[0]), want.start, "match start", 0);
        check(Offset(base, record_->matchEnd[0]), want.end, "match end", 0);
        bool tagged = false;
        for (int n = 1; n < QUARN_MAX_TAGS; ++n) {
            check(Offset(base, record_->matchStart[n]), want.tagStartSet[n] ? want.tagStart[n] : -1, "tag start", n);
            if (want.tagEndSet[n]) {
                check(Offset(base, record_->matchEnd[n]), want.tagEnd[n], "tag end", n);
            } else if (record_->matchEnd[n] != endsBefore[n]) {
                ADD_FAILURE() << where.str() << ": tag end " << n << " changed though the tag was never ended";
                ok = false;
            }
            tagged = tagged || want.tagStartSet[n];
        }
        if (want.result == 1) {
            ++tally.matches;
            tally.taggedMatches += tagged;
            tally.backRefMatches += model_.HasBackReference();
        }
        return ok;
    }

private:
    std::unique_ptr<QuarnPattern> record_;
    refmatch::Regex model_;
    std::string buffer_;
    std::string pattern_;
    int caseFlag_ = 0;
};

// Every text of length 0..maxLength over `alphabet`.
std::vector<std::string> AllTexts(const std::string &alphabet, size_t maxLength)
{
    std::vector<std::string> texts{""};
    for (size_t from = 0; from < texts.size(); ++from) {
        if (texts[from].size() == maxLength)
            continue;
        for (char c : alphabet)
            texts.push_back(texts[from] + c);
    }
    return texts;
}

std::string RandomText(std::mt19937 &rng, const std::string &alphabet, size_t maxLength)
{
    std::string text;
    for (size_t i = 0, n = rng() % (maxLength + 1); i < n; ++i)
        text += alphabet[rng() % alphabet.size()];
    return text;
}

template <size_t N> const char *Pick(std::mt19937 &rng, const char *const (&choices)[N])
{
    return choices[rng() % N];
}

// A pattern of one to three alternatives built from the dialect's pieces:
// characters, classes and `.` with or without a repeater, tag groups (nested
// up to two deep), back references to tags before them, anchors and word
// boundaries.  Mostly valid, with an occasional construct the compiler must
// refuse.
class PatternMaker {
public:
    PatternMaker(std::mt19937 &rng, int maxRepeaters) : rng_(rng), maxRepeaters_(maxRepeaters) {}

    std::string Make()
    {
        nextTag_ = 1;
        repeaters_ = 0;
        std::string pattern;
        // Now and then up to eleven alternatives, past the limit of ten.
        const unsigned roll = rng_() % 100;
        const int alternatives = roll < 70 ? 1
            : roll < 97                    ? 2 + static_cast<int>(rng_() % 2)
                                           : 8 + static_cast<int>(rng_() % 4);
        for (int a = 0; a < alternatives; ++a) {
            if (a > 0)
                pattern += '|';
            if (rng_() % 8 == 0)
                pattern += '^';
            pattern += Sequence(0, 1 + static_cast<int>(rng_() % 4));
        }
        if (rng_() % 8 == 0)
            pattern += '$';
        return pattern;
    }

private:
    std::string Sequence(int depth, int items)
    {
        std::string s;
        for (int i = 0; i < items; ++i)
            s += Item(depth);
        return s;
    }

    std::string Item(int depth)
    {
        // '@' and '`' (like '[' and '{') differ only in the bit that tells
        // the two forms of an ASCII letter apart; 0xE9 is no ASCII letter.
        static const char *const atoms[] = {"a", "b",   "A",   ".",    "[ab]",  "[^b]", "[a-c]", "-",
                                            "@", "\\[", "\\n", "\xe9", "\\x41", "[-a]", "[^\\n]"};
        static const char *const repeaters[] = {"*", "+", "-"};
        const unsigned roll = rng_() % 100;
        // A tenth group, past the limit of nine, now and then.
        if (roll < 18 && depth < 2 && nextTag_ <= 10) {
            ++nextTag_;
            return "\\(" + Sequence(depth + 1, 1 + static_cast<int>(rng_() % 3)) + "\\)";
        }
        if (roll < 28 && nextTag_ > 1) {
            // Any tag opened so far: a closed one, an open outer one (accepted)
            // or the innermost open one (refused).
            const int tag = 1 + static_cast<int>(rng_() % static_cast<unsigned>(nextTag_ - 1));
            return "\\" + std::to_string(tag);
        }
        if (roll < 33)
            return rng_() % 2 ? "\\<" : "\\>";
        std::string atom = Pick(rng_, atoms);
        if (atom == "-")
            atom = "\\-"; // the character, not the repeater
        // Few repeaters keep the backtracking with references small.
        if (repeaters_ < maxRepeaters_ && rng_() % 100 < 40) {
            ++repeaters_;
            atom += Pick(rng_, repeaters);
        }
        return atom;
    }

    std::mt19937 &rng_;
    const int maxRepeaters_;
    int nextTag_ = 1;
    int repeaters_ = 0;
};

TEST(RGrepReference, EverySmallPatternOnEveryShortText)
{
    // Every pattern of up to three of these pieces, good or bad, on every
    // text of up to three bytes.
    static const char *const pieces[] = {"a", "B",    ".",    "*",   "+",   "-",   "|",   "^",
                                         "$", "[aB]", "[^a]", "\\(", "\\)", "\\1", "\\<", "\\>"};
    const size_t count = sizeof pieces / sizeof *pieces;
    // The case flag matters only to the single characters a and B (class
    // members compare exactly): patterns without them are run with one flag.
    auto letter = [&](size_t piece) { return piece < 2; };
    struct Small {
        std::string pattern;
        bool letters;
    };
    std::vector<Small> patterns;
    for (size_t a = 0; a < count; ++a) {
        patterns.push_back({pieces[a], letter(a)});
        for (size_t b = 0; b < count; ++b) {
            patterns.push_back({std::string(pieces[a]) + pieces[b], letter(a) || letter(b)});
            for (size_t c = 0; c < count; ++c)
                patterns.push_back(
                    {std::string(pieces[a]) + pieces[b] + pieces[c], letter(a) || letter(b) || letter(c)});
        }
    }
    const std::vector<std::string> texts = AllTexts("aAB-", 3);
    const refmatch::WordSet words = refmatch::DefaultWordSet();
    Tally tally;
    Pair pair;
    int failures = 0;
    for (const Small &small : patterns) {
        for (int caseFlag = 0; caseFlag < (small.letters ? 2 : 1) && failures < 20; ++caseFlag) {
            bool usable = false;
            failures += !pair.Compile(small.pattern, caseFlag, usable, tally);
            for (size_t t = 0; usable && t < texts.size(); ++t)
                if (!pair.Search(texts[t], 0, words, tally) && ++failures >= 20)
                    break;
        }
    }
    ASSERT_LT(failures, 20) << "stopped after 20 disagreements";
    EXPECT_GT(tally.patterns, 2000);
    EXPECT_GT(tally.refused, 3000);
    EXPECT_GT(tally.matches, 75000);
    EXPECT_GT(tally.taggedMatches, 600);
    EXPECT_EQ(tally.abandoned, 0);
}

TEST(RGrepReference, TagsAndBackReferencesOnRandomPatterns)
{
    std::mt19937 rng(15);
    PatternMaker maker(rng, 3);
    const refmatch::WordSet words = refmatch::DefaultWordSet();
    Tally tally;
    Pair pair;
    int failures = 0;
    for (int iter = 0; iter < 10000 && failures < 20; ++iter) {
        const std::string pattern = maker.Make();
        const int caseFlag = static_cast<int>(rng() % 2);
        bool usable = false;
        failures += !pair.Compile(pattern, caseFlag, usable, tally);
        for (int t = 0; usable && t < 12; ++t)
            failures += !pair.Search(RandomText(rng, "aAbBc-\n `{\xc9\xe9", 10), 0, words, tally);
    }
    ASSERT_LT(failures, 20) << "stopped after 20 disagreements";
    EXPECT_GT(tally.patterns, 8000);
    EXPECT_GT(tally.matches, 25000);
    EXPECT_GT(tally.taggedMatches, 5000);
    EXPECT_GT(tally.backRefMatches, 2500);
    // The limits of nine groups and ten alternatives, and references into
    // the innermost open group, were reached and refused alike.
    EXPECT_GT(tally.codes[28], 0);
    EXPECT_GT(tally.codes[35], 0);
    EXPECT_GT(tally.codes[32], 100);
    EXPECT_LT(tally.abandoned, tally.searches / 100);
}

TEST(RGrepReference, LineSeparatorsAndWordTableOnRandomPatterns)
{
    // The same kind of patterns with every combination of the two line
    // separators, on texts rich in them, once with the default word table and
    // once with '-', 0xE9 and the carriage return made word characters (a
    // line that begins after a word character: only the line start then
    // tells the word boundaries there).
    std::mt19937 rng(1501);
    PatternMaker maker(rng, 3);
    refmatch::WordSet words = refmatch::DefaultWordSet();
    Tally tally;
    Pair pair;
    int failures = 0;
    for (int round = 0; round < 2; ++round) {
        if (round == 1) {
            AddWordChar("-\xe9\r");
            words['-'] = words[0xE9] = words['\r'] = true;
        }
        for (int iter = 0; iter < 2500 && failures < 20; ++iter) {
            const std::string pattern = maker.Make();
            const int caseFlag = static_cast<int>(rng() % 2);
            bool usable = false;
            failures += !pair.Compile(pattern, caseFlag, usable, tally);
            for (int t = 0; usable && t < 8; ++t)
                failures +=
                    !pair.Search(RandomText(rng, "ab-\n\r\xe9 ", 10), static_cast<int>(rng() % 4), words, tally);
        }
    }
    InitWordCharTable();
    ASSERT_LT(failures, 20) << "stopped after 20 disagreements";
    EXPECT_GT(tally.patterns, 4000);
    EXPECT_GT(tally.matches, 8000);
    EXPECT_LT(tally.abandoned, tally.searches / 100);
}

TEST(RGrepReference, LongerTextsAcrossScanBlocks)
{
    // Texts of up to 60 bytes cross the 16-byte blocks of the library's
    // vector scans and let its scan summary skip stretches; the bytes the
    // patterns look for are rare, so most positions are skipped.
    std::mt19937 rng(1515);
    PatternMaker maker(rng, 1);
    const refmatch::WordSet words = refmatch::DefaultWordSet();
    Tally tally;
    Pair pair;
    int failures = 0;
    int longPrograms = 0;
    for (int iter = 0; iter < 2500 && failures < 20; ++iter) {
        std::string pattern = maker.Make();
        if (iter % 2 == 1) {
            // 8 to 26 classes up front: programs of 264 to 900 bytes, past
            // the room that short programs leave for the library's own data.
            std::string classes;
            for (int k = 0, n = 8 + static_cast<int>(rng() % 19); k < n; ++k)
                classes += "[^\\n]";
            pattern = classes + pattern;
        }
        const int caseFlag = static_cast<int>(rng() % 2);
        bool usable = false;
        failures += !pair.Compile(pattern, caseFlag, usable, tally);
        longPrograms += usable && iter % 2 == 1;
        for (int t = 0; usable && t < 6; ++t) {
            std::string text = RandomText(rng, "xxxxxxxyz- ", 60);
            for (int k = 0, n = static_cast<int>(rng() % 4); k < n && !text.empty(); ++k)
                text[rng() % text.size()] = "aAbB\n@"[rng() % 6];
            failures += !pair.Search(text, static_cast<int>(rng() % 2), words, tally);
        }
    }
    ASSERT_LT(failures, 20) << "stopped after 20 disagreements";
    EXPECT_GT(tally.patterns, 1800);
    EXPECT_GT(tally.matches, 2400);
    EXPECT_GT(tally.taggedMatches, 350);
    EXPECT_GT(longPrograms, 800);
    EXPECT_LT(tally.abandoned, tally.searches / 100);
}

TEST(RGrepReference, RandomPatternTextsAndClasses)
{
    // Patterns drawn piece by piece from the special characters, the escapes
    // and a few ordinary bytes: mostly compile errors and odd classes ('[]a]',
    // '[a-]', ranges with escaped or reversed bounds), compared code for
    // code, and searched where they compile.
    std::mt19937 rng(151);
    static const char *const pieces[] = {"a", "b", ".", "|",   "^",   "$",   "[",   "]",   "\\",  "*", "+",
                                         "-", "(", ")", "\\(", "\\)", "\\<", "\\>", "\\1", "\\2", "x", "B"};
    const refmatch::WordSet words = refmatch::DefaultWordSet();
    Tally tally;
    Pair pair;
    int failures = 0;
    for (int iter = 0; iter < 30000 && failures < 20; ++iter) {
        std::string pattern;
        for (size_t i = 0, n = 1 + rng() % 9; i < n; ++i)
            pattern += Pick(rng, pieces);
        const int caseFlag = static_cast<int>(rng() % 2);
        bool usable = false;
        failures += !pair.Compile(pattern, caseFlag, usable, tally);
        for (int t = 0; usable && t < 4; ++t)
            failures += !pair.Search(RandomText(rng, "ab]^-\\A.x", 8), 0, words, tally);
    }
    ASSERT_LT(failures, 20) << "stopped after 20 disagreements";
    EXPECT_GT(tally.patterns, 3000);
    EXPECT_GT(tally.refused, 10000);
    EXPECT_GT(tally.matches, 3000);
    for (int code : {25, 26, 27, 29, 30, 31, 33, 34})
        EXPECT_GT(tally.codes[code], 50) << "refusals with code " << code;
}

} // namespace
