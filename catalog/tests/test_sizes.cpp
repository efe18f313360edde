// Sizes and modification times of nodes: the bytes they occupy in a record,
// hostile values, folder totals, a reader of the plain format that must not
// notice them, and scanning.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "catalog_tree.h"
#include "icon_lookup.h"
#include "test_support.h"
#include "tree_scanner.h"

using namespace tslcat;
using namespace tslcat_test;

namespace {

std::string Le(uint64_t v, int bytes)
{
    std::string s;
    for (int i = 0; i < bytes; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

// The 48 bytes at 0x27 as the layout comment describes them, encoded here
// independently of the writer.
std::string InfoBytes(int kind, int flags, uint64_t size, int64_t time, bool spoilCheck = false)
{
    std::string b = Hex("54 53 44 01") + static_cast<char>(kind) + static_cast<char>(flags) + std::string(2, '\0') +
        Le(size, 8) + Le(static_cast<uint64_t>(time), 8);
    auto word = [&](size_t at) {
        uint64_t w = 0;
        for (size_t i = 8; i-- > 0;)
            w = w << 8 | static_cast<unsigned char>(b[at + i]);
        return w;
    };
    const uint64_t h64 = ((word(0) ^ 0x9E3779B97F4A7C15u) * 0xBF58476D1CE4E5B9u) ^
        ((word(8) ^ 0x94D049BB133111EBu) * 0xD6E8FEB86659FD93u) ^
        ((word(16) ^ 0xC2B2AE3D27D4EB4Fu) * 0x165667B19E3779F9u);
    uint32_t h = static_cast<uint32_t>(h64 ^ (h64 >> 32));
    if (spoilCheck)
        h ^= 1;
    return b + Le(h, 4) + std::string(20, '\0');
}

// A whole record: the catalog's usual attribute values, `info` at 0x27.
std::string Record(int32_t children, const std::string &name, const std::string &info, char parentFont = 1)
{
    std::string r = Le(uint32_t(-1), 4) + Le(uint32_t(-1), 4) + Le(0, 4) + Le(uint32_t(-1), 4) + Le(1, 4);
    r += std::string{'\0', '\0', '\1', '\0', '\0'};
    r += Le(0, 4) + Le(static_cast<uint32_t>(children), 4) + Le(0, 4);
    r += std::string{'\1', parentFont};
    r += info;
    r += static_cast<char>(name.size()) + name;
    return Le(r.size(), 4) + r;
}

const std::string kSignature = Hex("0D 54 4E 54 0D");

int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The reader of the plain format, written from its rules alone: signature,
// root check type, disc count, blocks of (S, record) with the name length at
// 0x57 and the child count at 0x1D.  Gives the outline and fails on any
// record that breaks the rules.
bool PlainRead(const std::string &file, std::string &outline)
{
    size_t at = 0;
    auto take32 = [&](int32_t &v) {
        if (at + 4 > file.size())
            return false;
        v = static_cast<int32_t>(static_cast<uint8_t>(file[at]) | static_cast<uint8_t>(file[at + 1]) << 8 |
                                 static_cast<uint8_t>(file[at + 2]) << 16 |
                                 static_cast<uint32_t>(static_cast<uint8_t>(file[at + 3])) << 24);
        at += 4;
        return true;
    };
    if (file.compare(0, 5, kSignature) != 0 || file.size() < 10)
        return false;
    at = 6;
    int32_t discs;
    if (!take32(discs))
        return false;
    std::vector<int32_t> pending{discs};
    while (!pending.empty()) {
        if (pending.back()-- == 0) {
            pending.pop_back();
            continue;
        }
        int32_t s;
        if (!take32(s) || s < 88 || s > 343 || at + static_cast<size_t>(s) > file.size())
            return false;
        const std::string rec = file.substr(at, static_cast<size_t>(s));
        at += static_cast<size_t>(s);
        const int nameLength = static_cast<uint8_t>(rec[0x57]);
        if (88 + nameLength > s)
            return false;
        outline +=
            std::string(2 * (pending.size() - 1), ' ') + rec.substr(0x58, static_cast<size_t>(nameLength)) + "\n";
        const int32_t children = static_cast<int32_t>(
            static_cast<uint8_t>(rec[0x1D]) | static_cast<uint8_t>(rec[0x1E]) << 8 |
            static_cast<uint8_t>(rec[0x1F]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(rec[0x20])) << 24);
        if (children < 0)
            return false;
        pending.push_back(children);
    }
    return true;
}

// Disc D: folder F (a 1234567890123 bytes of 2020-09-13, b 5 bytes of
// 2023-11-14), an empty scanned folder E and a file u with nothing known.
void BuildSizedTree(TCatalogTree &tree)
{
    TCatalogNodes &items = tree.Items();
    TCatalogNode *d = items.AddChild(nullptr, "D");
    d->SetFileInfo(TNodeKind::Disc);
    TCatalogNode *f = items.AddChild(d, "F");
    f->SetFileInfo(TNodeKind::Folder);
    items.AddChild(f, "a")->SetFileInfo(TNodeKind::File, 1234567890123, 1600000000);
    items.AddChild(f, "b")->SetFileInfo(TNodeKind::File, 5, 1700000000);
    items.AddChild(d, "E")->SetFileInfo(TNodeKind::Folder);
    items.AddChild(d, "u")->SetFileInfo(TNodeKind::File);
}

} // namespace

TEST(NodeSizes, RecordBytesAreLaidOutAsDocumented)
{
    TCatalogTree tree;
    BuildSizedTree(tree);
    const std::string bytes = SaveToBytes(tree);
    // Each record's 48 bytes at 0x27, in file order D F a b E u.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"D", "54 53 44 01 03 03 00 00 D0 04 FB 71 1F 01 00 00 00 F1 53 65 00 00 00 00 02 62 48 44"},
        {"F", "54 53 44 01 02 03 00 00 D0 04 FB 71 1F 01 00 00 00 F1 53 65 00 00 00 00 B9 79 53 67"},
        {"a", "54 53 44 01 01 03 00 00 CB 04 FB 71 1F 01 00 00 00 10 5E 5F 00 00 00 00 2A AA 9D CB"},
        {"b", "54 53 44 01 01 03 00 00 05 00 00 00 00 00 00 00 00 F1 53 65 00 00 00 00 45 E5 61 72"},
        {"E", "54 53 44 01 02 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 FC B5 89 D2"},
        {"u", "54 53 44 01 01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 C9 AD 5E 60"},
    };
    size_t at = 10;
    for (const auto &[name, hex] : expected) {
        ASSERT_LT(at + 4 + 88, bytes.size()) << name;
        const std::string record = bytes.substr(at + 4, 88 + name.size());
        EXPECT_EQ(record.substr(0x58), name);
        const std::string want = Hex(hex);
        EXPECT_EQ(ToHex(record.substr(0x27, want.size())), ToHex(want)) << name;
        EXPECT_EQ(record.substr(0x43, 20), std::string(20, '\0')) << name;
        at += 4 + record.size();
    }
    EXPECT_EQ(at, bytes.size());
}

TEST(NodeSizes, PlainReaderLoadsAFileWithSizes)
{
    TCatalogTree tree;
    BuildSizedTree(tree);
    std::string outline;
    ASSERT_TRUE(PlainRead(SaveToBytes(tree), outline));
    EXPECT_EQ(outline, Outline(tree));
    // The reader itself rejects what breaks the rules.
    std::string ignored;
    EXPECT_FALSE(PlainRead(SaveToBytes(tree).substr(0, 60), ignored));
}

TEST(NodeSizes, ValuesAndTotalsSurviveSaveAndLoad)
{
    TCatalogTree tree;
    BuildSizedTree(tree);
    const std::string bytes = SaveToBytes(tree);
    TCatalogTree loaded;
    LoadFromBytes(loaded, bytes);
    const struct {
        int index;
        TNodeKind kind;
        uint64_t size;
        int64_t time;
    } want[] = {
        {0, TNodeKind::Disc, 1234567890128, 1700000000}, {1, TNodeKind::Folder, 1234567890128, 1700000000},
        {2, TNodeKind::File, 1234567890123, 1600000000}, {3, TNodeKind::File, 5, 1700000000},
        {4, TNodeKind::Folder, 0, kUnknownTime},         {5, TNodeKind::File, kUnknownSize, kUnknownTime},
    };
    for (const auto &w : want) {
        const TCatalogNode *n = loaded.Items().Item(w.index);
        EXPECT_EQ(n->Kind(), w.kind) << w.index;
        EXPECT_EQ(n->Size(), w.size) << w.index;
        EXPECT_EQ(n->ModifiedTime(), w.time) << w.index;
    }
    EXPECT_EQ(loaded.Items().Item(4)->EffectiveKind(), TNodeKind::Folder) << "an empty folder is told from a file";
    EXPECT_EQ(SaveToBytes(loaded), bytes);
}

TEST(NodeSizes, StoredValuesAreReadOnlyWhenTheyAreOursAndPlausible)
{
    const int64_t now = Now();
    const struct {
        const char *what;
        std::string info;
        char parentFont;
        TNodeKind kind;
        uint64_t size;
        int64_t time;
    } cases[] = {
        {"zeros", std::string(48, '\0'), 1, TNodeKind::Unknown, kUnknownSize, kUnknownTime},
        {"ours", InfoBytes(1, 3, 77, 1600000000), 1, TNodeKind::File, 77, 1600000000},
        {"largest size", InfoBytes(1, 3, uint64_t{1} << 62, 0), 1, TNodeKind::File, uint64_t{1} << 62, 0},
        {"size beyond 2^62", InfoBytes(1, 3, (uint64_t{1} << 62) + 1, 5), 1, TNodeKind::File, kUnknownSize, 5},
        {"time before 1970", InfoBytes(1, 3, 7, -1), 1, TNodeKind::File, 7, kUnknownTime},
        {"time in a month", InfoBytes(1, 2, 0, now + 30 * 86400), 1, TNodeKind::File, kUnknownSize, now + 30 * 86400},
        {"time in two years", InfoBytes(1, 2, 0, now + 2 * 366 * 86400), 1, TNodeKind::File, kUnknownSize,
         kUnknownTime},
        {"flags say nothing", InfoBytes(1, 0, 9, 9), 1, TNodeKind::File, kUnknownSize, kUnknownTime},
        {"bad check word", InfoBytes(1, 3, 7, 7, true), 1, TNodeKind::Unknown, kUnknownSize, kUnknownTime},
        {"unknown kind", InfoBytes(4, 3, 7, 7), 1, TNodeKind::Unknown, kUnknownSize, kUnknownTime},
        {"kind zero", InfoBytes(0, 3, 7, 7), 1, TNodeKind::Unknown, kUnknownSize, kUnknownTime},
        {"unknown flag", InfoBytes(1, 7, 7, 7), 1, TNodeKind::Unknown, kUnknownSize, kUnknownTime},
        {"own font", InfoBytes(1, 3, 7, 7), 0, TNodeKind::Unknown, kUnknownSize, kUnknownTime},
        {"foreign bytes", std::string(48, '\xA5'), 1, TNodeKind::Unknown, kUnknownSize, kUnknownTime},
    };
    for (const auto &c : cases) {
        const std::string file = kSignature + Hex("00 01 00 00 00") + Record(1, "disc", std::string(48, '\0')) +
            Record(0, "x", c.info, c.parentFont);
        TCatalogTree tree;
        LoadFromBytes(tree, file);
        ASSERT_EQ(tree.Items().Count(), 2) << c.what;
        const TCatalogNode *x = tree.Items().Item(1);
        EXPECT_EQ(x->Kind(), c.kind) << c.what;
        EXPECT_EQ(x->Size(), c.size) << c.what;
        EXPECT_EQ(x->ModifiedTime(), c.time) << c.what;
        // The disc's total comes from what was believed only.
        EXPECT_EQ(tree.Items().Item(0)->Size(), c.size) << c.what;
    }
}

TEST(NodeSizes, FilesWithoutTheDataRoundTripUnchanged)
{
    TCatalogTree example;
    BuildBackupExample(example);
    const std::string bytes = SaveToBytes(example);
    ASSERT_EQ(bytes.size(), 398u);
    TCatalogTree loaded;
    LoadFromBytes(loaded, bytes);
    EXPECT_EQ(loaded.Items().Item(2)->Size(), kUnknownSize);
    EXPECT_EQ(loaded.Items().Item(0)->Size(), kUnknownSize) << "no total from unknown files";
    EXPECT_EQ(SaveToBytes(loaded), bytes);

    TCatalogTree empty;
    EXPECT_EQ(SaveToBytes(empty), kSignature + Hex("00 00 00 00 00"));

    // The text form carries names only.
    TCatalogTree sized, text;
    BuildSizedTree(sized);
    LoadFromBytes(text, SaveToBytes(sized, false));
    EXPECT_EQ(text.Items().Item(2)->Size(), kUnknownSize);
    EXPECT_EQ(text.Items().Item(2)->Kind(), TNodeKind::Unknown);
}

TEST(NodeSizes, TotalsFollowEveryChange)
{
    TCatalogTree tree;
    BuildSizedTree(tree);
    TCatalogNodes &items = tree.Items();
    TCatalogNode *d = items.Item(0), *f = items.Item(1);
    items.Item(2)->SetText("renamed a");
    EXPECT_EQ(items.Item(2)->Size(), 1234567890123u) << "renaming keeps the data";
    items.Delete(items.Item(2));
    EXPECT_EQ(f->Size(), 5u);
    EXPECT_EQ(d->Size(), 5u);
    EXPECT_EQ(d->ModifiedTime(), 1700000000);
    items.AddChild(f, "c")->SetFileInfo(TNodeKind::File, 10, 1750000000);
    EXPECT_EQ(d->Size(), 15u);
    EXPECT_EQ(d->ModifiedTime(), 1750000000);
    items.Delete(f);
    EXPECT_EQ(d->Size(), 0u) << "only the empty folder E and unknown u are left";
    EXPECT_EQ(d->ModifiedTime(), kUnknownTime);

    // Copies (import) keep kinds and values.
    TCatalogTree other;
    BuildSizedTree(other);
    TCatalogNode *copy = CopySubtree(*other.Items().Item(0), items, nullptr);
    EXPECT_EQ(copy->Size(), 1234567890128u);
    EXPECT_EQ(items.Item(items.Count() - 2)->Kind(), TNodeKind::Folder);
    EXPECT_EQ(items.Item(items.Count() - 2)->Size(), 0u);

    // A folder emptied by deletion holds nothing stale.
    TCatalogNode *g = items.AddChild(nullptr, "G");
    items.AddChild(g, "z")->SetFileInfo(TNodeKind::File, 3, 3);
    EXPECT_EQ(g->Size(), 3u);
    items.Delete(g->Child(0));
    EXPECT_EQ(g->Size(), kUnknownSize);
}

TEST(NodeSizes, ScanRecordsSizesAndTimesOfFilesAndLinks)
{
    QTemporaryDir dir;
    const std::string root = dir.path().toStdString() + "/";
    ASSERT_TRUE(WriteFile(dir.filePath("a"), "12345"));
    ASSERT_TRUE(QDir(dir.path()).mkpath("sub/empty"));
    ASSERT_TRUE(WriteFile(dir.filePath("sub/b"), std::string(1000, 'b')));
    ASSERT_EQ(::symlink("a-target-name", (root + "link").c_str()), 0);
    auto setTime = [](const std::string &path, int64_t t) {
        struct timespec times[2] = {{static_cast<time_t>(t), 0}, {static_cast<time_t>(t), 0}};
        return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
    };
    ASSERT_TRUE(setTime(root + "a", 1500000000));
    ASSERT_TRUE(setTime(root + "sub/b", 1600000000));
    ASSERT_TRUE(setTime(root + "link", 1400000000));

    TCatalogTree tree;
    TPlainIconLookup icons;
    TAddDiscResult r = AddDisc(tree, root, "disc", icons);
    ASSERT_EQ(Outline(tree), "disc\n  a\n  link\n  sub\n    b\n    empty\n");
    const struct {
        int index;
        TNodeKind kind;
        uint64_t size;
        int64_t time;
    } want[] = {
        {0, TNodeKind::Disc, 5 + 13 + 1000, 1600000000},
        {1, TNodeKind::File, 5, 1500000000},
        {2, TNodeKind::File, 13, 1400000000}, // the link itself: its target's name is 13 bytes
        {3, TNodeKind::Folder, 1000, 1600000000},
        {4, TNodeKind::File, 1000, 1600000000},
        {5, TNodeKind::Folder, 0, kUnknownTime},
    };
    for (const auto &w : want) {
        const TCatalogNode *n = tree.Items().Item(w.index);
        EXPECT_EQ(n->Kind(), w.kind) << w.index;
        EXPECT_EQ(n->Size(), w.size) << w.index;
        EXPECT_EQ(n->ModifiedTime(), w.time) << w.index;
    }
    EXPECT_EQ(r.disc, tree.Items().Item(0));
}
