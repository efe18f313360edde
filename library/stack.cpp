// STACK: the library-wide error word.  Pattern chains (PushQuarnInfo,
// Quarn) share this module because chain evaluation is the only library
// code that writes the error word.
//
// A chain is pattern, operator, pattern, ... and means A op1 (B op2 (...)).
// The evaluator walks it forward, keeping each left operand and operator on
// an explicit stack until an operator does not need the rest of the chain
// (or the chain ends), then folds the stack from the right.  So the order in
// which patterns are matched, and which ones are skipped, is that of a
// right-recursive evaluation, without recursion.
#include <atomic>
#include <new>
#include <vector>

#include "quarn32.h"
#include "quarn_private.h"

namespace quarn {
// Atomic so that threads setting, resetting or reading it at once each see
// a whole value and a first error is still never overwritten.
std::atomic<int32_t> gErrorWord{0};

namespace {

QuarnPattern *gChainHead = nullptr;
// The tail while building, the element reached last after an evaluation.
QuarnPattern *gChainCursor = nullptr;
const char *gChainText = nullptr;

// Guards against a cycle written into the next fields by a caller.
constexpr long kMaxChainPatterns = 1000000;

int32_t Malformed()
{
    int32_t clear = 0;
    gErrorWord.compare_exchange_strong(clear, 1);
    return -1;
}

// Whether operator `op` needs the value of the rest of the chain after a
// left operand `r`.
bool NeedsRest(uint32_t op, int32_t r)
{
    switch (op) {
    case OP_FALSE:
    case OP_NOT:
    case OP_BITNOT:
        return false;
    case OP_AND:
    case OP_NAND:
        return r != 0;
    case OP_OR:
    case OP_NOR:
        return r == 0;
    default:
        return true;
    }
}

// Arithmetic wraps like the 32-bit registers it was defined on.
int32_t Wrap(uint32_t v)
{
    return static_cast<int32_t>(v);
}

int32_t Combine(uint32_t op, int32_t r, int32_t v)
{
    const uint32_t ur = static_cast<uint32_t>(r), uv = static_cast<uint32_t>(v);
    switch (op) {
    case OP_FALSE:
        return 0;
    case OP_NOT:
        return r == 0 ? 1 : 0;
    case OP_AND:
        return (r != 0 && v != 0) ? 1 : 0;
    case OP_OR:
        return (r != 0 || v != 0) ? 1 : 0;
    case OP_NAND:
        return (r != 0 && v != 0) ? 0 : 1;
    case OP_NOR:
        return (r == 0 && v == 0) ? 1 : 0;
    case OP_ADD:
        return Wrap(ur + uv);
    case OP_SUB:
        return Wrap(ur - uv);
    case OP_BITNOT:
        return Wrap(~ur);
    case OP_BITAND:
        return Wrap(ur & uv);
    case OP_BITOR:
        return Wrap(ur | uv);
    case OP_BITXOR:
        return Wrap(ur ^ uv);
    case OP_BITNAND:
        return Wrap(~(ur & uv));
    default:
        return Wrap(~(ur | uv)); // OP_BITNOR
    }
}

struct Pending {
    int32_t left;
    uint32_t op;
};

int32_t EvalChain()
{
    std::vector<Pending> pending;
    int32_t value = 0;
    for (long patterns = 1;; ++patterns) {
        QuarnPattern *element = gChainCursor;
        if (patterns > kMaxChainPatterns || (element->kind != QUARN_KIND_APPROX && element->kind != QUARN_KIND_REGEX)) {
            value = Malformed();
            break;
        }
        const int32_t r = element->kind == QUARN_KIND_APPROX ? AGrep(gChainText, element) : RGrep(gChainText, element);
        if (element->next == nullptr) {
            value = r;
            break;
        }
        QuarnPattern *op = element->next;
        gChainCursor = op;
        if (op->kind != QUARN_KIND_OPERATOR) {
            value = Malformed();
            break;
        }
        const uint32_t code = static_cast<uint32_t>(op->errorCode);
        if (op->next == nullptr) {
            value = Malformed();
            break;
        }
        gChainCursor = op->next;
        if (code > OP_BITNOR) {
            value = Malformed();
            break;
        }
        if (!NeedsRest(code, r)) {
            value = Combine(code, r, 0);
            break;
        }
        try {
            pending.push_back({r, code});
        } catch (const std::bad_alloc &) {
            value = Malformed();
            break;
        }
    }
    while (!pending.empty()) {
        value = Combine(pending.back().op, pending.back().left, value);
        pending.pop_back();
    }
    return value;
}

} // namespace

} // namespace quarn

using namespace quarn;

extern "C" {

int32_t QUARN_API QuarnGetError(void)
{
    return gErrorWord.load();
}

int32_t QUARN_API QuarnSetError(int32_t code)
{
    // Stores only over 0; otherwise `present` receives the value kept.
    int32_t present = 0;
    if (gErrorWord.compare_exchange_strong(present, code))
        return 0;
    return present;
}

int32_t QUARN_API QuarnResetError(int32_t code)
{
    return gErrorWord.exchange(code);
}

int32_t QUARN_API PushQuarnInfo(QuarnPattern *p)
{
    if (p == nullptr) {
        gChainHead = nullptr;
        gChainCursor = nullptr;
        return 0;
    }
    p->next = nullptr;
    if (gChainHead == nullptr)
        gChainHead = p;
    if (gChainCursor == nullptr) {
        gChainCursor = p;
    } else {
        gChainCursor->next = p;
        gChainCursor = p;
    }
    return 0;
}

int32_t QUARN_API Quarn(const char *text)
{
    gChainText = text;
    gChainCursor = gChainHead;
    gErrorWord.store(0);
    if (gChainCursor == nullptr)
        return Malformed();
    return EvalChain();
}

} // extern "C"
