// RGrep: picks the search that fits a compiled regular expression (a
// literal, a run plan, or the backtracking matcher over candidate
// positions) and records the match in the record.
#include <atomic>
#include <cstdint>
#include <cstring>

#include "quarn32.h"
#include "quarn_private.h"
#include "rgrep_block.h"
#include "rgrep_match.h"
#include "rgrep_plan.h"
#include "rgrep_private.h"
#include "rgrep_program.h"
#include "rgrep_scan.h"

namespace quarn {

using namespace rgrep;

namespace {

// The limit on the backtracking matcher's trials per RGrep call; 0: none.
std::atomic<int32_t> gStepLimit{0};

// Only positions whose byte can begin an alternative are tried, plus the
// text's start for alternatives anchored there.  The line start stays at
// the text's start: either no element reads it or no separator is enabled.
const unsigned char *MatchHinted(Matcher &m, const unsigned char *base, const unsigned char *const *starts,
                                 int branches, const ScanSpec &spec, bool anchored, bool none,
                                 const unsigned char **end)
{
    if (anchored || *base == '\0') {
        if ((*end = MatchAt(m, base, starts, branches)) != nullptr)
            return base;
        if (*base == '\0' || none)
            return nullptr;
    }
    return ScanCandidates(anchored ? base + 1 : base, spec, [&](const unsigned char *at) {
        return (*end = MatchAt(m, at, starts, branches)) != nullptr || m.OverLimit();
    });
}

// Every position in turn, moving the line start past each separator that the
// options enable.
__attribute__((noinline)) const unsigned char *MatchEveryPosition(Matcher &m, const unsigned char *base,
                                                                  const unsigned char *const *starts, int branches,
                                                                  const unsigned char **end)
{
    for (const unsigned char *s = base;;) {
        for (int b = 0; b < branches; ++b) {
            ++m.steps;
            if ((*end = m.Program(s, starts[b])) != nullptr || m.OverLimit())
                return s;
        }
        if (*s == '\0')
            return nullptr;
        const unsigned char passed = *s++;
        if ((passed == '\n' && (m.options & QUARN_OPT_LF)) || (passed == '\r' && (m.options & QUARN_OPT_CR)))
            m.lineStart = s;
    }
}

// The three searches behind RGrep; each records the match and returns 1, or
// returns 0.
__attribute__((noinline)) int32_t Found(QuarnPattern *p, const unsigned char *at, const unsigned char *end)
{
    p->matchStart[0] = reinterpret_cast<const char *>(at);
    p->matchEnd[0] = reinterpret_cast<const char *>(end);
    return 1;
}

__attribute__((noinline)) int32_t SearchLiteral(QuarnPattern *p, const unsigned char *base)
{
    const unsigned char *program = p->body.regex.program;
    const unsigned char *lit = program + 1;
    unsigned char local[kLiteralVectorBytes];
    const LiteralSearch search = ReadLiteral(p->body.regex, local);
    const unsigned char *at = FindLiteral(base, lit, program[0] == LITERAL_ANYCASE, search.pair, search.vectors);
    if (at == nullptr)
        return 0;
    return Found(p, at, at + std::strlen(reinterpret_cast<const char *>(lit)));
}

// Flattened: the plan reader's loop is inlined here, where it is called once
// per text (the module is compiled as one unit, see CMakeLists.txt).
__attribute__((noinline, flatten)) int32_t SearchPlan(QuarnPattern *p, const unsigned char *h,
                                                      const unsigned char *base)
{
    const unsigned char *end = nullptr;
    const unsigned char *at = MatchPlan(p->body.regex, h, base, &end);
    return at != nullptr ? Found(p, at, end) : 0;
}

__attribute__((noinline)) int32_t SearchProgram(QuarnPattern *p, const unsigned char *h, const unsigned char *base)
{
    const int32_t options = gOptions;
    const unsigned char *program = p->body.regex.program;
    const unsigned char *local[QUARN_MAX_BRANCHES];
    const unsigned char *const *starts = local;
    int branches = p->body.regex.branchCount;
    if (branches >= 1 && branches <= QUARN_MAX_BRANCHES && p->body.regex.branchStart[0] == program)
        starts = p->body.regex.branchStart;
    else
        branches = BranchStarts(p, local);
    Memo memo;
    Matcher m{p, &memo, options, base, base};
    if (const int32_t limit = gStepLimit.load(std::memory_order_relaxed); limit > 0)
        m.stepLimit = static_cast<uint64_t>(limit);
    ScanSpec spec;
    bool anchored = false, none = false;
    const unsigned char *at;
    const unsigned char *end = nullptr;
    if (h != nullptr && ReadHints(h, options, &spec, &anchored, &none))
        at = MatchHinted(m, base, starts, branches, spec, anchored, none, &end);
    else
        at = MatchEveryPosition(m, base, starts, branches, &end);
    if (m.OverLimit())
        return -1; // gave up: the caller learns nothing about this text
    return at != nullptr ? Found(p, at, end) : 0;
}

} // namespace

int32_t rgrep::StepLimit()
{
    return gStepLimit.load(std::memory_order_relaxed);
}

} // namespace quarn

using namespace quarn;
using namespace quarn::rgrep;

extern "C" {

int32_t QUARN_API RGrep(const char *text, QuarnPattern *p)
{
    if (p == nullptr || text == nullptr || p->errorCode != 0)
        return -1;
    for (int n = 0; n < QUARN_MAX_TAGS; ++n)
        p->matchStart[n] = nullptr;
    p->matchEnd[0] = nullptr;

    // Each kind of program has its own search, entered by a tail call, so
    // that the short searches pay for no more registers than they use.
    const unsigned char *base = reinterpret_cast<const unsigned char *>(text);
    const unsigned char *program = p->body.regex.program;
    if ((program[0] == LITERAL || program[0] == LITERAL_ANYCASE) && p->body.regex.branchCount == 1)
        return SearchLiteral(p, base);
    const unsigned char *h = ValidHints(p->body.regex);
    if (PlanApplies(h, gOptions))
        return SearchPlan(p, h, base);
    return SearchProgram(p, h, base);
}

int32_t QUARN_API QuarnSetStepLimit(int32_t steps)
{
    return gStepLimit.exchange(steps < 0 ? 0 : steps);
}

} // extern "C"
