// Library frame: error word, options word, message reporter, version, and
// the record layout that callers allocate by size.
#include <gtest/gtest.h>

#include <cstddef>

#include "test_support.h"

using quarn_test::Report;
using quarn_test::ReportCapture;

namespace {

TEST(ErrorWord, FirstErrorIsKeptAndResetReportsIt)
{
    QuarnResetError(0);
    EXPECT_EQ(QuarnSetError(5), 0);
    EXPECT_EQ(QuarnGetError(), 5);
    EXPECT_EQ(QuarnSetError(7), 5);
    EXPECT_EQ(QuarnGetError(), 5);
    EXPECT_EQ(QuarnResetError(0), 5);
    EXPECT_EQ(QuarnGetError(), 0);
    EXPECT_EQ(QuarnResetError(9), 0);
    EXPECT_EQ(QuarnResetError(0), 9);
}

TEST(ErrorWord, CompileAndMatchLeaveItAlone)
{
    QuarnResetError(0);
    auto p = quarn_test::NewPattern();
    QuarnMessages(0);
    CompileRGrep("[a", 0, p.get());
    RGrep("abc", p.get());
    EXPECT_EQ(QuarnGetError(), 0);
    QuarnOptions(QUARN_OPT_MESSAGES);
}

TEST(Options, MessagesSwitchOnlyWithOne)
{
    EXPECT_EQ(QuarnOptions(QUARN_OPT_MESSAGES), 8);
    EXPECT_EQ(QuarnMessages(2), 0);
    EXPECT_EQ(QuarnMessages(1), 8);
    EXPECT_EQ(QuarnOptions(3), 3); // messages off, both separators on
    EXPECT_EQ(QuarnMessages(1), 11);
    EXPECT_EQ(QuarnMessages(0), 3);
    EXPECT_EQ(QuarnMessages(-1), 3);
    QuarnOptions(QUARN_OPT_MESSAGES);
}

TEST(Options, ReportsOnlyWhileBitThreeIsSet)
{
    ReportCapture capture;
    auto p = quarn_test::NewPattern();
    QuarnOptions(QUARN_OPT_LF | QUARN_OPT_CR);
    EXPECT_EQ(CompileRGrep("*a", 0, p.get()), 26);
    EXPECT_TRUE(capture.reports().empty());
    QuarnMessages(1);
    EXPECT_EQ(CompileRGrep("*a", 0, p.get()), 26);
    ASSERT_EQ(capture.reports().size(), 1u);
    EXPECT_EQ(capture.reports()[0], (Report{"Empty closure in beginning of pattern", "Regular Expression Error"}));
}

TEST(MessageSink, ReturnsPreviousSinkAndNullRestoresDefault)
{
    auto sinkA = [](const char *, const char *) {};
    QuarnMessageSink a = sinkA;
    EXPECT_EQ(QuarnSetMessageSink(a), nullptr);
    EXPECT_EQ(QuarnSetMessageSink(nullptr), a);
    EXPECT_EQ(QuarnSetMessageSink(nullptr), nullptr);
}

#ifndef _WIN32
// On Windows the default reporter is a message box (test_win32_dll.cpp).
TEST(MessageSink, DefaultReporterWritesCaptionAndTextToStandardError)
{
    auto p = quarn_test::NewPattern();
    QuarnOptions(QUARN_OPT_MESSAGES);
    testing::internal::CaptureStderr();
    CompileRGrep("", 0, p.get());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Regular Expression Error: No regular expression provided\n");
}
#endif

TEST(Version, FixedValues)
{
    EXPECT_EQ(QuarnVersion(), 24625);
    EXPECT_EQ(QuarnVersion(), 0x6031);
    EXPECT_EQ(QuarnIsDebug(), 0);
}

TEST(RecordLayout, RegexRecordFitsTheCatalogsAllocation)
{
    const size_t regexOnly = offsetof(QuarnPattern, body) + sizeof(QuarnRegexBody);
    EXPECT_LE(regexOnly, 1964u);
    // Header fields in the documented order.
    EXPECT_EQ(offsetof(QuarnPattern, errorCode), 0u);
    EXPECT_EQ(offsetof(QuarnPattern, patternText), 4u);
    EXPECT_LT(offsetof(QuarnPattern, patternText), offsetof(QuarnPattern, matchStart));
    EXPECT_LT(offsetof(QuarnPattern, matchStart), offsetof(QuarnPattern, matchEnd));
    EXPECT_LT(offsetof(QuarnPattern, matchEnd), offsetof(QuarnPattern, option));
    EXPECT_LT(offsetof(QuarnPattern, option), offsetof(QuarnPattern, body));
    // The chain fields lie behind the largest body.
    EXPECT_GE(offsetof(QuarnPattern, next), offsetof(QuarnPattern, body) + sizeof(QuarnApproxBody));
    EXPECT_LT(offsetof(QuarnPattern, next), offsetof(QuarnPattern, kind));
}

TEST(RecordLayout, RegexCallsTouchNothingPastTheRegexBody)
{
    // A caller may allocate only header + regex body, as the catalog does.
    const size_t regexOnly = offsetof(QuarnPattern, body) + sizeof(QuarnRegexBody);
    std::vector<unsigned char> block(sizeof(QuarnPattern), 0xA5);
    auto *p = reinterpret_cast<QuarnPattern *>(block.data());
    QuarnMessages(0);
    CompileRGrep("\\(a\\)[b-d]*\\1|x+|^y$", 0, p);
    RGrep("zzabcda", p);
    CompileRGrep(std::string(600, 'q').c_str(), 0, p);
    QuarnOptions(QUARN_OPT_MESSAGES);
    for (size_t i = regexOnly; i < block.size(); ++i)
        ASSERT_EQ(block[i], 0xA5) << "byte " << i << " written";
}

} // namespace
