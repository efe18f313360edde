#include "test_support.h"

namespace quarn_test {

namespace {
std::vector<Report> gReports;

void Record(const char *text, const char *caption)
{
    gReports.push_back({text ? text : "(null)", caption ? caption : "(null)"});
}
} // namespace

ReportCapture::ReportCapture()
    : previous_(QuarnSetMessageSink(Record)), previousOptions_(QuarnOptions(QUARN_OPT_MESSAGES))
{
    gReports.clear();
}

ReportCapture::~ReportCapture()
{
    QuarnSetMessageSink(previous_);
    QuarnOptions(previousOptions_);
    gReports.clear();
}

const std::vector<Report> &ReportCapture::reports() const
{
    return gReports;
}

void ReportCapture::clear()
{
    gReports.clear();
}

std::unique_ptr<QuarnPattern> NewPattern()
{
    return std::unique_ptr<QuarnPattern>(new QuarnPattern{});
}

long Offset(const char *text, const char *position)
{
    return position == nullptr ? -1 : static_cast<long>(position - text);
}

} // namespace quarn_test
