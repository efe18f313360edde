// Single-pattern entry points: each behaves exactly as the plain call on a
// record of its own; the library-held records start zero-filled; the held
// approximate record is re-prepared by SFileSetFlags and released by
// SFileClose.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "test_support.h"

using quarn_test::Offset;
using quarn_test::Report;
using quarn_test::ReportCapture;

namespace {

int gNoPatternReports = 0;
void CountNoPattern(const char *text, const char *caption)
{
    if (std::strcmp(text, "no pattern") == 0 && std::strcmp(caption, "Soundex Error") == 0)
        ++gNoPatternReports;
}

// Runs in a freshly started copy of the test program, so the held records
// are as the library laid them down at load time.
TEST(HeldPatternsDeathTest, FreshLibraryState)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            QuarnSetMessageSink(CountNoPattern);
            int fails = 0;
            fails |= SSGrep("Robert") != 0; // empty code text: 0, "no pattern"
            fails |= (gNoPatternReports != 1) << 1;
            fails |= (SAGrep("abc") != -1) << 2; // zero-filled: refused, not matched
            fails |= (SRGrep("abc") != 0) << 3;  // an empty program matches nothing...
            std::exit(fails);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(HeldPatterns, EveryEntryPointEqualsThePlainCall)
{
    ReportCapture capture;
    auto own = quarn_test::NewPattern();
    char line[] = "call Jon Smyth: hallo hullo";
    char a[128], b[128];

    EXPECT_EQ(SCompileRGrep("h\\(.\\)llo", 0), CompileRGrep("h\\(.\\)llo", 0, own.get()));
    EXPECT_EQ(SRGrep(line), RGrep(line, own.get()));
    EXPECT_EQ(SRGrepSubsBuild("<&|\\1>", a, 127), RGrepSubsBuild("<&|\\1>", b, 127, own.get()));
    EXPECT_STREQ(a, b);
    EXPECT_EQ(SRGrepSubstitute(line, "[\\x41&]", a, 127), RGrepSubstitute(line, "[\\x41&]", b, 127, own.get()));
    EXPECT_STREQ(a, "call Jon Smyth: [Ahallo] hullo");
    EXPECT_STREQ(a, b);
    EXPECT_EQ(SRGrepSubstitute(line, "&", a, 3), RGrepSubstitute(line, "&", b, 3, own.get()));

    EXPECT_EQ(SCompileSGrep("john smith", 1), CompileSGrep("john smith", 1, own.get()));
    EXPECT_EQ(SSGrep(line), 1);
    EXPECT_EQ(SGrep(line, own.get()), 1);
    EXPECT_EQ(SSGrepSubsBuild("<&>", a, 127), SGrepSubsBuild("<&>", b, 127, own.get()));
    EXPECT_STREQ(a, b);
    EXPECT_EQ(SSGrepSubstitute(line, "X", a, 127), SGrepSubstitute(line, "X", b, 127, own.get()));
    EXPECT_STREQ(a, b);

    AGrepInit(own.get());
    EXPECT_EQ(SAGrepInit(), 1);
    EXPECT_EQ(SCompileAGrep("hello", 1, 1), CompileAGrep("hello", 1, 1, own.get()));
    EXPECT_EQ(SAGrep(line), 2);
    EXPECT_EQ(AGrep(line, own.get()), 2);
    EXPECT_EQ(SAGrepSubsBuild("\\0+\\1", a, 127), AGrepSubsBuild("\\0+\\1", b, 127, own.get()));
    EXPECT_STREQ(a, "hallo+hullo");
    EXPECT_STREQ(a, b);
    EXPECT_EQ(SAGrepSubstitute(line, "", a, 127), AGrepSubstitute(line, "", b, 127, own.get()));
    EXPECT_EQ(SAGrepEmpty(), 1);
    EXPECT_EQ(AGrepEmpty(own.get()), 1);
    EXPECT_EQ(SAGrep(line), -1) << "emptied";

    // Reports come from the called operation: the same ones twice.
    ASSERT_EQ(capture.reports().size() % 2, 0u);
    for (size_t i = 0; i < capture.reports().size(); i += 2)
        EXPECT_EQ(capture.reports()[i], capture.reports()[i + 1]);
    EXPECT_EQ(capture.reports().size(), 4u);
}

TEST(HeldPatterns, ApproximateRecordLifecycle)
{
    EXPECT_EQ(SAGrepInit(), 1);
    EXPECT_EQ(SAGrep("abc"), -1) << "prepared, not compiled";
    ASSERT_EQ(SCompileAGrep("abc", 1, 1), 0);
    EXPECT_EQ(SAGrep("abd"), 1);
    // Re-preparing releases what the compile obtained (the leak checker
    // fails this test otherwise) and loses the pattern.
    EXPECT_EQ(SFileSetFlags(0, 0, 0, 0, 0, 1), 1);
    EXPECT_EQ(SAGrep("abd"), -1);
    ASSERT_EQ(SCompileAGrep("abcdef", 4, 0), 0);
    EXPECT_EQ(SAGrepInit(), 1);
    EXPECT_EQ(SAGrepInit(), 1);
    ASSERT_EQ(SCompileAGrep("abc", 0, 1), 0);
    EXPECT_EQ(SAGrep("abcabc"), 2);
    EXPECT_EQ(SFileClose(), 0) << "no file open";
    EXPECT_EQ(SAGrep("abc"), -1) << "SFileClose released the held record";
}

} // namespace
