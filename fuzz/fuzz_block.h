// fuzz_block.h - the block calls checked against the per-name calls, for
// the fuzzers of the kinds that have one.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "quarn32.h"

// The text cut at each '/' into names, side by side with their NULs: one
// block call must answer what the per-name calls answer.
template <class Line, class Block> bool BlockAgrees(const std::string &text, QuarnPattern *p, Line line, Block block)
{
    std::string names = text;
    for (char &c : names)
        if (c == '/')
            c = '\0';
    names.push_back('\0');
    std::vector<int32_t> expected;
    for (size_t at = 0; at < names.size(); at += std::strlen(names.c_str() + at) + 1)
        if (line(names.c_str() + at, p) > 0)
            expected.push_back(static_cast<int32_t>(at));
    std::vector<int32_t> hits(names.size() + 1);
    int32_t stop = -1;
    const int32_t length = static_cast<int32_t>(names.size());
    const int32_t found = block(names.data(), length, hits.data(), static_cast<int32_t>(hits.size()), &stop, p);
    hits.resize(found < 0 ? 0 : static_cast<size_t>(found));
    return found >= 0 && stop == length && hits == expected;
}
