// Sizes and dates as users type them, the search's size/date tests, the
// export forms and duplicate groups, on trees built in memory.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "catalog_duplicates.h"
#include "catalog_export.h"
#include "catalog_search.h"
#include "catalog_tree.h"
#include "node_values.h"
#include "test_support.h"

using namespace tslcat;
using namespace tslcat_test;

namespace {

// Disc A: x.txt (100 bytes, 2020-01-01), sub/y.bin (5000, 2022-06-01);
// disc B: x.txt (100, 2021-01-01), y.bin (7, unknown time), legacy (nothing
// known).
void BuildTwoDiscs(TCatalogTree &tree)
{
    TCatalogNodes &items = tree.Items();
    TCatalogNode *a = items.AddChild(nullptr, "A");
    a->SetFileInfo(TNodeKind::Disc);
    items.AddChild(a, "x.txt")->SetFileInfo(TNodeKind::File, 100, 1577836800);
    TCatalogNode *sub = items.AddChild(a, "sub");
    sub->SetFileInfo(TNodeKind::Folder);
    items.AddChild(sub, "y.bin")->SetFileInfo(TNodeKind::File, 5000, 1654041600);
    TCatalogNode *b = items.AddChild(nullptr, "B");
    b->SetFileInfo(TNodeKind::Disc);
    items.AddChild(b, "x.txt")->SetFileInfo(TNodeKind::File, 100, 1609459200);
    items.AddChild(b, "y.bin")->SetFileInfo(TNodeKind::File, 7);
    items.AddChild(b, "legacy");
}

std::vector<std::string> Names(const std::vector<TResultRow> &rows)
{
    std::vector<std::string> names;
    for (const TResultRow &r : rows)
        names.push_back(r.discName + ":" + r.nodeName);
    return names;
}

} // namespace

TEST(NodeValues, SizeText)
{
    const struct {
        const char *text;
        bool ok;
        uint64_t bytes;
    } cases[] = {
        {"0", true, 0},
        {"123", true, 123},
        {"10K", true, 10240},
        {"2m", true, 2097152},
        {"1G", true, 1u << 30},
        {"18446744073709551615", true, UINT64_MAX},
        {"", false, 0},
        {"K", false, 0},
        {"-1", false, 0},
        {"1.5M", false, 0},
        {"10KB", false, 0},
        {"18446744073709551616", false, 0},
        {"17179869184G", false, 0}, // 2^34 GiB overflows
    };
    for (const auto &c : cases) {
        uint64_t bytes = 0;
        EXPECT_EQ(ParseSizeText(c.text, bytes), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes) << c.text;
        }
    }
}

TEST(NodeValues, DateText)
{
    const struct {
        const char *text;
        bool ok;
        int64_t seconds;
    } cases[] = {
        {"1970-01-01", true, 0},
        {"2024-05-01", true, 1714521600},
        {"2024-05-01T13:45", true, 1714571100},
        {"2024-05-01T13:45:10", true, 1714571110},
        {"2024-05-01T13:45:10Z", true, 1714571110},
        {"2024-05-01T15:45:10+02:00", true, 1714571110},
        {"2024-05-01T08:45:10-0500", true, 1714571110},
        {"2024-05-01 13:45", true, 1714571100},
        {"2024-02-30", false, 0},
        {"2024-05-01T25:00", false, 0},
        {"01.05.2024", false, 0},
        {"2024-05-01T13:45+24:00", false, 0},
        {"yesterday", false, 0},
    };
    for (const auto &c : cases) {
        int64_t seconds = -1;
        EXPECT_EQ(ParseDateText(QString::fromLatin1(c.text), seconds), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(seconds, c.seconds) << c.text;
        }
    }
    EXPECT_EQ(FormatTimeIso(1714571110), "2024-05-01T13:45:10Z");
    EXPECT_EQ(FormatTimeIso(kUnknownTime), "-");
}

TEST(NodeValues, SearchTestsNeverPassUnknownValues)
{
    TCatalogTree tree;
    BuildTwoDiscs(tree);
    auto search = [&](TValueFilter filter, TSearchKind kind = TSearchKind::Files) {
        TSearchRequest request{".", false, kind, ""};
        request.valueFilter = filter;
        return Names(RunSearch(tree, request).rows);
    };
    TValueFilter larger;
    larger.largerThan = 100; // strictly larger
    EXPECT_EQ(search(larger), (std::vector<std::string>{"A:y.bin"}));
    TValueFilter smaller;
    smaller.smallerThan = 101;
    EXPECT_EQ(search(smaller), (std::vector<std::string>{"A:x.txt", "B:x.txt", "B:y.bin"}));
    TValueFilter older;
    older.olderThan = 1609459200; // 2021-01-01: B's x.txt is not older
    EXPECT_EQ(search(older), (std::vector<std::string>{"A:x.txt"}));
    TValueFilter newer;
    newer.newerThan = 0;
    EXPECT_EQ(search(newer), (std::vector<std::string>{"A:x.txt", "A:y.bin", "B:x.txt"}));
    // Folders and discs are tested on their totals.
    TValueFilter big;
    big.largerThan = 5000;
    EXPECT_EQ(search(big, TSearchKind::Folders), (std::vector<std::string>{}));
    EXPECT_EQ(search(big, TSearchKind::Discs), (std::vector<std::string>{"A:"}));
    // Rows carry the values.
    const std::vector<TResultRow> rows = RunSearch(tree, {"legacy", false, TSearchKind::Files, ""}).rows;
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].size, kUnknownSize);
    EXPECT_EQ(rows[0].kind, TNodeKind::File);
}

TEST(CatalogExport, EachFormatByteForByte)
{
    TCatalogTree tree;
    TCatalogNodes &items = tree.Items();
    TCatalogNode *d = items.AddChild(nullptr, "Disc, \"1\"");
    d->SetFileInfo(TNodeKind::Disc);
    // Not UTF-8: Windows-1252 bytes, 0x81 undefined there.
    items.AddChild(d, "caf\xE9_\x81\x80.txt")->SetFileInfo(TNodeKind::File, 3, 0);
    items.AddChild(d, "two\nlines");
    items.AddChild(d, "\xC3\xA9t\xC3\xA9")->SetFileInfo(TNodeKind::Folder);
    const std::vector<TResultRow> rows = AllRows(tree);

    EXPECT_EQ(ExportRows(rows, TExportFormat::Tsv),
              "Disc, \"1\"\n"
              "Disc, \"1\"\tcaf\xE9_\x81\x80.txt\t[ ]:\\caf\xE9_\x81\x80.txt\n"
              "Disc, \"1\"\ttwo\nlines\t[ ]:\\two\nlines\n"
              "Disc, \"1\"\t\xC3\xA9t\xC3\xA9\t[ ]:\\\xC3\xA9t\xC3\xA9\n");
    EXPECT_EQ(ExportRows(rows, TExportFormat::Tsv, true),
              "Disc, \"1\"\t\t\t3\t1970-01-01T00:00:00Z\n"
              "Disc, \"1\"\tcaf\xE9_\x81\x80.txt\t[ ]:\\caf\xE9_\x81\x80.txt\t3\t1970-01-01T00:00:00Z\n"
              "Disc, \"1\"\ttwo\nlines\t[ ]:\\two\nlines\t-\t-\n"
              "Disc, \"1\"\t\xC3\xA9t\xC3\xA9\t[ ]:\\\xC3\xA9t\xC3\xA9\t0\t-\n");
    EXPECT_EQ(
        ExportRows(rows, TExportFormat::Csv),
        "disc,name,path,kind,size,modified\r\n"
        "\"Disc, \"\"1\"\"\",\"Disc, \"\"1\"\"\",,disc,3,1970-01-01T00:00:00Z\r\n"
        "\"Disc, \"\"1\"\"\",caf\xC3\xA9_\xEF\xBF\xBD\xE2\x82\xAC.txt,[ ]:\\caf\xC3\xA9_\xEF\xBF\xBD\xE2\x82\xAC.txt,"
        "file,3,1970-01-01T00:00:00Z\r\n"
        "\"Disc, \"\"1\"\"\",\"two\nlines\",\"[ ]:\\two\nlines\",file,,\r\n"
        "\"Disc, \"\"1\"\"\",\xC3\xA9t\xC3\xA9,[ ]:\\\xC3\xA9t\xC3\xA9,folder,0,\r\n");

    const QJsonDocument json =
        QJsonDocument::fromJson(QByteArray::fromStdString(ExportRows(rows, TExportFormat::Json)));
    ASSERT_TRUE(json.isArray());
    const QJsonArray array = json.array();
    ASSERT_EQ(array.size(), 4);
    EXPECT_EQ(array[0].toObject()["kind"].toString(), "disc");
    EXPECT_EQ(array[0].toObject()["path"].toString(), "");
    EXPECT_EQ(array[1].toObject()["name"].toString(), QString::fromUtf8("caf\xC3\xA9_\xEF\xBF\xBD\xE2\x82\xAC.txt"));
    EXPECT_EQ(array[1].toObject()["size"].toInteger(), 3);
    EXPECT_EQ(array[1].toObject()["modified"].toString(), "1970-01-01T00:00:00Z");
    EXPECT_TRUE(array[2].toObject()["size"].isNull());
    EXPECT_TRUE(array[2].toObject()["modified"].isNull());
    EXPECT_EQ(array[3].toObject()["kind"].toString(), "folder");
}

TEST(CatalogExport, LargeSizesStayExactInJson)
{
    TCatalogTree tree;
    TCatalogNode *d = tree.Items().AddChild(nullptr, "D");
    tree.Items().AddChild(d, "huge")->SetFileInfo(TNodeKind::File, (uint64_t{1} << 62) - 1, 1);
    const std::string json = ExportRows(AllRows(tree), TExportFormat::Json);
    EXPECT_NE(json.find("\"size\": 4611686018427387903"), std::string::npos) << json;
}

TEST(Duplicates, GroupsBySizeThenNameWithEveryCopy)
{
    TCatalogTree tree;
    BuildTwoDiscs(tree);
    TCatalogNodes &items = tree.Items();
    TCatalogNode *c = items.AddChild(nullptr, "C");
    items.AddChild(c, "y.bin")->SetFileInfo(TNodeKind::File, 5000, 1);
    items.AddChild(c, "legacy");
    items.AddChild(c, "x.txt")->SetFileInfo(TNodeKind::File, 99, 1);
    TCatalogNode *emptyFolder = items.AddChild(c, "sub");
    emptyFolder->SetFileInfo(TNodeKind::Folder);
    items.AddChild(nullptr, "sub"); // a disc, never a copy

    auto picture = [](const std::vector<TDuplicateGroup> &groups) {
        std::string s;
        for (const TDuplicateGroup &g : groups) {
            s += g.name + " " + FormatSizeBytes(g.size) + ":";
            for (const TResultRow &r : g.copies)
                s += " " + r.discName + r.fullPath.substr(4);
            s += "\n";
        }
        return s;
    };
    EXPECT_EQ(picture(FindDuplicates(tree, TDuplicateKey::NameAndSize)),
              "y.bin 5000: A\\sub\\y.bin C\\y.bin\n"
              "x.txt 100: A\\x.txt B\\x.txt\n");
    EXPECT_EQ(picture(FindDuplicates(tree, TDuplicateKey::Name)),
              "y.bin 5000: A\\sub\\y.bin B\\y.bin C\\y.bin\n"
              "x.txt 100: A\\x.txt B\\x.txt C\\x.txt\n"
              "legacy -: B\\legacy C\\legacy\n");
    EXPECT_EQ(picture(FindDuplicates(tree, TDuplicateKey::Name, 100)),
              "y.bin 5000: A\\sub\\y.bin C\\y.bin\n"
              "x.txt 100: A\\x.txt B\\x.txt\n");
    EXPECT_TRUE(FindDuplicates(tree, TDuplicateKey::NameAndSize, 5001).empty());
}
