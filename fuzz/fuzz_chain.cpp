// Chains built from fuzzed records: each element is a regular expression,
// an approximate pattern, an operator record with any code, or a record of
// a kind the evaluator does not know.  Differential check: the result and
// the error word agree with a direct evaluation of the documented rules
// over the same records.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "quarn32.h"

namespace {

struct Model {
    const std::vector<QuarnPattern *> &chain;
    const char *text;
    bool malformed = false;

    int32_t Fail()
    {
        malformed = true;
        return -1;
    }

    // Iterative over the operators, so a long chain cannot exhaust the
    // stack: the pending left operands are combined from the right.
    int32_t Eval(size_t at)
    {
        struct Pending {
            int32_t r;
            uint32_t op;
        };
        std::vector<Pending> pending;
        int32_t value = 0;
        for (;;) {
            QuarnPattern *e = chain[at];
            int32_t r;
            if (e->kind == QUARN_KIND_APPROX)
                r = AGrep(text, e);
            else if (e->kind == QUARN_KIND_REGEX)
                r = RGrep(text, e);
            else {
                value = Fail();
                break;
            }
            if (at + 1 == chain.size()) {
                value = r;
                break;
            }
            QuarnPattern *op = chain[at + 1];
            if (op->kind != QUARN_KIND_OPERATOR || at + 2 == chain.size()) {
                value = Fail();
                break;
            }
            const uint32_t code = static_cast<uint32_t>(op->errorCode);
            if (code > 13) {
                value = Fail();
                break;
            }
            bool needRest = true;
            switch (code) {
            case OP_FALSE:
                value = 0;
                needRest = false;
                break;
            case OP_NOT:
                value = r == 0;
                needRest = false;
                break;
            case OP_BITNOT:
                value = ~r;
                needRest = false;
                break;
            case OP_AND:
                if (r == 0) {
                    value = 0;
                    needRest = false;
                }
                break;
            case OP_NAND:
                if (r == 0) {
                    value = 1;
                    needRest = false;
                }
                break;
            case OP_OR:
                if (r != 0) {
                    value = 1;
                    needRest = false;
                }
                break;
            case OP_NOR:
                if (r != 0) {
                    value = 0;
                    needRest = false;
                }
                break;
            default:
                break;
            }
            if (!needRest)
                break;
            pending.push_back({r, code});
            at += 2;
        }
        while (!pending.empty()) {
            const Pending p = pending.back();
            pending.pop_back();
            const uint32_t r = static_cast<uint32_t>(p.r), v = static_cast<uint32_t>(value);
            switch (p.op) {
            case OP_AND:
                value = v != 0;
                break;
            case OP_OR:
                value = v != 0;
                break;
            case OP_NAND:
                value = v == 0;
                break;
            case OP_NOR:
                value = v == 0;
                break;
            case OP_ADD:
                value = static_cast<int32_t>(r + v);
                break;
            case OP_SUB:
                value = static_cast<int32_t>(r - v);
                break;
            case OP_BITAND:
                value = static_cast<int32_t>(r & v);
                break;
            case OP_BITOR:
                value = static_cast<int32_t>(r | v);
                break;
            case OP_BITXOR:
                value = static_cast<int32_t>(r ^ v);
                break;
            case OP_BITNAND:
                value = static_cast<int32_t>(~(r & v));
                break;
            case OP_BITNOR:
                value = static_cast<int32_t>(~(r | v));
                break;
            default:
                std::abort();
            }
        }
        return value;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    quarn_fuzz::FuzzInput in(data, size);
    const std::string text = in.Text();
    QuarnMessages(0);

    // Element descriptions: a role byte, then (patterns) a text.
    std::vector<std::unique_ptr<QuarnPattern>> owned;
    std::vector<QuarnPattern *> chain;
    std::vector<QuarnPattern *> approx;
    while (!in.Empty() && chain.size() < 64) {
        const uint8_t role = in.Byte();
        auto e = std::make_unique<QuarnPattern>();
        switch (role & 3) {
        case 0: // operator record, any code (above 13 now and then)
            e->kind = QUARN_KIND_OPERATOR;
            e->errorCode = (role & 0x80) ? static_cast<int8_t>(role) : (role >> 2) % 14;
            break;
        case 1: {
            e->kind = QUARN_KIND_APPROX;
            AGrepInit(e.get());
            const std::string pattern = in.Text();
            CompileAGrep(pattern.c_str(), (role >> 2) & 3, role & 0x10, e.get());
            approx.push_back(e.get());
            break;
        }
        case 2: {
            e->kind = QUARN_KIND_REGEX;
            const std::string pattern = in.Text();
            if (!quarn_fuzz::FewClosures(pattern)) {
                for (QuarnPattern *a : approx)
                    AGrepEmpty(a);
                QuarnMessages(1);
                return 0;
            }
            CompileRGrep(pattern.c_str(), role & 4, e.get());
            break;
        }
        default: // a kind the evaluator must refuse
            e->kind = 3 + (role >> 2);
            break;
        }
        chain.push_back(e.get());
        owned.push_back(std::move(e));
    }

    PushQuarnInfo(nullptr);
    for (QuarnPattern *e : chain)
        PushQuarnInfo(e);
    QuarnSetError(7); // reset on entry
    const int32_t result = Quarn(text.c_str());
    const int32_t errorWord = QuarnGetError();
    if (chain.empty()) {
        FUZZ_CHECK(result == -1 && errorWord == 1);
    } else {
        Model model{chain, text.c_str()};
        const int32_t expected = model.Eval(0);
        FUZZ_CHECK(result == expected);
        FUZZ_CHECK(errorWord == (model.malformed ? 1 : 0));
    }
    PushQuarnInfo(nullptr);
    for (QuarnPattern *e : approx)
        AGrepEmpty(e);
    QuarnMessages(1);
    return 0;
}
