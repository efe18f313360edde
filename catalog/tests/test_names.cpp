// Display decoding of raw names and the case-insensitive name order.

#include <gtest/gtest.h>

#include "catalog_names.h"

using namespace tslcat;

TEST(CatalogNames, DecodingForDisplay)
{
    const struct {
        std::string bytes;
        QString text;
    } cases[] = {
        {"plain.txt", "plain.txt"},
        {"caf\xC3\xA9.doc", QString::fromUtf8("caf\xC3\xA9.doc")}, // valid UTF-8
        {"caf\xE9.doc", QString::fromUtf8("caf\xC3\xA9.doc")},     // Windows-1252 e acute
        {"\x80uro \x93q\x94", QString::fromUtf8("\xE2\x82\xACuro \xE2\x80\x9Cq\xE2\x80\x9D")},
        {std::string("a\0b", 3), QString(QStringLiteral("a")) + QChar(0) + "b"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DecodeName(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(EncodeName(QString::fromUtf8("caf\xC3\xA9")), "caf\xC3\xA9");
}

TEST(CatalogNames, CaseInsensitiveOrder)
{
    EXPECT_EQ(CompareNamesCaseInsensitive("README", "readme"), 0);
    EXPECT_EQ(CompareNamesCaseInsensitive(".TXT", ".txt"), 0);
    EXPECT_LT(CompareNamesCaseInsensitive("", ".a"), 0);
    EXPECT_LT(CompareNamesCaseInsensitive("a.TXT", "B.txt"), 0);
    EXPECT_LT(CompareNamesCaseInsensitive("Alpha", "zeta"), 0);
    EXPECT_GT(CompareNamesCaseInsensitive("zeta", "Alpha"), 0);
    EXPECT_EQ(CompareDecodedNamesCaseInsensitive("Doc", "dOC"), 0);
}
