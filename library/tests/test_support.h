// Helpers shared by the library's tests: capturing failure reports through
// the message sink, and records allocated at chain-element size.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "quarn32.h"

namespace quarn_test {

struct Report {
    std::string text;
    std::string caption;
    bool operator==(const Report &o) const { return text == o.text && caption == o.caption; }
};

// Installs a sink for its lifetime that records every report, with message
// reports switched on; restores the default sink and options afterwards.
class ReportCapture {
public:
    ReportCapture();
    ~ReportCapture();
    ReportCapture(const ReportCapture &) = delete;
    ReportCapture &operator=(const ReportCapture &) = delete;

    const std::vector<Report> &reports() const;
    void clear();

private:
    QuarnMessageSink previous_;
    int32_t previousOptions_;
};

// A zero-filled record of chain-element size.
std::unique_ptr<QuarnPattern> NewPattern();

// Offset of a recorded position in `text`, or -1 for a null position.
long Offset(const char *text, const char *position);

} // namespace quarn_test
