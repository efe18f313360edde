// Regular-expression compile + match with hostile patterns, texts, options
// and word-table changes.  Differential checks: the compiler's scan summary
// never changes a result (same record with the summary wiped), and a pattern
// without special characters finds what a plain substring search finds;
// a block of names answers as the names one by one.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_block.h"
#include "fuzz_input.h"
#include "quarn32.h"

namespace {

const char *FoldedFind(const char *hay, const char *needle, bool fold)
{
    const size_t n = std::strlen(needle);
    for (const char *s = hay; *s != '\0'; ++s) {
        size_t k = 0;
        for (; k < n && s[k] != '\0'; ++k) {
            unsigned char a = static_cast<unsigned char>(s[k]), b = static_cast<unsigned char>(needle[k]);
            if (fold) {
                a = (a >= 'A' && a <= 'Z') ? a + 32 : a;
                b = (b >= 'A' && b <= 'Z') ? b + 32 : b;
            }
            if (a != b)
                break;
        }
        if (k == n)
            return s;
    }
    return nullptr;
}

void Check(bool ok)
{
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    quarn_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.Byte();
    const int caseFlag = control & 1;
    const int options = (control >> 1) & 3;
    const std::string pattern = in.Text();
    const std::string text = in.Text();
    const std::string wordChars = in.Text();

    QuarnMessages(0);
    InitWordCharTable();
    if (control & 8)
        AddWordChar(wordChars.c_str());
    if (control & 16)
        RemoveWordChar(wordChars.c_str());

    auto p = std::make_unique<QuarnPattern>();
    const int code = CompileRGrep(pattern.c_str(), caseFlag, p.get());
    QuarnOptions(options);
    const int result = RGrep(text.c_str(), p.get());
    Check(code == 0 ? result == 0 || result == 1 : result == -1);
    if (code == 0) {
        // The same program without its summary: the summary's marker is
        // cleared (a long program owns the bytes where a summary would be,
        // so they are not touched).
        auto plain = std::make_unique<QuarnPattern>();
        std::memcpy(plain.get(), p.get(), sizeof(QuarnPattern));
        if (plain->body.regex.branchCount < QUARN_MAX_BRANCHES)
            plain->body.regex.branchStart[QUARN_MAX_BRANCHES - 1] = nullptr;
        Check(RGrep(text.c_str(), plain.get()) == result);
        Check(plain->matchStart[0] == p->matchStart[0] && plain->matchEnd[0] == p->matchEnd[0]);
        if (result == 1) {
            Check(p->matchStart[0] >= text.c_str() && p->matchEnd[0] >= p->matchStart[0]);
            Check(p->matchEnd[0] <= text.c_str() + text.size());
        }
        if (!pattern.empty() && pattern.find_first_of(".|^$[\\*+-") == std::string::npos) {
            const char *expected = FoldedFind(text.c_str(), pattern.c_str(), caseFlag == 0);
            Check(result == (expected != nullptr ? 1 : 0));
            Check(p->matchStart[0] == expected);
        }
    }
    if (code == 0)
        Check(BlockAgrees(text, p.get(), RGrep, QuarnRGrepBlock));
    QuarnOptions(QUARN_OPT_MESSAGES);
    InitWordCharTable();
    return 0;
}
