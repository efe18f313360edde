// Archives opened during a scan: every kind read, one level only, the
// archive counted as a folder, the bounds that keep an archive closed,
// hostile members, and the result actions on a member.

#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <archive.h>
#include <archive_entry.h>

#include <set>

#include "archive_reader.h"
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

struct Member {
    std::string path;
    std::string content;       // a folder when the path ends in "/"
    int64_t declaredSize = -1; // for zeros streamed in: that many zero bytes
};

enum class Kind { Zip, SevenZip, Tar, TarGz, TarBz2, TarXz, TarZst, Iso };

// Writes an archive with libarchive; false when this libarchive cannot.
bool WriteArchive(const std::string &path, Kind kind, const std::vector<Member> &members)
{
    struct archive *a = archive_write_new();
    int r = ARCHIVE_OK;
    switch (kind) {
    case Kind::Zip:
        r = archive_write_set_format_zip(a);
        break;
    case Kind::SevenZip:
        r = archive_write_set_format_7zip(a);
        break;
    case Kind::Iso:
        r = archive_write_set_format_iso9660(a);
        break;
    default:
        r = archive_write_set_format_pax_restricted(a);
        break;
    }
    if (kind == Kind::TarGz)
        r = std::min(r, archive_write_add_filter_gzip(a));
    if (kind == Kind::TarBz2)
        r = std::min(r, archive_write_add_filter_bzip2(a));
    if (kind == Kind::TarXz)
        r = std::min(r, archive_write_add_filter_xz(a));
    if (kind == Kind::TarZst)
        r = std::min(r, archive_write_add_filter_zstd(a));
    if (r != ARCHIVE_OK || archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK) {
        archive_write_free(a);
        return false;
    }
    const std::string zeros(1 << 16, '\0');
    for (const Member &m : members) {
        struct archive_entry *e = archive_entry_new();
        archive_entry_set_pathname(e, m.path.c_str());
        const bool folder = !m.path.empty() && m.path.back() == '/';
        archive_entry_set_filetype(e, folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(e, folder ? 0755 : 0644);
        archive_entry_set_mtime(e, 1000000000, 0);
        const int64_t size = m.declaredSize >= 0 ? m.declaredSize : static_cast<int64_t>(m.content.size());
        archive_entry_set_size(e, folder ? 0 : size);
        archive_write_header(a, e);
        if (m.declaredSize >= 0) {
            for (int64_t left = m.declaredSize; left > 0; left -= static_cast<int64_t>(zeros.size()))
                archive_write_data(a, zeros.data(), static_cast<size_t>(std::min<int64_t>(left, zeros.size())));
        } else if (!folder) {
            archive_write_data(a, m.content.data(), m.content.size());
        }
        archive_entry_free(e);
    }
    const bool ok = archive_write_close(a) == ARCHIVE_OK;
    archive_write_free(a);
    return ok;
}

class ArchiveScan : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string Root() const { return dir.path().toStdString() + "/"; }
    std::string At(const std::string &rel) const { return Root() + rel; }
    TCatalogTree tree;
    TPlainIconLookup icons;

    TAddDiscResult Add(bool open, TArchiveLimits limits = TArchiveLimits::ForArchive())
    {
        TScanOptions options;
        options.openArchives = open;
        options.archiveLimits = limits;
        return AddDisc(tree, Root(), "Disc", icons, nullptr, options);
    }
};

const std::vector<Member> kSmall = {{"docs/", ""}, {"docs/read me.txt", "hello"}, {"setup.exe", "MZ"}};

} // namespace

TEST_F(ArchiveScan, EveryKindOpensAsAFolderOfItsMembers)
{
    const struct {
        Kind kind;
        const char *name;
    } kinds[] = {{Kind::Zip, "a.zip"},        {Kind::SevenZip, "b.7z"},    {Kind::Tar, "c.tar"},
                 {Kind::TarGz, "d.tar.gz"},   {Kind::TarBz2, "e.tar.bz2"}, {Kind::TarXz, "f.tar.xz"},
                 {Kind::TarZst, "g.tar.zst"}, {Kind::Iso, "h.iso"}};
    std::string expected = "Disc\n";
    for (const auto &k : kinds) {
        ASSERT_TRUE(WriteArchive(At(k.name), k.kind, kSmall)) << k.name;
        expected += std::string("  ") + k.name + "\n    setup.exe\n    docs\n      read me.txt\n";
    }
    const TAddDiscResult r = Add(true);
    EXPECT_TRUE(r.keptClosed.empty());
    EXPECT_EQ(Outline(tree), expected);
    // The archives are folders now: two files in each, no archive types.
    EXPECT_EQ(r.fileCount, 16);
    EXPECT_EQ(r.fileTypes.Items(), (std::vector<std::string>{".exe", ".txt"}));

    // Without the option they are files.
    TCatalogTree plain;
    const TAddDiscResult p = AddDisc(plain, Root(), "Disc", icons);
    EXPECT_EQ(p.fileCount, 8);
}

TEST_F(ArchiveScan, OneLevelOnlyAndHiddenRulesInside)
{
    ASSERT_TRUE(WriteArchive(At("inner.zip"), Kind::Zip, kSmall));
    std::string inner = ReadFile(QString::fromStdString(At("inner.zip")));
    ASSERT_TRUE(QFile::remove(QString::fromStdString(At("inner.zip"))));
    ASSERT_TRUE(WriteArchive(At("outer.zip"), Kind::Zip,
                             {{"inner.zip", inner}, {".git/config", "x"}, {".keep", ""}, {"f.txt", "1"}}));
    Add(true);
    EXPECT_EQ(Outline(tree), "Disc\n  outer.zip\n    .keep\n    f.txt\n    inner.zip\n");
    EXPECT_EQ(tree.Items().Item(1)->Data(), kArchiveNodeData);
    EXPECT_EQ(tree.Items().Item(4)->Data(), 0u); // the nested archive stays a file
}

TEST_F(ArchiveScan, SearchesSeeTheArchiveAsAFolderAndItsMembersAsFiles)
{
    ASSERT_TRUE(WriteArchive(At("tools.zip"), Kind::Zip, kSmall));
    Add(true);
    TSearchRequest folders;
    folders.kind = TSearchKind::Folders;
    folders.expression = "tools";
    TSearchOutcome f = RunSearch(tree, folders);
    ASSERT_EQ(f.rows.size(), 1u);
    EXPECT_EQ(f.rows[0].fullPath, "[ ]:\\tools.zip");
    EXPECT_FALSE(f.rows[0].IsArchiveMember());

    TSearchRequest files;
    files.kind = TSearchKind::Files;
    files.expression = "read";
    TSearchOutcome m = RunSearch(tree, files);
    ASSERT_EQ(m.rows.size(), 1u);
    EXPECT_EQ(m.rows[0].fullPath, "[ ]:\\tools.zip\\docs\\read me.txt");
    EXPECT_EQ(m.rows[0].archiveComponent, 0);
    files.expression = "tools";
    EXPECT_TRUE(RunSearch(tree, files).rows.empty());

    // The mark rides in the catalog file: a member is still one after a
    // save and a load.
    TCatalogTree loaded;
    LoadFromBytes(loaded, SaveToBytes(tree));
    files.expression = "read";
    const TSearchOutcome again = RunSearch(loaded, files);
    ASSERT_EQ(again.rows.size(), 1u);
    EXPECT_EQ(again.rows[0].archiveComponent, 0);
    // And in a copy, as a disc scanned aside is appended to the catalog.
    TCatalogTree copy;
    CopySubtree(*tree.Items().Item(0), copy.Items(), nullptr);
    const TSearchOutcome copied = RunSearch(copy, files);
    ASSERT_EQ(copied.rows.size(), 1u);
    EXPECT_EQ(copied.rows[0].archiveComponent, 0);
}

TEST_F(ArchiveScan, BoundsKeepAnArchiveClosedAndTheScanGoesOn)
{
    std::vector<Member> hundred;
    for (int i = 0; i < 100; ++i)
        hundred.push_back({"m" + std::to_string(i), ""});
    std::vector<Member> more = hundred;
    more.push_back({"one-too-many", ""});
    ASSERT_TRUE(WriteArchive(At("hundred.zip"), Kind::Zip, hundred));
    ASSERT_TRUE(WriteArchive(At("more.zip"), Kind::Zip, more));
    // Implied folders count as members: one folder and 99 files is 100.
    std::vector<Member> implied;
    for (int i = 0; i < 99; ++i)
        implied.push_back({"d/m" + std::to_string(i), ""});
    ASSERT_TRUE(WriteArchive(At("implied.tar"), Kind::Tar, implied));
    ASSERT_TRUE(WriteFile(QString::fromStdString(At("fake.zip")), "not an archive at all"));
    ASSERT_TRUE(WriteFile(QString::fromStdString(At("z-after.txt")), ""));

    const TAddDiscResult r = Add(true, {100, 30000});
    std::set<std::string> closed;
    for (const TClosedArchive &c : r.keptClosed)
        closed.insert(c.path.substr(Root().size()) + ": " + c.reason.substr(0, 20));
    EXPECT_EQ(closed, (std::set<std::string>{"fake.zip: Unrecognized archive", "more.zip: more than 100 member"}));
    TCatalogNodes &items = tree.Items();
    EXPECT_EQ(items.Item(0)->Count(), 5); // every file of the disc is there
    for (int i = 0; i < items.Item(0)->Count(); ++i) {
        const TCatalogNode *n = items.Item(0)->Child(i);
        const bool opened = n->Text() == "hundred.zip" || n->Text() == "implied.tar";
        EXPECT_EQ(n->HasChildren(), opened) << n->Text();
        EXPECT_EQ(n->Data() == kArchiveNodeData, opened) << n->Text();
    }
}

TEST_F(ArchiveScan, CompressedBombRunsIntoTheTimeBound)
{
    // 64 MB of zeros in one member, a few hundred kilobytes packed: a
    // listing must decompress all of it to reach the next header.
    ASSERT_TRUE(WriteArchive(At("bomb.tar.gz"), Kind::TarGz, {{"zeros", "", 64 << 20}, {"after", "x"}}));
    TEntryTree members;
    const TArchiveReport slow = ReadArchiveMembers(At("bomb.tar.gz"), members, {100, 1});
    EXPECT_EQ(slow.result, TArchiveResult::TooSlow) << slow.message;
    // Within the normal bound it opens; the sizes are as declared.
    TEntryTree all;
    const TArchiveReport ok = ReadArchiveMembers(At("bomb.tar.gz"), all, TArchiveLimits::ForArchive());
    EXPECT_EQ(ok.result, TArchiveResult::Ok) << ok.message;
    EXPECT_EQ(all.Size(), 2u);
}

TEST_F(ArchiveScan, HostileMemberNamesStayInsideTheArchiveNode)
{
    const std::string longName(400, 'L');
    ASSERT_TRUE(WriteArchive(
        At("evil.tar"), Kind::Tar,
        {{"../../etc/passwd", "x"}, {"/abs/file", "x"}, {"a/../../b", "x"}, {longName, "x"}, {"./././", ""}}));
    const TAddDiscResult r = Add(true);
    EXPECT_TRUE(r.keptClosed.empty());
    EXPECT_EQ(Outline(tree),
              "Disc\n  evil.tar\n    " + std::string(255, 'L') +
                  "\n    a\n      b\n    abs\n      file\n    etc\n      passwd\n");
}

TEST_F(ArchiveScan, ArchivesInsideAScannedImageStayFiles)
{
    ASSERT_TRUE(QDir().mkpath(dir.filePath("src")));
    ASSERT_TRUE(WriteArchive(At("src/a.zip"), Kind::Zip, kSmall));
    std::string zip = ReadFile(QString::fromStdString(At("src/a.zip")));
    ASSERT_TRUE(WriteArchive(At("disc.iso"), Kind::Iso, {{"a.zip", zip}}));
    TScanOptions options;
    options.openArchives = true;
    AddDisc(tree, At("disc.iso"), "Image", icons, nullptr, options);
    EXPECT_EQ(Outline(tree), "Image\n  a.zip\n");
}

// ---- result actions on a member ------------------------------------------------------

namespace {

struct Fakes : IVolumeQuery, IFileProbe, ILauncher, IPrompter {
    std::set<std::string> files;
    std::vector<std::string> log;
    bool QueryVolume(const std::string &, std::string &label) override
    {
        label.clear();
        return true;
    }
    bool FileExists(const std::string &path) override { return files.count(path) != 0; }
    void OpenWithDefault(const std::string &path) override { log.push_back("open " + path); }
    void OpenInEditor(const std::string &path) override { log.push_back("edit " + path); }
    void ShowMessage(const std::string &text) override { log.push_back("message " + text); }
};

} // namespace

TEST(ArchiveMemberActions, BrowseOpensTheArchivesFolderTheOthersExplain)
{
    TCatalogTree tree;
    TCatalogNodes &items = tree.Items();
    TCatalogNode *disc = items.AddChild(nullptr, "Disc");
    TCatalogNode *setup = items.AddChild(disc, "setup");
    TCatalogNode *zip = items.AddChild(setup, "tools.zip");
    zip->SetData(kArchiveNodeData);
    TCatalogNode *member = items.AddChild(items.AddChild(zip, "bin"), "run.exe");
    const TResultRow row = MakeResultRow(*member);
    ASSERT_EQ(row.archiveComponent, 1);
    const TActionTarget t = MakeActionTarget(row, "/media/cd");
    EXPECT_EQ(t.target, "/media/cd/setup/tools.zip");
    EXPECT_EQ(t.folder, "/media/cd/setup/");

    const std::string explained = "message 'run.exe' is inside the archive 'tools.zip' and cannot be opened on its "
                                  "own.\r\rUse \"Browse Containing Folder\" to open the folder holding the archive.";
    const struct {
        TResultAction action;
        TActionOutcome outcome;
        std::vector<std::string> log;
    } cases[] = {
        {TResultAction::BrowseContainingFolder, TActionOutcome::Started, {"open /media/cd/setup/"}},
        {TResultAction::RunSelectedFile, TActionOutcome::InsideArchive, {explained}},
        {TResultAction::OpenWithNotepad, TActionOutcome::InsideArchive, {explained}},
    };
    for (const auto &c : cases) {
        Fakes fakes;
        fakes.files.insert("/media/cd/setup/tools.zip");
        TActionEnvironment env{fakes, fakes, fakes, fakes};
        EXPECT_EQ(RunResultAction(c.action, &row, "/media/cd/", env), c.outcome);
        EXPECT_EQ(fakes.log, c.log);
    }
    // The archive itself is a folder row on the disc: no member handling.
    const TResultRow archiveRow = MakeResultRow(*zip);
    EXPECT_FALSE(archiveRow.IsArchiveMember());
    EXPECT_EQ(MakeActionTarget(archiveRow, "/m/").target, "/m/setup/tools.zip");
}

// ---- tslcat-cli ----------------------------------------------------------------------

namespace {

struct CliResult {
    int status;
    std::string out;
    std::string err;
};

CliResult RunCli(const QString &workDir, const QStringList &args)
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.start(TSLCAT_CLI_PATH, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

} // namespace

TEST_F(ArchiveScan, CliAddsImagesByLabelRefusesOthersAndNamesArchivesKeptClosed)
{
    QTemporaryDir work;
    const QString db = work.filePath("mdb.dat");
    ASSERT_TRUE(WriteArchive(At("disc.iso"), Kind::Iso, kSmall));
    // libarchive writes "CDROM" as the label unless told otherwise.
    CliResult r = RunCli(work.path(), {"add", dir.filePath("disc.iso")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Database: 2 files\n");
    EXPECT_EQ(RunCli(work.path(), {"list"}).out, "CDROM\r\n\tsetup.exe\r\n\tdocs\r\n\t\tread me.txt\r\n");
    const std::string saved = ReadFile(db);

    ASSERT_TRUE(WriteFile(dir.filePath("notes.iso"), "plain text, not an image"));
    r = RunCli(work.path(), {"add", dir.filePath("notes.iso")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tslcat-cli: Cannot read disc image " + At("notes.iso") + ": not an ISO 9660 image\n");
    r = RunCli(work.path(), {"add", "--name", "Given", dir.filePath("notes.iso")});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Cannot read disc image " + At("notes.iso")), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(db), saved);

    // A folder with one good and one broken archive, scanned with --archives.
    QTemporaryDir folder;
    const std::string root = folder.path().toStdString() + "/";
    ASSERT_TRUE(WriteArchive(root + "good.zip", Kind::Zip, kSmall));
    ASSERT_TRUE(WriteFile(folder.filePath("broken.7z"), "7z but not really"));
    r = RunCli(work.path(), {"add", "--archives", "--name", "Folder", folder.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "tslcat-cli: kept closed: " + root + "broken.7z: Unrecognized archive format\n");
    // broken.7z, and the two members of good.zip; the 2 files of the image.
    EXPECT_EQ(r.out, "Database: 5 files\n");
    r = RunCli(work.path(), {"search", "--folders", "good"});
    EXPECT_EQ(r.out, "Folder\tgood.zip\t[ ]:\\good.zip\n");
}
