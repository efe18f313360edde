// Substitution for each kind after a search, with hostile templates,
// capacities and lines changed after the search.  The destination is
// surrounded by guard bytes that must survive every call.  Differential
// checks: a successful substitution is the line's prefix, the builder's
// expansion and the rest of the line; a template without '&' or '\' expands
// to itself; a copy of the line is refused.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "quarn32.h"

namespace {

constexpr size_t kGuard = 16;
constexpr unsigned char kGuardByte = 0xA5;

// capacity + 1 bytes for the callee, guard bytes on both sides.
class GuardedDest {
public:
    explicit GuardedDest(int32_t capacity)
        : bytes_(kGuard + static_cast<size_t>(capacity < 0 ? 0 : capacity) + 1 + kGuard, kGuardByte),
          size_(bytes_.size() - 2 * kGuard)
    {
    }
    char *Data() { return reinterpret_cast<char *>(bytes_.data() + kGuard); }
    void CheckGuards() const
    {
        for (size_t i = 0; i < kGuard; ++i) {
            FUZZ_CHECK(bytes_[i] == kGuardByte);
            FUZZ_CHECK(bytes_[kGuard + size_ + i] == kGuardByte);
        }
    }
    // The result is terminated inside the callee's bytes.
    size_t Length() const
    {
        const void *nul = std::memchr(bytes_.data() + kGuard, 0, size_);
        FUZZ_CHECK(nul != nullptr);
        return static_cast<const unsigned char *>(nul) - (bytes_.data() + kGuard);
    }

private:
    std::vector<unsigned char> bytes_;
    size_t size_;
};

using Build = int32_t(QUARN_API *)(const char *, char *, int32_t, QuarnPattern *);
using Substitute = int32_t(QUARN_API *)(char *, const char *, char *, int32_t, QuarnPattern *);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    quarn_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.Byte();
    const uint8_t capacityByte = in.Byte();
    const uint8_t cutAt = in.Byte();
    const int kindIndex = control % 3;
    // Mostly capacities around the sizes involved, sometimes hostile ones.
    int32_t capacity = capacityByte;
    if ((control & 0xC0) == 0xC0)
        capacity = -static_cast<int32_t>(capacityByte) - 1;
    const std::string pattern = in.Text();
    const std::string text = in.Text();
    const std::string tmpl = in.Text();

    if (kindIndex == 0 && !quarn_fuzz::FewClosures(pattern))
        return 0;
    QuarnMessages(0);
    std::vector<char> line(text.begin(), text.end());
    line.push_back('\0');

    auto p = std::make_unique<QuarnPattern>();
    Build build = nullptr;
    Substitute substitute = nullptr;
    int searched = -1;
    switch (kindIndex) {
    case 0:
        CompileRGrep(pattern.c_str(), control & 4, p.get());
        searched = RGrep(line.data(), p.get());
        build = RGrepSubsBuild;
        substitute = RGrepSubstitute;
        break;
    case 1:
        CompileSGrep(pattern.c_str(), 0, p.get());
        searched = SGrep(line.data(), p.get());
        build = SGrepSubsBuild;
        substitute = SGrepSubstitute;
        break;
    default:
        AGrepInit(p.get());
        CompileAGrep(pattern.c_str(), (control >> 3) & 3, control & 4, p.get());
        searched = AGrep(line.data(), p.get());
        build = AGrepSubsBuild;
        substitute = AGrepSubstitute;
        break;
    }

    // Plain expansion with ample room, the reference for the checks below.
    std::string expansion;
    int32_t expansionCode = -100;
    if (searched > 0) {
        GuardedDest wide(4096);
        expansionCode = build(tmpl.c_str(), wide.Data(), 4096, p.get());
        wide.CheckGuards();
        expansion.assign(wide.Data(), wide.Length());
        if (tmpl.empty())
            FUZZ_CHECK(expansionCode == 6);
        if (!tmpl.empty() && tmpl.find_first_of("&\\") == std::string::npos) {
            FUZZ_CHECK(expansionCode == 0);
            FUZZ_CHECK(expansion == tmpl);
        }
    }

    // "\x" can write a 0 byte, which hides the expansion's length.
    const bool lengthKnown = kindIndex != 0 || tmpl.find("\\x") == std::string::npos;
    {
        GuardedDest dest(capacity);
        const int32_t code = build(tmpl.c_str(), dest.Data(), capacity, p.get());
        dest.CheckGuards();
        if (capacity < 0) {
            FUZZ_CHECK(code == 3);
        } else {
            FUZZ_CHECK(dest.Length() <= static_cast<size_t>(capacity));
            if (searched > 0 && expansionCode == 0 && lengthKnown) {
                FUZZ_CHECK(code == (expansion.size() <= static_cast<size_t>(capacity) ? 0 : 3));
                if (code == 0)
                    FUZZ_CHECK(std::string(dest.Data()) == expansion);
            }
        }
    }

    {
        GuardedDest dest(capacity);
        const int32_t code = substitute(line.data(), tmpl.c_str(), dest.Data(), capacity, p.get());
        dest.CheckGuards();
        if (capacity >= 0)
            FUZZ_CHECK(dest.Length() <= static_cast<size_t>(capacity));
        if (code == 0 && lengthKnown) {
            FUZZ_CHECK(searched > 0 && expansionCode == 0);
            const size_t start = p->matchStart[0] - line.data();
            const size_t end = p->matchEnd[0] - line.data();
            const std::string expected = text.substr(0, start) + expansion + text.substr(end);
            FUZZ_CHECK(std::string(dest.Data()) == expected);
        }
    }

    if (searched > 0 && p->matchStart[0] != p->matchEnd[0] && capacity >= 0) {
        // Another buffer with the same bytes holds none of the positions.
        std::vector<char> copy(line);
        GuardedDest dest(capacity);
        FUZZ_CHECK(substitute(copy.data(), tmpl.c_str(), dest.Data(), capacity, p.get()) == (tmpl.empty() ? 6 : 1));
        dest.CheckGuards();
    }

    if (searched > 0 && !text.empty() && (control & 0x20)) {
        // The line changed after the search: cut it short.
        line[cutAt % text.size()] = '\0';
        GuardedDest dest(capacity);
        build(tmpl.c_str(), dest.Data(), capacity, p.get());
        dest.CheckGuards();
        GuardedDest dest2(capacity);
        substitute(line.data(), tmpl.c_str(), dest2.Data(), capacity, p.get());
        dest2.CheckGuards();
    }

    if (kindIndex == 2)
        AGrepEmpty(p.get());
    QuarnMessages(1);
    return 0;
}
