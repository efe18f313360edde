// A text file held in memory as NUL-terminated lines, for the per-line
// benchmarks: every engine then runs over the very same buffers.
#pragma once

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quarn_bench {

struct Lines {
    std::string name;
    std::vector<char> storage;
    std::vector<const char *> lines;
};

// Reads `path` and cuts it at its line feeds (at most `maxLines` lines).
inline Lines Load(const char *path, size_t maxLines = ~size_t{0})
{
    Lines out;
    out.name = path;
    std::ifstream in(path, std::ios::binary);
    out.storage.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (out.storage.empty() || out.storage.back() != '\n')
        out.storage.push_back('\n');
    char *p = out.storage.data();
    char *end = p + out.storage.size();
    while (p < end && out.lines.size() < maxLines) {
        char *nl = static_cast<char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        *nl = '\0';
        out.lines.push_back(p);
        p = nl + 1;
    }
    return out;
}

} // namespace quarn_bench
