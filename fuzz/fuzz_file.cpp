// File search over fuzzed file contents with fuzzed flags, kinds and entry
// points.  The file lives under a folder path of more than 1100 bytes when
// asked, so the name prefix alone overflows the result buffer.  Checks:
// every result fits its 1024 bytes, the search ends, and the selected count
// equals the lines handed out; the same search in count-only mode gives the
// same count and no line.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz_input.h"
#include "quarn32.h"

namespace {

std::string MakeFolder(bool deep)
{
    std::error_code ignored; // a folder that cannot be made fails the file's creation later
    std::string dir =
        (std::filesystem::temp_directory_path(ignored) / ("quarn-fuzz-file-" + std::to_string(getpid()))).string();
    std::filesystem::create_directory(dir, ignored);
    if (deep) {
        for (int i = 0; i < 5; ++i) {
            dir += "/" + std::string(240, static_cast<char>('a' + i));
            std::filesystem::create_directory(dir, ignored);
        }
    }
    return dir;
}

const std::string &FilePath(bool deep)
{
    static const std::string shortPath = MakeFolder(false) + "/input.txt";
    static const std::string longPath = MakeFolder(true) + "/input.txt";
    return deep ? longPath : shortPath;
}

struct Entry {
    char *(QUARN_API *search)(void);
    int kind; // 0 regular expression, 1 Soundex, 2 approximate
};

const Entry kEntries[] = {
    {SFileRGrep, 0},     {SFileSGrep, 1},       {SFileAGrep, 2},       {SFileTextRGrep, 0},   {SFileTextSGrep, 1},
    {SFileTextAGrep, 2}, {SFileBinaryRGrep, 0}, {SFileBinarySGrep, 1}, {SFileBinaryAGrep, 2},
};

void Compile(int kind, const std::string &pattern, uint8_t control)
{
    switch (kind) {
    case 0:
        SCompileRGrep(pattern.c_str(), control & 1);
        break;
    case 1:
        SCompileSGrep(pattern.c_str(), 0);
        break;
    default:
        SCompileAGrep(pattern.c_str(), (control >> 1) & 3, control & 1);
        break;
    }
}

// Runs one search to its end; returns the number of lines handed out.
long RunSearch(const Entry &entry, const std::string &path, size_t fileSize)
{
    FUZZ_CHECK(SFileOpen(path.c_str()) == 1);
    long lines = 0;
    for (;;) {
        const char *line = entry.search();
        if (line == nullptr)
            break;
        FUZZ_CHECK(std::strlen(line) <= 1023);
        ++lines;
        FUZZ_CHECK(static_cast<size_t>(lines) <= fileSize); // every line holds a byte
    }
    FUZZ_CHECK(entry.search() == nullptr); // stays at the end
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    quarn_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.Byte();
    const uint8_t flags = in.Byte();
    const int32_t skipValue = static_cast<int8_t>(in.Byte()) % 3;
    const Entry &entry = kEntries[in.Byte() % 9];
    const std::string pattern = in.Text();
    // The rest of the input, NUL bytes included, is the file.
    std::string contents;
    while (!in.Empty())
        contents += static_cast<char>(in.Byte());

    if (entry.kind == 0 && !quarn_fuzz::FewClosures(pattern))
        return 0;
    QuarnMessages(0);
    const std::string &path = FilePath(control & 0x80);
    {
        std::FILE *f = std::fopen(path.c_str(), "wb");
        FUZZ_CHECK(f != nullptr);
        std::fwrite(contents.data(), 1, contents.size(), f);
        std::fclose(f);
    }
    const int32_t textMode = (flags >> 4) % 3;
    SFileSetFlags(flags & 1, flags & 2, flags & 4, 0, skipValue, textMode);
    Compile(entry.kind, pattern, control);
    const long lines = RunSearch(entry, path, contents.size());
    FUZZ_CHECK(SFileClose() == lines);

    SFileSetFlags(flags & 1, flags & 2, flags & 4, 1, skipValue, textMode);
    Compile(entry.kind, pattern, control);
    FUZZ_CHECK(SFileOpen(path.c_str()) == 1);
    FUZZ_CHECK(entry.search() == nullptr);
    FUZZ_CHECK(SFileClose() == lines);

    // With no file open the calls refuse.
    FUZZ_CHECK(entry.search() == nullptr);
    FUZZ_CHECK(SFileClose() == 0);
    QuarnMessages(1);
    return 0;
}
