// Splits a fuzzer's byte string into the pieces a target needs: a few
// control bytes, then NUL-separated texts.  Shared by every fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// A failed differential check: says which one, then aborts so that the
// fuzzer records the input.
#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                         \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

namespace quarn_fuzz {

// The regular-expression matcher backtracks: k closures over a line of n
// bytes can cost n^k steps.  Targets that only need some regular
// expression (substitution, chains, file search) keep to patterns with few
// closures, so their time goes to what they test.
inline bool FewClosures(const std::string &pattern, int most = 2)
{
    int closures = 0;
    for (char c : pattern)
        if (c == '*' || c == '+')
            ++closures;
    return closures <= most;
}

class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    // Next control byte, 0 once the input is used up.
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }

    // Next text up to a NUL byte (or the end of the input).
    std::string Text()
    {
        std::string out;
        while (pos_ < size_ && data_[pos_] != 0)
            out += static_cast<char>(data_[pos_++]);
        if (pos_ < size_)
            ++pos_;
        return out;
    }

    bool Empty() const { return pos_ >= size_; }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

} // namespace quarn_fuzz
