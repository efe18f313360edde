// Soundex compile + match with hostile patterns and lines.  Differential
// check: a pattern that codes to a non-empty text matches itself at its
// first byte (the matcher codes the line exactly as the compiler coded the
// pattern).
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz_input.h"
#include "quarn32.h"

namespace {

void CheckMatchInside(const QuarnPattern &p, const std::string &text)
{
    FUZZ_CHECK(p.matchStart[0] >= text.c_str() && p.matchEnd[0] >= p.matchStart[0]);
    FUZZ_CHECK(p.matchEnd[0] <= text.c_str() + text.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    quarn_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.Byte();
    const std::string pattern = in.Text();
    const std::string text = in.Text();

    QuarnMessages(0);
    auto p = std::make_unique<QuarnPattern>();
    if (control & 1) // a record that was never compiled must be safe too
        std::memset(p.get(), control, sizeof(QuarnPattern));
    const int code = CompileSGrep(pattern.c_str(), control >> 1, p.get());
    FUZZ_CHECK(code == 0 || code == 4 || code == 6);
    FUZZ_CHECK(code == (pattern.empty() ? 6 : pattern.size() >= QUARN_PATTERN_TEXT_SIZE ? 4 : 0));

    const int result = SGrep(text.c_str(), p.get());
    if (code != 0) {
        FUZZ_CHECK(result == -1);
        return 0;
    }
    FUZZ_CHECK(result == 0 || result == 1);
    const size_t codeLength = std::strlen(p->body.soundex.code);
    FUZZ_CHECK(codeLength <= pattern.size());
    if (result == 1)
        CheckMatchInside(*p, text);

    if (codeLength > 0) {
        const int self = SGrep(pattern.c_str(), p.get());
        FUZZ_CHECK(self == 1);
        FUZZ_CHECK(p->matchStart[0] == pattern.c_str());
        CheckMatchInside(*p, pattern);
    } else {
        FUZZ_CHECK(SGrep(pattern.c_str(), p.get()) == 0);
    }
    QuarnMessages(1);
    return 0;
}
