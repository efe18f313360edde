// Disc images and archives: the entry tree's handling of hostile paths, the
// volume descriptors, an image scanned against the same files in a folder,
// damaged images, archives opened during a scan and their bounds, and the
// result actions on a member.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <clocale>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "archive_reader.h"
#include "catalog_errors.h"
#include "catalog_search.h"
#include "catalog_tree.h"
#include "icon_lookup.h"
#include "result_actions.h"
#include "scan_source.h"
#include "test_support.h"
#include "tree_scanner.h"

using namespace tslcat;
using namespace tslcat_test;

namespace {

// Every call of a walk, one line each; sizes and times of files and links,
// times of folders below the root.
class RecordingSink : public IScanSink {
public:
    std::vector<std::string> lines;
    bool withDetails = true;
    int depth = 0;
    void FolderEntered(const TScanEntry &e, const std::string &) override
    {
        lines.push_back("enter " + e.name + (withDetails && depth > 0 ? " t" + std::to_string(e.modified) : ""));
        ++depth;
    }
    void FileFound(const TScanEntry &e, const std::string &) override
    {
        std::string line = (e.kind == TEntryKind::Link ? "link " : "file ") + e.name;
        if (withDetails)
            line += " s" + std::to_string(e.size) + " t" + std::to_string(e.modified);
        lines.push_back(line);
    }
    void FolderDone() override
    {
        --depth;
        lines.push_back("done");
    }
};

std::vector<std::string> Walked(const TEntryTree &tree)
{
    RecordingSink sink;
    sink.withDetails = false;
    tree.Walk(sink, {}, "/", false);
    return sink.lines;
}

using Lines = std::vector<std::string>;

} // namespace

// ---- the entry tree -----------------------------------------------------------------

TEST(EntryTree, HostilePathsStayInsideAndNamesAreCut)
{
    const std::string longName(300, 'x');
    // "é" is two bytes: 127 of them are 254 bytes, the 128th would end at 256.
    std::string accents;
    for (int i = 0; i < 130; ++i)
        accents += "\xC3\xA9";
    const struct {
        std::string path;
        TEntryKind kind;
        Lines walk;
    } cases[] = {
        {"a/b.txt", TEntryKind::File, {"enter a", "file b.txt", "done"}},
        {"../../etc/passwd", TEntryKind::File, {"enter etc", "file passwd", "done"}},
        {"/abs//x/./y/", TEntryKind::Folder, {"enter abs", "enter x", "enter y", "done", "done", "done"}},
        {"a/../b", TEntryKind::File, {"enter a", "file b", "done"}},
        {"..", TEntryKind::File, {}},
        {"./", TEntryKind::Folder, {}},
        {longName, TEntryKind::File, {"file " + std::string(255, 'x')}},
        {accents, TEntryKind::File, {"file " + accents.substr(0, 254)}},
    };
    for (const auto &c : cases) {
        TEntryTree tree;
        tree.Add(c.path, c.kind, 1, 2, 100);
        EXPECT_EQ(Walked(tree), c.walk) << c.path;
    }
}

TEST(EntryTree, RepeatedPathsMergeAndFilesHoldingEntriesBecomeFolders)
{
    TEntryTree tree;
    EXPECT_EQ(tree.Add("d/f", TEntryKind::File, 5, 50, 100), TEntryTree::TAdded::Yes);
    EXPECT_EQ(tree.Add("d", TEntryKind::Folder, 0, 40, 100), TEntryTree::TAdded::Yes);
    EXPECT_EQ(tree.Add("d/f", TEntryKind::File, 7, 70, 100), TEntryTree::TAdded::Yes);
    EXPECT_EQ(tree.Add("g", TEntryKind::File, 1, 1, 100), TEntryTree::TAdded::Yes);
    EXPECT_EQ(tree.Add("g/h", TEntryKind::File, 1, 1, 100), TEntryTree::TAdded::Yes);
    // Listed again as a file, "g" keeps its member and stays a folder.
    EXPECT_EQ(tree.Add("g", TEntryKind::File, 9, 9, 100), TEntryTree::TAdded::Yes);
    EXPECT_EQ(tree.Size(), 4u);
    RecordingSink sink;
    sink.depth = 1; // below the root: folder times are shown
    tree.Walk(sink, {}, "/", false);
    EXPECT_EQ(sink.lines, (Lines{"enter d t40", "file f s7 t70", "done", "enter g t9", "file h s1 t1", "done"}));
}

TEST(EntryTree, DepthAndNodeBudgetAreBounded)
{
    TEntryTree tree;
    std::string deep;
    for (size_t i = 0; i <= TEntryTree::kMaxDepth; ++i)
        deep += "d/";
    EXPECT_EQ(tree.Add(deep, TEntryKind::Folder, 0, 0, 1u << 20), TEntryTree::TAdded::TooDeep);
    EXPECT_EQ(tree.Size(), 0u);
    // Implied folders count: "a/b/c" needs three entries.
    EXPECT_EQ(tree.Add("a/b/c", TEntryKind::File, 0, 0, 2), TEntryTree::TAdded::OverBudget);
    EXPECT_EQ(tree.Size(), 0u);
    EXPECT_EQ(tree.Add("a/b/c", TEntryKind::File, 0, 0, 3), TEntryTree::TAdded::Yes);
    EXPECT_EQ(tree.Add("a/b/d", TEntryKind::File, 0, 0, 3), TEntryTree::TAdded::OverBudget);
    // Updating what is there needs no budget.
    EXPECT_EQ(tree.Add("a/b/c", TEntryKind::File, 3, 0, 3), TEntryTree::TAdded::Yes);
    EXPECT_EQ(tree.Add("", TEntryKind::File, 0, 0, 3), TEntryTree::TAdded::Nothing);
}

TEST(EntryTree, WalkOrderAndHiddenFoldersAsForAFolderOnDisc)
{
    TEntryTree tree;
    for (const char *p : {"zeta/z1", "a.TXT", "Alpha/inner/deep", "B.txt", "Alpha/al", ".hid/x", ".dotfile", "b.txt"})
        tree.Add(p, TEntryKind::File, 0, 0, 100);
    EXPECT_EQ(Walked(tree),
              (Lines{"file .dotfile", "file a.TXT", "file B.txt", "file b.txt", "enter Alpha", "file al", "enter inner",
                     "file deep", "done", "done", "enter zeta", "file z1", "done"}));
}

// ---- volume descriptors -------------------------------------------------------------

namespace {

std::string Descriptor(unsigned char type, const std::string &id, bool joliet = false, uint32_t blocks = 200,
                       uint16_t blockSize = 2048)
{
    std::string d(2048, '\0');
    d[0] = static_cast<char>(type);
    d.replace(1, 5, "CD001");
    d[6] = 1;
    if (joliet) {
        std::u16string units = QString::fromUtf8(id.c_str()).toStdU16String();
        units.resize(16, u' ');
        for (int i = 0; i < 16; ++i) {
            d[40 + 2 * i] = static_cast<char>(units[i] >> 8);
            d[41 + 2 * i] = static_cast<char>(units[i] & 0xFF);
        }
        d.replace(88, 3, "%/E");
    } else {
        std::string padded = id;
        padded.resize(32, ' ');
        d.replace(40, 32, padded);
    }
    for (int i = 0; i < 4; ++i)
        d[80 + i] = static_cast<char>(blocks >> (8 * i));
    d[128] = static_cast<char>(blockSize & 0xFF);
    d[129] = static_cast<char>(blockSize >> 8);
    return d;
}

std::string Image(std::initializer_list<std::string> descriptors)
{
    std::string bytes(16 * 2048, '\0');
    for (const std::string &d : descriptors)
        bytes += d;
    return bytes;
}

} // namespace

TEST(IsoVolume, LabelFromJolietElsePrimary)
{
    const std::string terminator = Descriptor(255, "");
    const struct {
        std::string image;
        bool ok;
        std::string label;
        bool joliet;
        uint64_t bytes;
    } cases[] = {
        {Image({Descriptor(1, "BACKUP_2001"), terminator}), true, "BACKUP_2001", false, 200 * 2048},
        {Image({Descriptor(1, "PRIMARY"), Descriptor(2, "Vacances d'été", true), terminator}), true, "Vacances d'été",
         true, 200 * 2048},
        {Image({Descriptor(1, ""), terminator}), true, "", false, 200 * 2048},
        {Image({Descriptor(1, "SMALL", false, 10, 512), terminator}), true, "SMALL", false, 10 * 512},
        // A supplementary descriptor without Joliet's escape is not Joliet.
        {Image({Descriptor(1, "P"), Descriptor(2, "OTHER"), terminator}), true, "P", false, 200 * 2048},
        {Image({Descriptor(1, "X", false, 10, 1000)}), false, "", false, 0},
        {Image({Descriptor(2, "ONLY", true)}), false, "", false, 0},
        {std::string(40000, 'A'), false, "", false, 0},
        {std::string(100, '\0'), false, "", false, 0},
    };
    int i = 0;
    for (const auto &c : cases) {
        TIsoVolume volume;
        std::string problem;
        EXPECT_EQ(ReadIsoVolume(c.image, volume, problem), c.ok) << i;
        if (c.ok) {
            EXPECT_EQ(volume.label, c.label) << i;
            EXPECT_EQ(volume.joliet, c.joliet) << i;
            EXPECT_EQ(volume.volumeBytes, c.bytes) << i;
        } else {
            EXPECT_FALSE(problem.empty()) << i;
        }
        ++i;
    }
}

TEST(IsoVolume, ArchiveNames)
{
    for (const char *yes : {"a.zip", "B.ZIP", "x.7z", "t.tar", "t.tar.gz", "t.TGZ", "t.tar.bz2", "t.tbz2", "t.tar.xz",
                            "t.txz", "t.tar.zst", "t.tzst", "cd.iso"})
        EXPECT_TRUE(IsArchiveName(yes)) << yes;
    for (const char *no : {"zip", ".zip", "a.zipx", "a.gz", "a.rar", "readme.txt", "a.iso.txt"})
        EXPECT_FALSE(IsArchiveName(no)) << no;
}

// ---- images against folders ------------------------------------------------------

namespace {

QString Xorriso()
{
    return QStandardPaths::findExecutable(QStringLiteral("xorriso"));
}

// Runs xorriso's mkisofs emulation; false (with its output) on failure.
bool MakeIso(const QStringList &options, const QString &tree, const QString &image, std::string *log = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(Xorriso(), QStringList{"-as", "mkisofs"} + options + QStringList{"-o", image, tree});
    const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (log)
        *log = p.readAll().toStdString();
    return ok;
}

class ImageScan : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString Tree() const { return dir.filePath("tree"); }
    std::string TreeRoot() const { return Tree().toStdString() + "/"; }
    QString ImagePath(const char *name) const { return dir.filePath(name); }

    void File(const std::string &rel, size_t size = 0)
    {
        const QString path = QFile::decodeName((Tree().toStdString() + "/" + rel).c_str());
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        ASSERT_TRUE(WriteFile(path, std::string(size, 'x'))) << rel;
    }

    // Spaces, accents, letter case, 200-byte names, 12 nested levels,
    // hidden files and folders, an empty folder, a link, sizes.
    void BuildTree()
    {
        ASSERT_TRUE(QDir().mkpath(Tree()));
        File("read me.txt", 10);
        File("Read.me", 3);
        File("read.me", 4);
        File("caf\xC3\xA9 cr\xC3\xA8me/\xC3\x9Cnic\xC3\xB6"
             "de.doc",
             123);
        File(".hidden-file", 1);
        File(".hidden-folder/inside.txt", 1);
        File("visible/.profile", 2);
        File(std::string(200, 'n') + ".txt", 7);
        File(std::string(190, 'd') + "/" + std::string(196, 'e') + ".bin", 5000);
        std::string deep;
        for (int level = 1; level <= 12; ++level)
            deep += "level " + std::to_string(level) + "/";
        File(deep + "bottom.dat", 42);
        ASSERT_TRUE(QDir().mkpath(Tree() + "/empty folder"));
        ASSERT_EQ(::symlink("read me.txt", (TreeRoot() + "link to readme").c_str()), 0);
        ASSERT_EQ(::symlink("visible", (TreeRoot() + "link to folder").c_str()), 0);
    }

    Lines WalkFolder()
    {
        RecordingSink sink;
        TFolderSource(TreeRoot()).Walk(sink);
        return sink.lines;
    }
    Lines WalkImage(const QString &image)
    {
        RecordingSink sink;
        TImageSource(image.toStdString()).Walk(sink);
        return sink.lines;
    }
};

// The root's own entry differs (the folder's name, the image's nameless
// root); everything below must not.
Lines BelowRoot(Lines lines)
{
    if (!lines.empty())
        lines.erase(lines.begin());
    return lines;
}

} // namespace

TEST_F(ImageScan, RockRidgeAndJolietImageGivesTheFolderTreeUnderAnyLocale)
{
    ASSERT_FALSE(Xorriso().isEmpty()) << "xorriso is needed (scripts/install-deps.sh installs it)";
    BuildTree();
    const QString image = ImagePath("disc.iso");
    std::string log;
    ASSERT_TRUE(MakeIso({"-R", "-J", "-joliet-long", "-V", "HOLIDAY_2003"}, Tree(), image, &log)) << log;

    const Lines folder = WalkFolder();
    ASSERT_GT(folder.size(), 30u);
    const std::string before = std::setlocale(LC_ALL, nullptr);
    for (const char *locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        std::setlocale(LC_ALL, locale);
        EXPECT_EQ(BelowRoot(WalkImage(image)), BelowRoot(folder));

        // The catalog built from either is the same, with the same count and
        // type list.
        TCatalogTree fromFolder, fromImage;
        TPlainIconLookup icons;
        const TAddDiscResult f = AddDisc(fromFolder, TreeRoot(), "Disc", icons);
        const TAddDiscResult i = AddDisc(fromImage, image.toStdString(), "Disc", icons);
        EXPECT_EQ(Outline(fromImage), Outline(fromFolder));
        EXPECT_EQ(i.fileCount, f.fileCount);
        EXPECT_EQ(i.fileTypes.Items(), f.fileTypes.Items());
        EXPECT_EQ(Outline(fromImage).find("hidden-folder"), std::string::npos);
        EXPECT_NE(Outline(fromImage).find(".hidden-file"), std::string::npos);
    }
    std::setlocale(LC_ALL, before.c_str());
    EXPECT_EQ(ImageDiscName(image.toStdString()), "HOLIDAY_2003");
}

TEST_F(ImageScan, JolietOnlyImageKeepsLongUnicodeNamesAndItsLabel)
{
    ASSERT_FALSE(Xorriso().isEmpty());
    ASSERT_TRUE(QDir().mkpath(Tree()));
    File("caf\xC3\xA9 cr\xC3\xA8me/Na\xC3\xAFve r\xC3\xA9sum\xC3\xA9 notes.txt", 3);
    File("Mixed Case Name.TXT", 1);
    const QString image = ImagePath("joliet.iso");
    std::string log;
    ASSERT_TRUE(MakeIso({"-J", "-input-charset", "utf-8", "-V", "Fotos \xC3\xA9t\xC3\xA9"}, Tree(), image, &log))
        << log;
    RecordingSink sink;
    sink.withDetails = false;
    TImageSource(image.toStdString()).Walk(sink);
    EXPECT_EQ(sink.lines,
              (Lines{"enter ", "file Mixed Case Name.TXT", "enter caf\xC3\xA9 cr\xC3\xA8me",
                     "file Na\xC3\xAFve r\xC3\xA9sum\xC3\xA9 notes.txt", "done", "done"}));
    EXPECT_EQ(ImageDiscName(image.toStdString()), "Fotos \xC3\xA9t\xC3\xA9");
}

TEST_F(ImageScan, ImageWithoutLabelIsNamedAfterItsFile)
{
    ASSERT_FALSE(Xorriso().isEmpty());
    File("a.txt", 1);
    const QString image = ImagePath("no label.iso");
    ASSERT_TRUE(MakeIso({"-R", "-V", ""}, Tree(), image));
    // xorriso writes a default label unless told otherwise: blank it.
    QFile f(image);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.seek(16 * 2048 + 40));
    f.write(QByteArray(32, ' '));
    f.close();
    EXPECT_EQ(ImageDiscName(image.toStdString()), "no label.iso");
}

TEST_F(ImageScan, DamagedTruncatedOrForeignFilesAreRefusedAndTheCatalogIsUnchanged)
{
    ASSERT_FALSE(Xorriso().isEmpty());
    BuildTree();
    const QString good = ImagePath("good.iso");
    ASSERT_TRUE(MakeIso({"-R", "-J"}, Tree(), good));
    const QByteArray bytes = [&] {
        QFile f(good);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();

    struct Case {
        const char *name;
        QByteArray content;
        bool labelReadable = false; // the descriptors are sound, the damage lies beyond them
    };
    std::vector<Case> cases = {
        {"half.iso", bytes.left(bytes.size() / 2)},
        {"descriptors-only.iso", bytes.left(17 * 2048)},
        {"short.iso", bytes.left(1000)},
        {"empty.iso", QByteArray()},
        {"text.iso", QByteArray("just some text\n").repeated(5000)},
        {"zeros.iso", QByteArray(400000, '\0')},
    };
    // The root directory records (primary and Joliet) pointed far past the end.
    QByteArray wild = bytes;
    for (int sector = 16; wild.mid(sector * 2048 + 1, 5) == "CD001"; ++sector)
        for (int i = 0; i < 4; ++i)
            wild[sector * 2048 + 156 + 2 + i] = wild[sector * 2048 + 156 + 6 + i] = static_cast<char>(0x7F);
    cases.push_back({"wild-root.iso", wild, true});

    TCatalogTree tree;
    TPlainIconLookup icons;
    AddDisc(tree, TreeRoot(), "Existing", icons);
    const std::string before = Outline(tree);
    for (const Case &c : cases) {
        const QString path = ImagePath(c.name);
        ASSERT_TRUE(WriteFile(path, c.content.toStdString()));
        try {
            AddDisc(tree, path.toStdString(), "New", icons);
            ADD_FAILURE() << c.name << " was accepted";
        } catch (const EImageError &e) {
            EXPECT_NE(std::string(e.what()).find(path.toStdString()), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("Cannot read disc image ", 0), 0u) << e.what();
        }
        if (!c.labelReadable) {
            EXPECT_THROW(ImageDiscName(path.toStdString()), EImageError) << c.name;
        }
        EXPECT_EQ(Outline(tree), before) << c.name;
    }
}

TEST_F(ImageScan, DirectoryRecordsThatLoopEndInAnError)
{
    ASSERT_FALSE(Xorriso().isEmpty());
    ASSERT_TRUE(QDir().mkpath(Tree() + "/sub/subsub"));
    File("sub/subsub/f.txt", 1);
    const QString good = ImagePath("loop.iso");
    ASSERT_TRUE(MakeIso({}, Tree(), good)); // plain ISO 9660: names in capitals
    QFile f(good);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    // The root's extent, from the primary descriptor's root record.
    const auto le32 = [&](int at) {
        return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
            static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
            static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
            static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
    };
    const uint32_t rootLba = le32(16 * 2048 + 156 + 2);
    // Every record named SUBSUB in the image now points back at the root.
    int patched = 0;
    for (int at = bytes.indexOf("SUBSUB"); at >= 0; at = bytes.indexOf("SUBSUB", at + 1)) {
        const int record = at - 33;
        if (record < 0 || static_cast<unsigned char>(bytes[record + 32]) != 6)
            continue;
        for (int i = 0; i < 4; ++i) {
            bytes[record + 2 + i] = static_cast<char>(rootLba >> (8 * i));
            bytes[record + 6 + 3 - i] = static_cast<char>(rootLba >> (8 * i));
        }
        ++patched;
    }
    ASSERT_GT(patched, 0);
    f.seek(0);
    f.write(bytes);
    f.close();
    TCatalogTree tree;
    TPlainIconLookup icons;
    EXPECT_THROW(AddDisc(tree, good.toStdString(), "Loop", icons), EImageError);
    EXPECT_EQ(tree.Items().Count(), 0);
}

TEST_F(ImageScan, FolderEntriesCarryTheirOwnSizeTimeAndKindAtAnyDepth)
{
    // Deeper than the walk keeps folder handles open, so both ways of
    // reading an entry's details are used.
    std::string deep;
    for (int level = 0; level < 70; ++level)
        deep += "d/";
    File(deep + "f.bin", 1234);
    File("top.bin", 99);
    ASSERT_EQ(::symlink("top.bin", (TreeRoot() + "ln").c_str()), 0);
    const timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    for (const std::string &rel : {std::string("top.bin"), deep + "f.bin", deep, std::string("d/")})
        ASSERT_EQ(::utimensat(AT_FDCWD, (TreeRoot() + rel).c_str(), times, 0), 0) << rel;
    ASSERT_EQ(::utimensat(AT_FDCWD, (TreeRoot() + "ln").c_str(), times, AT_SYMLINK_NOFOLLOW), 0);

    const Lines lines = WalkFolder();
    EXPECT_EQ(lines[1], "link ln s7 t1000000000"); // the link's own size: its target's length
    EXPECT_EQ(lines[2], "file top.bin s99 t1000000000");
    EXPECT_EQ(lines[3], "enter d t1000000000");
    EXPECT_EQ(lines[72], "enter d t1000000000");
    EXPECT_EQ(lines[73], "file f.bin s1234 t1000000000");
}
