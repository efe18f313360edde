// Typed text against stored names: the Windows-1252 form of typed text, a
// search that finds a name stored in either encoding, and limits cut
// between characters.

#include <gtest/gtest.h>

#include <QString>

#include "catalog_names.h"
#include "catalog_search.h"
#include "catalog_tree.h"
#include "test_support.h"

using namespace tslcat;
using namespace tslcat_test;

TEST(TypedText, Windows1252Form)
{
    const struct {
        const char16_t *typed;
        const char *hex; // expected bytes; "" = no other form
    } cases[] = {
        {u"readme", ""},               // ASCII: the same in both
        {u"", ""},                     //
        {u"caf\u00e9", "63 61 66 E9"}, // é
        {u"\u00c4rger \u00df", "C4 72 67 65 72 20 DF"},
        {u"\u20ac 5", "80 20 35"}, // the euro sign lives in 0x80..0x9F
        {u"\u201equote\u201c", "84 71 75 6F 74 65 93"},
        {u"\u0081", "81"},     // one of the five bytes that stand for themselves
        {u"\u0080", ""},       // U+0080 has no Windows-1252 byte
        {u"\u65e5\u672c", ""}, // nor has Japanese
        {u"\u00e9\u65e5", ""}, // one missing character spoils the form
    };
    for (const auto &c : cases) {
        const QString typed = QString::fromUtf16(c.typed);
        EXPECT_EQ(ToHex(EncodeNameWindows1252(typed)), ToHex(Hex(c.hex))) << typed.toStdString();
        // What the file-type list shows for a stored name types back to it.
        if (*c.hex) {
            EXPECT_EQ(EncodeNameWindows1252(DecodeName(Hex(c.hex))), Hex(c.hex)) << typed.toStdString();
        }
    }
}

TEST(TypedText, CutAtCharacterBoundary)
{
    const struct {
        const char *hex;
        size_t max;
        size_t expected;
    } cases[] = {
        {"61 62 63", 5, 3},          // fits
        {"61 62 63", 2, 2},          // ASCII: any byte
        {"61 C3 A9 62", 2, 1},       // é (C3 A9) would be split: cut before it
        {"61 C3 A9 62", 3, 3},       // after it
        {"E2 82 AC E2 82 AC", 4, 3}, // euro signs, 3 bytes each
        {"E2 82 AC E2 82 AC", 2, 0},
        {"F0 9F 98 80 61", 3, 0}, // a 4-byte character
        {"F0 9F 98 80 61", 4, 4},
        {"61 E9 A9 62", 2, 2}, // not UTF-8: single-byte text, any byte
        {"", 0, 0},
    };
    for (const auto &c : cases) {
        const std::string bytes = Hex(c.hex);
        EXPECT_EQ(CutAtCharacterBoundary(bytes, c.max), c.expected) << c.hex << " max " << c.max;
    }
}

TEST(TypedText, LimitToUtf8Bytes)
{
    const struct {
        const char16_t *typed;
        size_t max;
        const char16_t *expected;
    } cases[] = {
        {u"abc", 3, u"abc"},
        {u"abc", 2, u"ab"},
        {u"a\u00e9b", 2, u"a"}, // é is 2 bytes
        {u"a\u00e9b", 3, u"a\u00e9"},
        {u"\u20ac\u20ac", 5, u"\u20ac"}, // 3 bytes each
        {u"x\U0001F600", 4, u"x"},       // a surrogate pair is 4 bytes, never split
        {u"x\U0001F600", 5, u"x\U0001F600"},
    };
    for (const auto &c : cases) {
        const QString typed = QString::fromUtf16(c.typed);
        const QString limited = LimitToUtf8Bytes(typed, c.max);
        EXPECT_EQ(limited, QString::fromUtf16(c.expected)) << typed.toStdString() << " max " << c.max;
        EXPECT_LE(static_cast<size_t>(limited.toUtf8().size()), c.max);
    }
    // 50 bytes of two-byte characters and one more: the box keeps 25.
    EXPECT_EQ(LimitToUtf8Bytes(QString(26, QChar(0xE9)), 50).size(), 25);
}

namespace {

// A catalog from Windows (Windows-1252 names) and one from Linux (UTF-8).
void BuildMixedCatalog(TCatalogTree &tree)
{
    TCatalogNodes &n = tree.Items();
    TCatalogNode *win = n.AddChild(nullptr, "Windows CD");
    n.AddChild(win, Hex("63 61 66 E9 2E 74 78 74")); // café.txt
    n.AddChild(win, Hex("6E 6F 74 65 2E E9 74 E9")); // note.été
    TCatalogNode *lin = n.AddChild(nullptr, "Linux CD");
    n.AddChild(lin, Hex("63 61 66 C3 A9 2E 74 78 74"));    // café.txt
    n.AddChild(lin, Hex("6E 6F 74 65 2E C3 A9 74 C3 A9")); // note.été
    n.AddChild(lin, "cafe.txt");
}

std::string Hits(const TCatalogTree &tree, const QString &expression, const QString &filter = QString(),
                 TSearchKind kind = TSearchKind::FilesAndFolders)
{
    TSearchRequest request;
    request.kind = kind;
    SetTypedExpression(request, expression);
    SetTypedFileTypeFilter(request, filter);
    std::string out;
    for (const TResultRow &row : RunSearch(tree, request).rows)
        out += row.discName + ":" + DecodeName(row.nodeName).toStdString() + " ";
    return out;
}

} // namespace

// An accented name stored as Windows-1252 could never be found by typing it.
TEST(TypedText, SearchFindsANameStoredInEitherEncoding)
{
    TCatalogTree tree;
    BuildMixedCatalog(tree);
    EXPECT_EQ(Hits(tree, QString::fromUtf16(u"caf\u00e9")), "Windows CD:caf\u00e9.txt Linux CD:caf\u00e9.txt ");
    EXPECT_EQ(Hits(tree, QString::fromUtf16(u"^caf\u00e9\\.txt$")), "Windows CD:caf\u00e9.txt Linux CD:caf\u00e9.txt ");
    EXPECT_EQ(Hits(tree, "cafe"), "Linux CD:cafe.txt ");
    // A typed filter passes both stored forms of its extension.
    EXPECT_EQ(Hits(tree, ".", QString::fromUtf16(u".\u00e9t\u00e9"), TSearchKind::Files),
              "Windows CD:note.\u00e9t\u00e9 Linux CD:note.\u00e9t\u00e9 ");
    EXPECT_EQ(Hits(tree, ".", ".txt", TSearchKind::Files),
              "Windows CD:caf\u00e9.txt Linux CD:caf\u00e9.txt Linux CD:cafe.txt ");
}

TEST(TypedText, AFilterOfStoredBytesComparesThoseBytes)
{
    TCatalogTree tree;
    BuildMixedCatalog(tree);
    TSearchRequest request;
    request.kind = TSearchKind::Files;
    request.expression = ".";
    request.fileTypeFilter = Hex("2E E9 74 E9"); // chosen from the list: stored bytes, no alternative
    const TSearchOutcome outcome = RunSearch(tree, request);
    ASSERT_EQ(outcome.rows.size(), 1u);
    EXPECT_EQ(outcome.rows[0].discName, "Windows CD");
}

TEST(TypedText, ExpressionIsCutBetweenCharactersAt50Bytes)
{
    TCatalogTree tree;
    // 49 ASCII bytes and then é (C3 A9): a cut at byte 50 kept half of it.
    const std::string prefix(49, 'a');
    TSearchContext ctx(tree, prefix + "\xC3\xA9", false);
    ASSERT_EQ(ctx.CompileResult(), 0);
    // Cut between characters the expression is the 49 bytes, so any 50th
    // character matches; half of é would still demand the byte C3.
    EXPECT_TRUE(ctx.Matches(prefix + "\xC3\xA8"));
    EXPECT_TRUE(ctx.Matches(prefix + "z"));
    EXPECT_FALSE(ctx.Matches(std::string(48, 'a')));
}
