// The catalog database file: byte-exact binary form, the text form with its
// reader's quirks, hostile and truncated files, and the safe save.

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
#define TSLCAT_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TSLCAT_TEST_ASAN 1
#endif
#endif
#ifdef TSLCAT_TEST_ASAN
// From the sanitizer runtime (its header does not ship with every compiler).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

#include "catalog_errors.h"
#include "catalog_tree.h"
#include "test_support.h"

using namespace tslcat;
using namespace tslcat_test;

namespace {

std::string Int32(int32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    return s;
}

// A record laid out field by field as the format lists them, with the
// defaults every catalog file holds.
std::string Record(int32_t image, int32_t selected, int32_t children, const std::string &name, char expanded = 0,
                   char selectedFlag = 0)
{
    std::string r;
    r += Int32(image) + Int32(selected) + Int32(0) + Int32(-1) + Int32(1);
    r += std::string{'\0', '\0', '\1', expanded, selectedFlag};
    r += Int32(0) + Int32(children) + Int32(0);
    r += std::string{'\1', '\1'};
    r += std::string(48, '\0');
    r += static_cast<char>(name.size());
    r += name;
    return r;
}

std::string Block(const std::string &record)
{
    return Int32(static_cast<int32_t>(record.size())) + record;
}

const std::string kSignature = Hex("0D 54 4E 54 0D");

std::string BackupExampleFile()
{
    // The record of a.txt byte for byte, as the small reference catalog holds it.
    const std::string aTxt = Hex("0A 00 00 00 | 0A 00 00 00 | 00 00 00 00 | FF FF FF FF | 01 00 00 00 | 00 | 00 | "
                                 "01 | 00 | 00 | 00 00 00 00 | 00 00 00 00 | 00 00 00 00 | 01 | 01") +
        std::string(48, '\0') + Hex("05 | 61 2E 74 78 74");
    return kSignature + Hex("00 | 01 00 00 00") + Hex("5E 00 00 00") + Record(3, 4, 1, "Backup") + Hex("5C 00 00 00") +
        Record(3, 4, 2, "Docs") + Hex("5D 00 00 00") + aTxt + Hex("5D 00 00 00") + Record(10, 10, 0, "b.doc");
}

struct LoadAttempt {
    std::string error; // "" when no exception
    std::string outline;
};

LoadAttempt TryLoad(const std::string &bytes)
{
    TCatalogTree tree;
    LoadAttempt r;
    try {
        LoadFromBytes(tree, bytes);
    } catch (const Exception &e) {
        r.error = e.what();
    }
    EXPECT_EQ(tree.Items().UpdateCount(), 0) << "update suspension left on";
    r.outline = Outline(tree);
    return r;
}

} // namespace

TEST(CatalogFile, WorkedExampleIsByteExactBothWays)
{
    const std::string expected = BackupExampleFile();
    ASSERT_EQ(expected.size(), 398u);

    TCatalogTree tree;
    BuildBackupExample(tree);
    EXPECT_EQ(ToHex(SaveToBytes(tree)), ToHex(expected));

    TCatalogTree loaded;
    LoadFromBytes(loaded, expected);
    EXPECT_EQ(Outline(loaded), "Backup\n  Docs\n    a.txt\n    b.doc\n");
    EXPECT_EQ(loaded.Items().Item(0)->ImageIndex(), 3);
    EXPECT_EQ(loaded.Items().Item(1)->SelectedIndex(), 4);
    EXPECT_EQ(loaded.Items().Item(3)->ImageIndex(), 10);
    EXPECT_EQ(SaveToBytes(loaded), expected);
}

TEST(CatalogFile, FixedSizeCases)
{
    const struct {
        const char *what;
        std::vector<std::string> names; // one disc per name, no children
        std::string expected;
    } cases[] = {
        {"empty tree", {}, kSignature + Hex("00 00 00 00 00")},
        {"empty name", {""}, kSignature + Hex("00 01 00 00 00") + Hex("58 00 00 00") + Record(-1, -1, 0, "")},
        {"name of 300 bytes keeps 255",
         {std::string(300, 'n')},
         kSignature + Hex("00 01 00 00 00") + Hex("57 01 00 00") + Record(-1, -1, 0, std::string(255, 'n'))},
    };
    for (const auto &c : cases) {
        TCatalogTree tree;
        for (const auto &name : c.names)
            tree.Items().AddChild(nullptr, name);
        const std::string bytes = SaveToBytes(tree);
        EXPECT_EQ(ToHex(bytes), ToHex(c.expected)) << c.what;
        TCatalogTree back;
        LoadFromBytes(back, bytes);
        ASSERT_EQ(back.Items().Count(), static_cast<int>(c.names.size())) << c.what;
        for (size_t i = 0; i < c.names.size(); ++i)
            EXPECT_EQ(back.Items().Item(static_cast<int>(i))->Text(), c.names[i].substr(0, 255)) << c.what;
    }
    EXPECT_EQ(SaveToBytes(TCatalogTree()).size(), 10u);
}

TEST(CatalogFile, TextFormIsTheIndentedOutline)
{
    TCatalogTree tree;
    BuildBackupExample(tree);
    const std::string text = SaveToBytes(tree, false);
    EXPECT_EQ(text, "Backup\r\n\tDocs\r\n\t\ta.txt\r\n\t\tb.doc\r\n");
    EXPECT_EQ(text.size(), 33u);
    EXPECT_EQ(SaveToBytes(TCatalogTree(), false), "");
    TCatalogTree back;
    LoadFromBytes(back, text);
    EXPECT_EQ(Outline(back), Outline(tree));
}

TEST(CatalogFile, TextFormReaderQuirks)
{
    using namespace std::string_literals;
    const struct {
        const char *what;
        std::string input;
        std::string error;
        std::string outline;
    } cases[] = {
        {"nesting and a later top-level node", "A\r\n\tB\r\n\t\tC\r\nD", "", "A\n  B\n    C\nD\n"},
        {"two levels deeper", "A\r\n\t\tB", "Invalid item level assignment", "A\n"},
        {"mixed line ends and blank lines", "A\n\tB\r\r\n\n\t\tC\rD\r\n", "", "A\n  B\n    C\nD\n"},
        {"spaces indent too", "A\r\n B\r\n  C", "", "A\n  B\n    C\n"},
        {"leading tab belongs to the first name", "\tA\r\n\tB", "", "\tA\n  B\n"},
        {"blank first line", "\r\nA\r\n", "", ""},
        {"zero byte first", "\0A\r\n"s, "", ""},
        {"zero byte ends the text", "A\r\nB\0C\r\n"s, "", "A\nB\n"},
        {"empty input", "", "", ""},
        {"shorter than the signature", "AB", "", "AB\n"},
        {"other bytes than the signature", "\rTNT!\r\nx", "", ""},
        {"other bytes, first line kept", "xTNT!\r\n", "", "xTNT!\n"},
        {"whitespace-only line goes back to the top level", "A\r\n\tB\r\n\t\r\n\tC\r\n", "", "A\n  B\n\tC\n"},
        {"return to a middle level", "A\r\n\tB\r\n\t\tC\r\n\tD\r\nE", "", "A\n  B\n    C\n  D\nE\n"},
    };
    for (const auto &c : cases) {
        LoadAttempt r = TryLoad(c.input);
        EXPECT_EQ(r.error, c.error) << c.what;
        EXPECT_EQ(r.outline, c.outline) << c.what;
    }
}

TEST(CatalogFile, MalformedAndTruncatedBinaryFilesKeepEarlierNodes)
{
    const std::string good = BackupExampleFile();
    const std::string head = kSignature + Hex("00 01 00 00 00");
    std::string shortSizeRecord = Record(3, 4, 0, "Backup");
    const struct {
        const char *what;
        std::string input;
        std::string error;
        std::string outline;
    } cases[] = {
        {"signature only", kSignature, "Stream read error", ""},
        {"signature and check type only", kSignature + Hex("00"), "Stream read error", ""},
        {"cut inside the last name", good.substr(0, 396), "Stream read error", "Backup\n  Docs\n    a.txt\n"},
        {"cut inside the second record", good.substr(0, 150),
         "Stream read error: child count 1 at byte 10 exceeds the rest of the file", "Backup\n"},
        {"cut inside a size field", good.substr(0, 206),
         "Stream read error: child count 2 at byte 108 exceeds the rest of the file", "Backup\n  Docs\n"},
        {"cut before the last block", good.substr(0, 301),
         "Stream read error: child count 2 at byte 108 exceeds the rest of the file", "Backup\n  Docs\n    a.txt\n"},
        {"record size below 88", head + Int32(87) + std::string(87, '\0'),
         "Stream read error: invalid record size 87 at byte 10", ""},
        {"record size above 343", head + Int32(344) + std::string(344, '\0'),
         "Stream read error: invalid record size 344 at byte 10", ""},
        {"negative record size", head + Hex("FF FF FF FF"), "Stream read error: invalid record size -1 at byte 10", ""},
        {"name longer than its record", head + Int32(90) + shortSizeRecord.substr(0, 90),
         "Stream read error: name length 6 does not fit the record of 90 bytes at byte 10", ""},
        {"child count the file cannot hold", head + Block(Record(3, 4, 0x7FFFFFFF, "Backup")),
         "Stream read error: child count 2147483647 at byte 10 exceeds the rest of the file", "Backup\n"},
        {"disc count the file cannot hold", kSignature + Hex("00 FF FF FF 7F"),
         "Stream read error: disc count 2147483647 at byte 6 exceeds the rest of the file", ""},
        {"grandchildren exceed what is left",
         head + Block(Record(3, 4, 1, "D")) + Block(Record(3, 4, 2, "F")) + Block(Record(0, 0, 0, "x")),
         "Stream read error: child count 2 at byte 103 exceeds the rest of the file", "D\n  F\n    x\n"},
        {"negative child count reads no children", head + Block(Record(3, 4, -5, "Backup")), "", "Backup\n"},
        {"negative disc count reads no discs", kSignature + Hex("00 FF FF FF FF"), "", ""},
    };
    for (const auto &c : cases) {
        LoadAttempt r = TryLoad(c.input);
        EXPECT_EQ(r.error, c.error) << c.what;
        EXPECT_EQ(r.outline, c.outline) << c.what;
    }
}

TEST(CatalogFile, FormatErrorsAreReadErrors)
{
    TCatalogTree tree;
    EXPECT_THROW(LoadFromBytes(tree, kSignature + Hex("00 01 00 00 00 FF FF FF FF")), ECatalogFormatError);
    EXPECT_THROW(LoadFromBytes(tree, kSignature + Hex("00 01 00 00 00 FF FF FF FF")), EReadError);
    EXPECT_THROW(LoadFromBytes(tree, "A\r\n\t\tB"), ECatalogTreeError);
}

TEST(CatalogFile, NestingDeeperThanTheReaderFollowsIsRefused)
{
    std::string file = kSignature + Hex("00 01 00 00 00");
    const int depth = kMaxNestingDepth + 10;
    for (int i = 0; i < depth; ++i)
        file += Block(Record(3, 4, i + 1 < depth ? 1 : 0, "d"));
    TCatalogTree tree;
    try {
        LoadFromBytes(tree, file);
        FAIL() << "no exception";
    } catch (const ECatalogFormatError &e) {
        EXPECT_NE(std::string(e.what()).find("nesting deeper than 4096 levels"), std::string::npos) << e.what();
    }
    EXPECT_EQ(tree.Items().Count(), kMaxNestingDepth);

    std::string text;
    for (int i = 0; i < depth; ++i)
        text += std::string(static_cast<size_t>(i), '\t') + "d\r\n";
    TCatalogTree fromText;
    EXPECT_THROW(LoadFromBytes(fromText, text), ECatalogTreeError);
    EXPECT_EQ(fromText.Items().Count(), kMaxNestingDepth);
}

TEST(CatalogFile, LongerRecordsAreReadWithTheirPaddingSkipped)
{
    std::string rec = Record(3, 4, 1, "Backup") + "PAD";
    std::string file = kSignature + Hex("00 01 00 00 00") + Block(rec) + Block(Record(1, 1, 0, "x"));
    LoadAttempt r = TryLoad(file);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.outline, "Backup\n  x\n");
}

TEST(CatalogFile, EveryAttributeRoundTrips)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    n.SetRootCheckType(2);
    TCatalogNode *d = n.AddChild(nullptr, "D");
    TCatalogNode *f = n.AddChild(d, "f");
    n.AddChild(d, "g");
    f->SetStateIndex(7);
    f->SetOverlayIndex(2);
    f->SetIntegralHeight(3);
    f->SetCheckState(1);
    f->SetCheckType(2);
    f->SetEnabled(false);
    f->SetData(0xDEADBEEF);
    f->SetParentColor(false);
    f->SetColor(0x123456);
    TNodeFont font{-11, std::string(40, 'F'), 2, 5, 0x00FF00};
    f->SetFont(font);
    d->SetExpanded(true);
    tree.SetSelected(f);

    TCatalogTree back;
    LoadFromBytes(back, SaveToBytes(tree));
    EXPECT_EQ(back.Items().RootCheckType(), 2);
    TCatalogNode *bd = back.Items().Item(0);
    TCatalogNode *bf = back.Items().Item(1);
    EXPECT_TRUE(bd->Expanded());
    EXPECT_EQ(bf->StateIndex(), 7);
    EXPECT_EQ(bf->OverlayIndex(), 2);
    EXPECT_EQ(bf->IntegralHeight(), 3);
    EXPECT_EQ(bf->CheckState(), 1);
    EXPECT_EQ(bf->CheckType(), 2);
    EXPECT_FALSE(bf->Enabled());
    EXPECT_EQ(bf->Data(), 0xDEADBEEFu);
    EXPECT_FALSE(bf->ParentColor());
    EXPECT_EQ(bf->Color(), 0x123456);
    ASSERT_NE(bf->Font(), nullptr);
    font.name.resize(31); // the file keeps 31 bytes of a font name
    EXPECT_EQ(*bf->Font(), font);
    EXPECT_EQ(back.Selected(), bf);
    EXPECT_TRUE(bf->IsSelected());
    EXPECT_EQ(SaveToBytes(back), SaveToBytes(tree));
}

// Nodes with their own font and colour, written out byte by byte: the reader
// and the writer share their field offsets, so only bytes spelt here by hand
// catch a field that both of them put in the wrong place.
TEST(CatalogFile, OwnFontRecordsAreByteExactBothWays)
{
    const std::string fontDisc =
        Hex("07 00 00 00 | 08 00 00 00 | 00 00 00 00 | FF FF FF FF | 01 00 00 00 | 00 | 00 | 01 | 00 | 00 | "
            "00 00 00 00 | 01 00 00 00 | AA BB CC 00 | 00 | 00 | 00 00 00 00 | "
            "F3 FF FF FF | 02 | 0B | 00 | 05 41 72 69 61 6C") + // height -13, fixed pitch, style 11, "Arial"
        std::string(26, '\0') +
        Hex("00 | 11 22 33 44 | 04 | 44 69 73 63"); // reserved, font colour, "Disc"
    // A font name of 40 bytes keeps 31: they fill the field up to the
    // reserved byte in front of the font colour.
    const std::string longFontFile =
        Hex("0A 00 00 00 | 0A 00 00 00 | 00 00 00 00 | FF FF FF FF | 01 00 00 00 | 00 | 00 | 01 | 00 | 00 | "
            "00 00 00 00 | 00 00 00 00 | 00 00 00 00 | 01 | 00 | 00 00 00 00 | "
            "08 00 00 00 | 01 | 04 | 00 | 1F") + // height 8, variable pitch, underline
        std::string(31, 'N') +
        Hex("00 | FE DC BA 98 | 01 | 66"); // reserved, font colour, "f"
    ASSERT_EQ(fontDisc.size(), 92u);
    ASSERT_EQ(longFontFile.size(), 89u);
    const std::string file =
        kSignature + Hex("00 | 01 00 00 00 | 5C 00 00 00") + fontDisc + Hex("59 00 00 00") + longFontFile;

    TCatalogTree tree;
    TCatalogNode *disc = tree.Items().AddChild(nullptr, "Disc");
    disc->SetIcons(7, 8);
    disc->SetParentColor(false);
    disc->SetColor(0x00CCBBAA);
    const TNodeFont discFont{-13, "Arial", 2, 0x0B, 0x44332211};
    disc->SetFont(discFont);
    TCatalogNode *f = tree.Items().AddChild(disc, "f");
    f->SetIcons(10, 10);
    TNodeFont fileFont{8, std::string(40, 'N'), 1, 0x04, static_cast<int32_t>(0x98BADCFEu)};
    f->SetFont(fileFont);
    EXPECT_EQ(ToHex(SaveToBytes(tree)), ToHex(file));

    TCatalogTree back;
    LoadFromBytes(back, file);
    ASSERT_EQ(Outline(back), "Disc\n  f\n");
    const TCatalogNode *bd = back.Items().Item(0);
    const TCatalogNode *bf = back.Items().Item(1);
    EXPECT_EQ(bd->ImageIndex(), 7);
    EXPECT_EQ(bd->SelectedIndex(), 8);
    EXPECT_FALSE(bd->ParentColor());
    EXPECT_EQ(bd->Color(), 0x00CCBBAA);
    EXPECT_FALSE(bd->ParentFont());
    ASSERT_NE(bd->Font(), nullptr);
    EXPECT_EQ(*bd->Font(), discFont);
    EXPECT_TRUE(bf->ParentColor());
    EXPECT_FALSE(bf->ParentFont());
    ASSERT_NE(bf->Font(), nullptr);
    fileFont.name.resize(31);
    EXPECT_EQ(*bf->Font(), fileFont);
    EXPECT_EQ(ToHex(SaveToBytes(back)), ToHex(file));
}

TEST(CatalogFile, ExpandedOnlySticksToNodesWithChildren)
{
    const std::string head = kSignature + Hex("00 02 00 00 00");
    const std::string file = head + Block(Record(3, 4, 1, "withChild", 1)) + Block(Record(0, 0, 0, "x")) +
        Block(Record(3, 4, 0, "childless", 1));
    TCatalogTree tree;
    std::vector<std::string> expanding;
    tree.OnExpanding = [&](TCatalogTree &, TCatalogNode *node, bool &) { expanding.emplace_back(node->Text()); };
    LoadFromBytes(tree, file);
    EXPECT_TRUE(tree.Items().Item(0)->Expanded());
    EXPECT_FALSE(tree.Items().Item(2)->Expanded());
    EXPECT_EQ(expanding, std::vector<std::string>{"withChild"});
}

TEST(CatalogFile, SeveralStoredSelectionsAllJoinTheSelectionList)
{
    const std::string file =
        kSignature + Hex("00 02 00 00 00") + Block(Record(3, 4, 0, "a", 0, 1)) + Block(Record(3, 4, 0, "b", 0, 1));
    TCatalogTree tree;
    LoadFromBytes(tree, file);
    EXPECT_EQ(tree.Items().SelectionList().size(), 2u);
    EXPECT_EQ(tree.Selected(), tree.Items().Item(1));
}

TEST(CatalogFile, BytesAfterTheCatalogStayUnread)
{
    const std::string file = BackupExampleFile() + "TRAILER";
    QByteArray data = QByteArray::fromStdString(file);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    TCatalogTree tree;
    tree.LoadFromStream(buffer);
    EXPECT_EQ(buffer.pos(), 398);
    EXPECT_EQ(tree.Items().Count(), 4);
}

TEST(CatalogFile, NodeBlocksReadAndWriteOnTheirOwn)
{
    TCatalogTree tree;
    BuildBackupExample(tree);
    QByteArray data;
    QBuffer out(&data);
    out.open(QIODevice::WriteOnly);
    tree.Items().Item(1)->WriteData(out); // Docs with its two files
    EXPECT_EQ(data.size(), 4 + 92 + 2 * (4 + 93));

    TCatalogTree other;
    TCatalogNode *disc = other.Items().AddChild(nullptr, "Other");
    TCatalogNode *target = other.Items().AddChild(disc, "");
    QBuffer in(&data);
    in.open(QIODevice::ReadOnly);
    target->ReadData(in);
    EXPECT_EQ(Outline(other), "Other\n  Docs\n    a.txt\n    b.doc\n");
    EXPECT_EQ(target->ImageIndex(), 3);
}

namespace {

// A device that takes `capacity` bytes and then refuses to write.
class FullDevice : public QIODevice {
public:
    explicit FullDevice(qint64 capacity) : capacity_(capacity) { open(QIODevice::WriteOnly); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 len) override
    {
        if (written_ >= capacity_)
            return -1;
        qint64 take = std::min(len, capacity_ - written_);
        written_ += take;
        return take;
    }

private:
    qint64 capacity_;
    qint64 written_ = 0;
};

} // namespace

TEST(CatalogFile, ShortWritesRaiseStreamWriteError)
{
    TCatalogTree tree;
    BuildBackupExample(tree);
    for (qint64 capacity : {0, 3, 100, 397}) {
        FullDevice device(capacity);
        try {
            tree.SaveToStream(device, true);
            ADD_FAILURE() << "no exception at capacity " << capacity;
        } catch (const EWriteError &e) {
            EXPECT_STREQ(e.what(), "Stream write error");
        }
    }
}

TEST(CatalogFile, OpenAndCreateFailuresNameTheFile)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath("nothing/mdb.dat");
    TCatalogTree tree;
    BuildBackupExample(tree);
    try {
        tree.LoadFromFile(missing);
        ADD_FAILURE() << "no exception";
    } catch (const EFOpenError &e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing.toStdString());
    }
    EXPECT_EQ(tree.Items().Count(), 4) << "a failed open leaves the tree untouched";
    try {
        tree.SaveToFile(missing);
        ADD_FAILURE() << "no exception";
    } catch (const EFCreateError &e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + missing.toStdString());
    }
}

// Saving used to rewrite the file in place, so a write failure left half a
// catalog.  Now the old file must survive a failure during writing.
TEST(CatalogFile, FailedSaveLeavesThePreviousFileIntact)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    TCatalogTree small;
    BuildBackupExample(small);
    small.SaveToFile(path);
    const std::string before = ReadFile(path);
    ASSERT_EQ(before.size(), 398u);

    TCatalogTree big;
    TCatalogNode *d = big.Items().AddChild(nullptr, "big");
    for (int i = 0; i < 2000; ++i)
        big.Items().AddChild(d, "file" + std::to_string(i));

    // Files may not grow past 4 KiB while the big catalog is saved.
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit tight = old;
    tight.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tight), 0);
    std::string error;
    try {
        big.SaveToFile(path);
    } catch (const EStreamError &e) {
        error = e.what();
    }
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_EQ(error, "Stream write error");
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"mdb.dat"})
        << "no temporary file left behind";

    big.SaveToFile(path);
    TCatalogTree back;
    back.LoadFromFile(path);
    EXPECT_EQ(back.Items().Count(), 2001);
}

// A display adapter may reset its model around one load: the whole load is
// one update, with the clear and the insertions inside it.
TEST(CatalogFile, LoadIsOneUpdateForTheDisplay)
{
    TCatalogTree tree;
    tree.Items().AddChild(nullptr, "old");
    RecordingObserver obs;
    tree.SetObserver(&obs);
    LoadFromBytes(tree, BackupExampleFile());
    ASSERT_GE(obs.events.size(), 4u);
    EXPECT_EQ(obs.events.front(), "update-begun");
    EXPECT_EQ(obs.events[1], "about-clear");
    EXPECT_EQ(obs.events.back(), "update-ended");
    EXPECT_EQ(std::count(obs.events.begin(), obs.events.end(), "update-begun"), 1);
    EXPECT_EQ(std::count(obs.events.begin(), obs.events.end(), "inserted a.txt"), 1);
}

// The writer gathers records into large blocks; a catalog of several blocks,
// with names at and beyond the 255-byte cut and lines longer than a block in
// the text form, must give the same bytes through a file as through a stream,
// and read back to the same bytes again.
TEST(CatalogFile, CatalogsLargerThanTheWriteBlockAreTheSameThroughFileAndStream)
{
    TCatalogTree tree;
    TCatalogNodes &n = tree.Items();
    for (int d = 0; d < 3; ++d) {
        TCatalogNode *disc = n.AddChild(nullptr, "disc " + std::to_string(d));
        TCatalogNode *folder = n.AddChild(disc, "folder");
        for (int i = 0; i < 6000; ++i) {
            const size_t length = static_cast<size_t>(i % 300);
            n.AddChild(i % 2 ? folder : disc, std::string(length, static_cast<char>('a' + i % 26)) + std::to_string(i));
        }
    }
    n.Item(5)->SetData(0xDEADBEEF); // one record with out-of-line attributes
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    tree.SaveToFile(path);
    const std::string bytes = ReadFile(path);
    EXPECT_GT(bytes.size(), 3u << 20);
    EXPECT_EQ(bytes, SaveToBytes(tree)) << "file and stream differ";
    TCatalogTree back;
    back.LoadFromFile(path);
    EXPECT_EQ(back.Items().Count(), n.Count());
    EXPECT_EQ(back.Items().Item(5)->Data(), 0xDEADBEEFu);
    EXPECT_EQ(SaveToBytes(back), bytes) << "a loaded catalog saves to the bytes it came from";

    // The text form: one line longer than the write block, between short ones.
    TCatalogTree text;
    TCatalogNode *d = text.Items().AddChild(nullptr, "before");
    const std::string huge(3u << 20, 'h');
    text.Items().AddChild(d, huge);
    text.Items().AddChild(nullptr, "after");
    text.SaveToFile(path, false);
    const std::string textBytes = ReadFile(path);
    EXPECT_EQ(textBytes, "before\r\n\t" + huge + "\r\nafter\r\n");
    EXPECT_EQ(textBytes, SaveToBytes(text, false));
}

namespace {

int OpenHandleCount()
{
    return static_cast<int>(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size());
}

} // namespace

// Saving keeps the file it replaces open until the rename is done and lets
// it go afterwards off the caller's path: every save must leave the new
// content in place and, once that release has run, no handle behind.
TEST(CatalogFile, ReplacingTheFileAgainAndAgainKeepsEachNewCatalogAndNoHandle)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    const int before = OpenHandleCount();
    TCatalogTree tree;
    TCatalogNode *disc = tree.Items().AddChild(nullptr, "disc");
    for (int round = 0; round < 6; ++round) {
        tree.Items().AddChild(disc, "file " + std::to_string(round));
        tree.SaveToFile(path);
        EXPECT_EQ(ReadFile(path), SaveToBytes(tree)) << "round " << round;
    }
    // The releases run on their own threads; wait for them (not a timing
    // requirement: the bound only keeps a broken release from hanging).
    for (int i = 0; i < 1000 && OpenHandleCount() != before; ++i)
        QThread::msleep(10);
    EXPECT_EQ(OpenHandleCount(), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"mdb.dat"});
}

namespace {

size_t HeapInUse()
{
#ifdef TSLCAT_TEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
#endif
}

} // namespace

// Child arrays are sized ahead from the counts in the file.  Each count of
// this chain fits the rest of the file on its own, but a thousand nested
// ones do not: sizing every level's array from its own count made a file of
// 1.2 MB take about 100 MB.  The arrays sized ahead must stay within what
// the file can hold.
TEST(CatalogFile, NestedCountsCannotMultiplyTheMemoryAFileTakes)
{
    constexpr int kLevels = 1000;
    constexpr int32_t kClaimed = 12000; // 12000 blocks of 92 bytes: about the filler's size
    std::string bytes = kSignature + Hex("00 | 01 00 00 00");
    for (int i = 0; i < kLevels; ++i)
        bytes += Block(Record(3, 4, kClaimed, "d"));
    bytes += std::string(static_cast<size_t>(kClaimed) * 92 + 4096, '\0'); // a zero size field ends it
    const size_t before = HeapInUse();
    TCatalogTree tree;
    EXPECT_THROW(LoadFromBytes(tree, bytes), Exception);
    EXPECT_EQ(tree.Items().Count(), kLevels) << "the chain read before the filler stays";
    const size_t grown = HeapInUse() - before;
    EXPECT_LT(grown, 16u << 20) << "heap grew by " << grown << " bytes";
}
