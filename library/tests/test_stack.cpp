// Pattern chains: every operator with both operand values, short-circuiting
// (unevaluated patterns keep their positions), right-to-left grouping,
// malformed chains and the error word, and the cursor that doubles as the
// tail of the chain.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "test_support.h"

namespace {

class Chain {
public:
    QuarnPattern *Regex(const char *pattern)
    {
        QuarnPattern *p = Add(QUARN_KIND_REGEX);
        EXPECT_EQ(CompileRGrep(pattern, 1, p), 0);
        return p;
    }
    QuarnPattern *Approx(const char *pattern, int errors)
    {
        QuarnPattern *p = Add(QUARN_KIND_APPROX);
        AGrepInit(p);
        approx_.push_back(p);
        EXPECT_EQ(CompileAGrep(pattern, errors, 1, p), 0);
        return p;
    }
    QuarnPattern *Op(int32_t code)
    {
        QuarnPattern *p = Add(QUARN_KIND_OPERATOR);
        p->errorCode = code;
        return p;
    }
    QuarnPattern *Other(int32_t kind) { return Add(kind); }

    // Pushes the given elements as a fresh chain.
    static void Build(std::initializer_list<QuarnPattern *> elements)
    {
        EXPECT_EQ(PushQuarnInfo(nullptr), 0);
        for (QuarnPattern *e : elements)
            EXPECT_EQ(PushQuarnInfo(e), 0);
    }

    ~Chain()
    {
        PushQuarnInfo(nullptr);
        for (QuarnPattern *p : approx_)
            AGrepEmpty(p);
    }

private:
    QuarnPattern *Add(int32_t kind)
    {
        records_.push_back(quarn_test::NewPattern());
        records_.back()->kind = kind;
        return records_.back().get();
    }
    std::vector<std::unique_ptr<QuarnPattern>> records_;
    std::vector<QuarnPattern *> approx_;
};

const char kSentinel[] = "untouched";

TEST(Chain, SinglePatternGivesItsMatcherResult)
{
    Chain c;
    QuarnPattern *a = c.Regex("a+b");
    Chain::Build({a});
    QuarnSetError(0);
    const char text[] = "xaab";
    EXPECT_EQ(Quarn(text), 1);
    EXPECT_EQ(a->matchStart[0], text + 1) << "positions are written as by a direct call";
    EXPECT_EQ(Quarn("xyz"), 0);
    EXPECT_EQ(QuarnGetError(), 0);
    QuarnMessages(0);
    CompileRGrep("[", 1, a);
    QuarnMessages(1);
    EXPECT_EQ(Quarn("a"), -1) << "a refused record is just a result";
    EXPECT_EQ(QuarnGetError(), 0);
}

TEST(Chain, EveryOperatorWithBothOperandValues)
{
    // Results and whether B was evaluated, for (r, v) = (1,1), (1,0), (0,1),
    // (0,0); A matches 'a', B matches 'b'.
    const char *texts[4] = {"ab", "a", "b", "x"};
    const struct {
        int32_t op;
        int32_t result[4];
        bool evaluated[4];
    } cases[] = {
        {OP_FALSE, {0, 0, 0, 0}, {false, false, false, false}},
        {OP_NOT, {0, 0, 1, 1}, {false, false, false, false}},
        {OP_AND, {1, 0, 0, 0}, {true, true, false, false}},
        {OP_OR, {1, 1, 1, 0}, {false, false, true, true}},
        {OP_NAND, {0, 1, 1, 1}, {true, true, false, false}},
        {OP_NOR, {0, 0, 0, 1}, {false, false, true, true}},
        {OP_ADD, {2, 1, 1, 0}, {true, true, true, true}},
        {OP_SUB, {0, 1, -1, 0}, {true, true, true, true}},
        {OP_BITNOT, {-2, -2, -1, -1}, {false, false, false, false}},
        {OP_BITAND, {1, 0, 0, 0}, {true, true, true, true}},
        {OP_BITOR, {1, 1, 1, 0}, {true, true, true, true}},
        {OP_BITXOR, {0, 1, 1, 0}, {true, true, true, true}},
        {OP_BITNAND, {-2, -1, -1, -1}, {true, true, true, true}},
        {OP_BITNOR, {-2, -2, -2, -1}, {true, true, true, true}},
    };
    Chain c;
    QuarnPattern *a = c.Regex("a");
    QuarnPattern *b = c.Regex("b");
    QuarnPattern *op = c.Op(0);
    Chain::Build({a, op, b});
    for (const auto &row : cases) {
        op->errorCode = row.op;
        for (int i = 0; i < 4; ++i) {
            b->matchStart[0] = kSentinel;
            EXPECT_EQ(Quarn(texts[i]), row.result[i]) << "op " << row.op << " text " << texts[i];
            EXPECT_EQ(b->matchStart[0] != kSentinel, row.evaluated[i]) << "op " << row.op << " text " << texts[i];
            EXPECT_EQ(QuarnGetError(), 0);
        }
    }
}

TEST(Chain, OperandsOtherThanZeroAndOne)
{
    Chain c;
    QuarnPattern *a = c.Approx("ab", 0); // counts occurrences
    QuarnPattern *b = c.Regex("b");
    QuarnPattern *op = c.Op(OP_ADD);
    Chain::Build({a, op, b});
    EXPECT_EQ(Quarn("ab ab ab"), 4);
    op->errorCode = OP_AND;
    EXPECT_EQ(Quarn("ab ab ab"), 1);
    op->errorCode = OP_BITXOR;
    EXPECT_EQ(Quarn("ab ab ab"), 2);
    // A refused record gives -1, which counts as true for the boolean
    // operators and as a number for the others.
    QuarnMessages(0);
    CompileRGrep("\\(", 1, b);
    QuarnMessages(1);
    op->errorCode = OP_AND;
    EXPECT_EQ(Quarn("ab"), 1);
    op->errorCode = OP_ADD;
    EXPECT_EQ(Quarn("ab ab"), 1);
    op->errorCode = OP_BITNAND;
    EXPECT_EQ(Quarn("ab"), ~(1 & -1));
}

TEST(Chain, GroupsFromTheRight)
{
    Chain c;
    QuarnPattern *a = c.Regex("a"), *b = c.Regex("b"), *d = c.Regex("d");
    QuarnPattern *sub1 = c.Op(OP_SUB), *sub2 = c.Op(OP_SUB);
    Chain::Build({a, sub1, b, sub2, d});
    EXPECT_EQ(Quarn("abd"), 1); // 1 - (1 - 1), not (1 - 1) - 1
    EXPECT_EQ(Quarn("ad"), 2);  // 1 - (0 - 1)
    sub2->errorCode = OP_OR;
    EXPECT_EQ(Quarn("ab"), 0); // 1 - (1 or ...) with d never evaluated
}

TEST(Chain, ArithmeticWrapsAt32Bits)
{
    Chain c;
    QuarnPattern *a = c.Regex("a"), *b = c.Regex("b");
    QuarnPattern *not1 = c.Op(OP_BITNOT);
    QuarnPattern *sub = c.Op(OP_SUB);
    QuarnPattern *x = c.Regex("x");
    // a SUB (b BITNOT x): 1 - ~1 = 3; no overflow here, but the operations
    // must be well defined for any values (checked by the sanitizer).
    Chain::Build({a, sub, b, not1, x});
    EXPECT_EQ(Quarn("ab"), 3);
}

TEST(Chain, MalformedChains)
{
    Chain c;
    QuarnPattern *a = c.Regex("a"), *b = c.Regex("b");
    QuarnPattern *andOp = c.Op(OP_AND), *andOp2 = c.Op(OP_AND), *bad = c.Op(14);
    QuarnPattern *negative = c.Op(-1);
    QuarnPattern *strange = c.Other(5);

    struct Row {
        std::vector<QuarnPattern *> chain;
        const char *text;
        int32_t result;
        int32_t errorWord;
    };
    const Row rows[] = {
        {{a, andOp}, "a", -1, 1},           // ends in an operator record
        {{a, bad, b}, "ab", -1, 1},         // operator code above 13
        {{a, negative, b}, "ab", -1, 1},    // taken as unsigned
        {{a, b}, "ab", -1, 1},              // pattern after pattern
        {{andOp, a}, "a", -1, 1},           // operator where a pattern belongs
        {{strange}, "a", -1, 1},            // unknown kind
        {{a, andOp, andOp2, b}, "a", 1, 1}, // inner -1 is true for AND
        {{a, andOp, andOp2, b}, "x", 0, 0}, // short-circuit: never reached
        {{a, andOp, strange}, "a", 1, 1},
        {{a, andOp, strange}, "x", 0, 0},
    };
    for (const Row &row : rows) {
        PushQuarnInfo(nullptr);
        for (QuarnPattern *e : row.chain)
            PushQuarnInfo(e);
        QuarnSetError(7);
        EXPECT_EQ(Quarn(row.text), row.result) << &row - rows;
        EXPECT_EQ(QuarnGetError(), row.errorWord) << &row - rows;
    }

    PushQuarnInfo(nullptr);
    EXPECT_EQ(Quarn("a"), -1) << "empty chain";
    EXPECT_EQ(QuarnGetError(), 1);
    QuarnResetError(0);
}

TEST(Chain, NotNeverLooksAtItsRightElement)
{
    Chain c;
    QuarnPattern *a = c.Regex("a");
    QuarnPattern *x = c.Other(99); // would be malformed if evaluated
    Chain::Build({a, c.Op(OP_NOT), x});
    EXPECT_EQ(Quarn("b"), 1);
    EXPECT_EQ(Quarn("a"), 0);
    EXPECT_EQ(QuarnGetError(), 0);
}

TEST(Chain, PushResetsNextAndTheCursorIsTheTail)
{
    Chain c;
    QuarnPattern *a = c.Regex("a"), *b = c.Regex("b"), *d = c.Regex("d"), *e = c.Regex("e");
    QuarnPattern *andOp = c.Op(OP_AND), *orOp = c.Op(OP_OR);

    a->next = e; // stale links are cleared when pushed
    Chain::Build({a});
    EXPECT_EQ(a->next, nullptr);
    // After a full evaluation the cursor is the last element: pushing goes on
    // from there.
    EXPECT_EQ(Quarn("a"), 1);
    PushQuarnInfo(orOp);
    PushQuarnInfo(b);
    EXPECT_EQ(a->next, orOp);
    EXPECT_EQ(orOp->next, b);
    EXPECT_EQ(Quarn("b"), 1);

    // An evaluation that stops early leaves the cursor on the element after
    // the operator; a push then links there and cuts off the rest.
    Chain::Build({a, andOp, b, orOp, d});
    EXPECT_EQ(Quarn("x"), 0); // stops at b
    PushQuarnInfo(e);
    EXPECT_EQ(b->next, e);
    d->matchStart[0] = kSentinel;
    EXPECT_EQ(Quarn("ab"), 1); // a AND (b followed by a pattern: malformed, -1)
    EXPECT_EQ(QuarnGetError(), 1);
    EXPECT_EQ(d->matchStart[0], kSentinel) << "d is no longer in the chain";
    QuarnResetError(0);
}

TEST(Chain, QuarnResetsTheErrorWord)
{
    Chain c;
    Chain::Build({c.Regex("a")});
    QuarnResetError(0);
    EXPECT_EQ(QuarnSetError(5), 0);
    EXPECT_EQ(Quarn("a"), 1);
    EXPECT_EQ(QuarnGetError(), 0);
}

TEST(Chain, CycleWrittenByTheCallerEnds)
{
    Chain c;
    QuarnPattern *a = c.Regex("a");
    QuarnPattern *add = c.Op(OP_ADD);
    Chain::Build({a, add});
    add->next = a; // a ADD a ADD a ... forever
    const int32_t result = Quarn("a");
    EXPECT_EQ(QuarnGetError(), 1);
    EXPECT_EQ(result, 1000000 - 1) << "a million patterns matched, then -1";
    QuarnResetError(0);
}

} // namespace
