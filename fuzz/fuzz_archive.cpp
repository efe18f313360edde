// The image and archive reader with hostile bytes: every input is read both
// as an ISO 9660 image scanned as a disc and as an archive met during a scan.
// Whatever the input, reading ends (in an error for a damaged image, a report
// for an archive), and every entry walked has a name that the catalog can
// take: one path component, never empty, "." or "..", at most 255 bytes,
// in a walk whose folders open and close in pairs.
#include <cstdint>
#include <string>

#include "archive_reader.h"
#include "catalog_errors.h"
#include "fuzz_input.h"
#include "scan_source.h"

namespace {

class CheckingSink : public tslcat::IScanSink {
public:
    int depth = 0;
    size_t entries = 0;
    void FolderEntered(const tslcat::TScanEntry &e, const std::string &) override
    {
        if (depth > 0)
            check(e);
        ++depth;
    }
    void FileFound(const tslcat::TScanEntry &e, const std::string &) override
    {
        FUZZ_CHECK(depth > 0 || !withRoot);
        FUZZ_CHECK(!e.IsFolder());
        check(e);
    }
    void FolderDone() override
    {
        FUZZ_CHECK(depth > 0);
        --depth;
    }
    bool withRoot = true;

private:
    void check(const tslcat::TScanEntry &e)
    {
        ++entries;
        FUZZ_CHECK(!e.name.empty() && e.name != "." && e.name != "..");
        FUZZ_CHECK(e.name.size() <= tslcat::TEntryTree::kMaxNameBytes);
        FUZZ_CHECK(e.name.find('/') == std::string::npos);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        tslcat::TImageSource image(data, size, "fuzz.iso");
        CheckingSink sink;
        image.Walk(sink);
        FUZZ_CHECK(sink.depth == 0);
        FUZZ_CHECK(sink.entries <= image.Entries().Size());
    } catch (const tslcat::EImageError &) {
    }

    // Small bounds, so that each input stays quick.
    tslcat::TEntryTree members;
    const tslcat::TArchiveReport report = tslcat::ReadArchiveMembers(data, size, members, {2000, 5000});
    FUZZ_CHECK(members.Size() <= 2000);
    FUZZ_CHECK((report.result == tslcat::TArchiveResult::Ok) == report.message.empty());
    if (report.result == tslcat::TArchiveResult::Ok) {
        CheckingSink sink;
        sink.withRoot = false;
        members.Walk(sink, {}, "fuzz/", false);
        FUZZ_CHECK(sink.depth == 0);
    }
    return 0;
}
