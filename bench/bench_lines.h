// A text file held in memory as NUL-terminated lines, for the per-line
// benchmarks: every engine then runs over the very same buffers.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
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

// Times a block call, `call(block, length, hits, capacity, &stop)` with the
// library's block conventions, over the lines where they lie, 65,536 a
// block: the median of `runs` in ns per line, and the hits counted in the
// last run.  A line the matcher gave up on (stop at it) counts as no match.
template <class Call> std::pair<double, long> TimeBlocks(const Lines &data, Call call, int runs)
{
    constexpr size_t kBlockLines = 65536;
    const size_t n = data.lines.size();
    std::vector<int32_t> hits(kBlockLines);
    std::vector<double> times;
    long found = 0;
    for (int r = 0; r < runs; ++r) {
        found = 0;
        const auto t0 = std::chrono::steady_clock::now();
        for (size_t first = 0; first < n; first += kBlockLines) {
            const size_t last = std::min(n, first + kBlockLines) - 1;
            const char *block = data.lines[first];
            const auto length = static_cast<int32_t>(data.lines[last] + std::strlen(data.lines[last]) + 1 - block);
            int32_t from = 0;
            while (from < length) {
                int32_t stop = 0;
                const int32_t k =
                    call(block + from, length - from, hits.data(), static_cast<int32_t>(hits.size()), &stop);
                if (k < 0)
                    break;
                found += k;
                if (stop > 0) {
                    from += stop;
                    continue;
                }
                const void *nul = std::memchr(block + from, '\0', static_cast<size_t>(length - from));
                if (nul == nullptr)
                    break;
                from = static_cast<int32_t>(static_cast<const char *>(nul) - block) + 1;
            }
        }
        const auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::nano>(t1 - t0).count() / static_cast<double>(n));
    }
    std::sort(times.begin(), times.end());
    return {times.empty() ? 0.0 : times[times.size() / 2], found};
}

} // namespace quarn_bench
