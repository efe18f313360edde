// Splits a fuzzer's byte string into the pieces a target needs: a few
// control bytes, then NUL-separated texts.  Shared by every fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarn_fuzz {

class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    // Next control byte, 0 once the input is used up.
    uint8_t Byte()
    {
        return pos_ < size_ ? data_[pos_++] : 0;
    }

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
