// Volumes: ordering, drive readiness, default disc names, and finding a
// result's disc by name among a fake volume list, also inside the result
// actions with a fake clock.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#ifdef __linux__
#include <sys/mount.h>
#endif

#include <map>
#include <set>

#include "catalog_search.h"
#include "catalog_tree.h"
#include "result_actions.h"
#include "volumes.h"

using namespace tslcat;

namespace {

TVolume Volume(const std::string &root, const std::string &label, bool optical = false)
{
    TVolume v;
    v.root = root;
    v.label = label;
    v.optical = optical;
    return v;
}

TVolume EmptyMountPoint(const std::string &root, bool optical = true)
{
    TVolume v = Volume(root, "", optical);
    v.mounted = false;
    v.ready = false;
    return v;
}

std::vector<std::string> Roots(const std::vector<TVolume> &volumes)
{
    std::vector<std::string> roots;
    for (const TVolume &v : volumes)
        roots.push_back(v.root);
    return roots;
}

std::string Bytes(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

TResultRow RowFor(const std::vector<std::string> &components, const std::string &disc = "Tools 1998")
{
    TCatalogTree tree;
    TCatalogNode *n = tree.Items().AddChild(nullptr, disc);
    for (const auto &c : components)
        n = tree.Items().AddChild(n, c);
    return MakeResultRow(*n);
}

// A desktop in a box: volumes come and go at given moments of a fake clock
// that only the action's waits move on.
struct FakeDesktop : IVolumeList, IVolumeQuery, IFileProbe, ILauncher, IPrompter, IWaiter {
    std::vector<TVolume> volumes;
    std::set<std::string> files;
    std::map<int, std::function<void()>> at; // fake time (ms) -> what happens then
    int now = 0;
    std::vector<int> waits;
    bool answer = false;     // to the other-disc question
    bool keepWaiting = true; // false: the program is leaving
    std::vector<std::string> log;

    std::vector<TVolume> Volumes() override { return volumes; }
    bool QueryVolume(const std::string &root, std::string &label) override { return QueryDrive(volumes, root, label); }
    bool FileExists(const std::string &path) override { return files.count(path) != 0; }
    void OpenWithDefault(const std::string &path) override { log.push_back("open " + path); }
    void OpenInEditor(const std::string &path) override { log.push_back("edit " + path); }
    void ShowMessage(const std::string &text) override { log.push_back("message " + text); }
    bool Ask(const std::string &text) override
    {
        log.push_back("ask " + text);
        return answer;
    }
    bool Wait(int milliseconds) override
    {
        waits.push_back(milliseconds);
        const int until = now + milliseconds;
        for (auto it = at.upper_bound(now); it != at.end() && it->first <= until; it = at.upper_bound(now)) {
            now = it->first;
            it->second();
        }
        now = until;
        return keepWaiting;
    }

    TActionOutcome Run(const TResultRow &row, const std::string &driveRoot,
                       TResultAction action = TResultAction::RunSelectedFile)
    {
        TActionEnvironment env{*this, *this, *this, *this, this, this};
        return RunResultAction(action, &row, driveRoot, env);
    }
};

const std::string kPrompt = "message Insert CD \r\r'Tools 1998'\r\r into CD-Rom Drive, then press OK";

} // namespace

TEST(Volumes, OpticalDrivesComeFirstAndRootsOnce)
{
    std::vector<TVolume> volumes{Volume("/", ""), Volume("/media/u/DISC A/", "DISC A", true), Volume("/home/", ""),
                                 Volume("/media/u/DISC A/", "shadow", true), EmptyMountPoint("/media/cdrom0/")};
    OrderVolumes(volumes);
    EXPECT_EQ(Roots(volumes), (std::vector<std::string>{"/media/u/DISC A/", "/media/cdrom0/", "/", "/home/"}));
    EXPECT_EQ(volumes[0].label, "DISC A"); // the first entry of a root stays
    EXPECT_EQ(DriveRootOf("/media/cd"), "/media/cd/");
    EXPECT_EQ(DriveRootOf("/media/cd///"), "/media/cd/");
    EXPECT_EQ(DriveRootOf("/"), "/");
}

TEST(Volumes, DriveReadiness)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string base = Bytes(dir.path());
    ASSERT_TRUE(QDir().mkpath(dir.filePath("cdrom0")));
    ASSERT_TRUE(QDir().mkpath(dir.filePath("plain/folder")));
    ASSERT_TRUE(QFile::link(dir.filePath("cdrom0"), dir.filePath("cdrom")));
    const std::vector<TVolume> volumes{Volume("/media/u/TOOLS/", "TOOLS", true), EmptyMountPoint(base + "/cdrom0/"),
                                       [] {
                                           TVolume v = Volume("/media/u/BAD/", "BAD");
                                           v.ready = false;
                                           return v;
                                       }()};
    const struct {
        std::string root;
        bool ready;
        std::string label;
    } cases[] = {
        {"/media/u/TOOLS/", true, "TOOLS"},
        {"/media/u/TOOLS", true, "TOOLS"},
        // An fstab mount point with nothing mounted is an empty folder, but
        // no drive with a disc in it.
        {base + "/cdrom0/", false, ""},
        {base + "/cdrom/", false, ""}, // a link to it
        {"/media/u/BAD/", false, ""},
        // Any other folder serves as a drive, without a label.
        {base + "/plain/folder", true, ""},
        {base + "/plain/", true, ""},
        {base + "/missing/", false, ""},
        {"", false, ""},
    };
    for (const auto &c : cases) {
        std::string label = "stale";
        EXPECT_EQ(QueryDrive(volumes, c.root, label), c.ready) << c.root;
        EXPECT_EQ(label, c.label) << c.root;
    }
}

TEST(Volumes, DefaultDiscNameIsTheLabelElseTheFoldersName)
{
    EXPECT_EQ(DefaultDiscName("/media/u/TOOLS_98/", "TOOLS_98"), "TOOLS_98");
    EXPECT_EQ(DefaultDiscName("/home/me/Backup 2001/", "Data"), "Data");
    EXPECT_EQ(DefaultDiscName("/home/me/Backup 2001/", ""), "Backup 2001");
    EXPECT_EQ(DefaultDiscName("/home/me/Backup 2001", ""), "Backup 2001");
    EXPECT_EQ(DefaultDiscName("/home/me/./x/../Recipes//", ""), "Recipes");
    EXPECT_EQ(DefaultDiscName("/", ""), "");
    const QString cwd = QDir::currentPath();
    QTemporaryDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.filePath("Relative Disc")));
    QDir::setCurrent(dir.path());
    EXPECT_EQ(DefaultDiscName("Relative Disc", ""), "Relative Disc");
    QDir::setCurrent(cwd);
}

TEST(Volumes, FindByLabelExactFirstThenIgnoringCase)
{
    TVolume notReady = Volume("/media/u/off/", "Tools 1998");
    notReady.ready = false;
    const std::vector<TVolume> volumes{Volume("/media/u/upper/", "TOOLS 1998", true), notReady,
                                       Volume("/media/u/exact/", "Tools 1998"), Volume("/media/u/none/", ""),
                                       Volume("/media/u/cafe/", "Caf\xc3\xa9")};
    const struct {
        const char *name;
        const char *root; // nullptr: none
    } cases[] = {
        {"Tools 1998", "/media/u/exact/"}, // exact beats an earlier case-insensitive match
        {"tools 1998", "/media/u/upper/"}, // first of the case-insensitive ones
        {"Tools", nullptr},
        {"", nullptr},                 // unlabelled volumes have no name to match
        {"Caf\xe9", "/media/u/cafe/"}, // a Windows-1252 catalog name against a UTF-8 label
        {"CAF\xc3\x89", "/media/u/cafe/"},
    };
    for (const auto &c : cases) {
        const TVolume *v = FindVolumeByLabel(volumes, c.name);
        EXPECT_EQ(v ? v->root : std::string("none"), c.root ? c.root : "none") << c.name;
    }
}

TEST(Volumes, FindTheVolumeThatHoldsTheFile)
{
    FakeDesktop d;
    TVolume off = Volume("/media/u/off/", "X");
    off.ready = false;
    d.volumes = {Volume("/cd/", "A"), off, Volume("/media/u/B/", "B"), Volume("/media/u/C/", "C")};
    const TResultRow row = RowFor({"setup", "run.exe"});
    d.files = {"/cd/setup/run.exe", "/media/u/off/setup/run.exe", "/media/u/C/setup/run.exe"};
    EXPECT_EQ(FindVolumeWithFile(d.volumes, row, d)->root, "/cd/");
    EXPECT_EQ(FindVolumeWithFile(d.volumes, row, d, "/cd")->root, "/media/u/C/");
    d.files = {"/media/u/B/setup"};
    EXPECT_EQ(FindVolumeWithFile(d.volumes, row, d), nullptr);
    EXPECT_EQ(FindVolumeWithFile(d.volumes, RowFor({}), d), nullptr); // a disc row has no path
}

TEST(DiscLookup, BeforeAskingForTheDisc)
{
    const TResultRow row = RowFor({"setup", "run.exe"});
    const std::string question = "ask The disc 'Tools 1998' is not mounted, but the file is on\r\r/media/u/BACKUP/"
                                 "   label 'BACKUP'\r\rThis may be another disc. Use it?";
    const struct {
        const char *what;
        std::vector<TVolume> volumes;
        std::set<std::string> files;
        bool answer;
        TActionOutcome outcome;
        std::vector<std::string> log;
    } cases[] = {
        {"the file on the chosen drive goes first",
         {Volume("/cd/", "OTHER", true), Volume("/media/u/Tools 1998/", "Tools 1998")},
         {"/cd/setup/run.exe", "/media/u/Tools 1998/setup/run.exe"},
         false,
         TActionOutcome::Started,
         {"open /cd/setup/run.exe"}},
        {"found by its label, not asked",
         {Volume("/cd/", "OTHER", true), Volume("/media/u/Tools 1998/", "Tools 1998")},
         {"/media/u/Tools 1998/setup/run.exe"},
         false,
         TActionOutcome::Started,
         {"open /media/u/Tools 1998/setup/run.exe"}},
        {"a label in other letter case, even with the drive empty",
         {EmptyMountPoint("/cd/"), Volume("/media/u/TOOLS 1998/", "TOOLS 1998")},
         {"/media/u/TOOLS 1998/setup/run.exe"},
         false,
         TActionOutcome::Started,
         {"open /media/u/TOOLS 1998/setup/run.exe"}},
        {"another disc holds the file: asked, accepted",
         {Volume("/cd/", "OTHER", true), Volume("/media/u/BACKUP/", "BACKUP")},
         {"/media/u/BACKUP/setup/run.exe"},
         true,
         TActionOutcome::Started,
         {question, "open /media/u/BACKUP/setup/run.exe"}},
        {"another disc holds the file: asked, refused, then the insert prompt",
         {Volume("/cd/", "OTHER", true), Volume("/media/u/BACKUP/", "BACKUP")},
         {"/media/u/BACKUP/setup/run.exe"},
         false,
         TActionOutcome::NotFound,
         {question, kPrompt}},
        {"the labelled disc lacks the file: the other one is offered",
         {Volume("/media/u/Tools 1998/", "Tools 1998"), Volume("/media/u/BACKUP/", "BACKUP"), Volume("/cd/", "", true)},
         {"/media/u/BACKUP/setup/run.exe"},
         true,
         TActionOutcome::Started,
         {question, "open /media/u/BACKUP/setup/run.exe"}},
        {"an empty fstab drive and no disc anywhere",
         {EmptyMountPoint("/cd/"), Volume("/", "")},
         {},
         false,
         TActionOutcome::DriveNotReady,
         {"message Drive not ready !"}},
        {"refusing the offer with the drive empty",
         {EmptyMountPoint("/cd/"), Volume("/media/u/BACKUP/", "BACKUP")},
         {"/media/u/BACKUP/setup/run.exe"},
         false,
         TActionOutcome::DriveNotReady,
         {question, "message Drive not ready !"}},
    };
    for (const auto &c : cases) {
        FakeDesktop d;
        d.volumes = c.volumes;
        d.files = c.files;
        d.answer = c.answer;
        EXPECT_EQ(d.Run(row, "/cd/"), c.outcome) << c.what;
        EXPECT_EQ(d.log, c.log) << c.what;
    }
}

TEST(DiscLookup, AfterTheInsertPromptLooksForTenSeconds)
{
    const TResultRow row = RowFor({"setup", "run.exe"});
    {
        // Nobody inserts anything: ten looks a second apart, then silence.
        FakeDesktop d;
        d.volumes = {Volume("/cd/", "OTHER", true)};
        EXPECT_EQ(d.Run(row, "/cd/"), TActionOutcome::NotFound);
        EXPECT_EQ(d.log, std::vector<std::string>{kPrompt});
        EXPECT_EQ(d.waits, std::vector<int>(10, 1000));
    }
    {
        // The disc is mounted under its label 3.5 s after the prompt.
        FakeDesktop d;
        d.volumes = {Volume("/cd/", "OTHER", true)};
        d.at[3500] = [&d] {
            d.volumes.push_back(Volume("/media/u/Tools 1998/", "Tools 1998", true));
            d.files.insert("/media/u/Tools 1998/setup/run.exe");
        };
        EXPECT_EQ(d.Run(row, "/cd", TResultAction::BrowseContainingFolder), TActionOutcome::Started);
        EXPECT_EQ(d.log, (std::vector<std::string>{kPrompt, "open /media/u/Tools 1998/setup/"}));
        EXPECT_EQ(d.waits.size(), 4u);
    }
    {
        // A newcomer with another label is offered; the volume refused
        // before the prompt is not offered again.
        FakeDesktop d;
        d.volumes = {Volume("/cd/", "OTHER", true), Volume("/media/u/OLD/", "OLD")};
        d.files = {"/media/u/OLD/setup/run.exe"};
        d.at[1200] = [&d] {
            d.volumes.push_back(Volume("/media/u/NEW/", "NEW", true));
            d.files.insert("/media/u/NEW/setup/run.exe");
            d.answer = true;
        };
        EXPECT_EQ(d.Run(row, "/cd/", TResultAction::OpenWithNotepad), TActionOutcome::Started);
        ASSERT_EQ(d.log.size(), 4u);
        EXPECT_NE(d.log[0].find("/media/u/OLD/"), std::string::npos);
        EXPECT_EQ(d.log[1], kPrompt);
        EXPECT_NE(d.log[2].find("/media/u/NEW/   label 'NEW'"), std::string::npos);
        EXPECT_EQ(d.log[3], "edit /media/u/NEW/setup/run.exe");
    }
    {
        // The disc turns up in the chosen drive itself.
        FakeDesktop d;
        d.volumes = {Volume("/cd/", "", true)};
        d.at[900] = [&d] { d.files.insert("/cd/setup/run.exe"); };
        EXPECT_EQ(d.Run(row, "/cd/"), TActionOutcome::Started);
        EXPECT_EQ(d.waits, std::vector<int>{1000});
    }
    {
        // The program is leaving: the look ends with the first wait.
        FakeDesktop d;
        d.volumes = {Volume("/cd/", "", true)};
        d.keepWaiting = false;
        EXPECT_EQ(d.Run(row, "/cd/"), TActionOutcome::NotFound);
        EXPECT_EQ(d.waits.size(), 1u);
    }
}

TEST(Volumes, SystemListIsOrderedAndAnswersTheDriveQuery)
{
    // Whatever this machine mounts, the list is ordered and each mounted
    // entry answers the drive query the way the list says.
    TSystemVolumeList system;
    const std::vector<TVolume> volumes = system.Volumes();
    bool opticalDone = false;
    for (const TVolume &v : volumes) {
        EXPECT_FALSE(v.optical && opticalDone) << v.root;
        opticalDone = opticalDone || !v.optical;
        EXPECT_EQ(v.root.back(), '/') << v.root;
        std::string label;
        EXPECT_EQ(QueryDrive(volumes, v.root, label), v.mounted && v.ready) << v.root;
    }
}

#ifdef __linux__
TEST(Volumes, SystemWatcherSeesMountAndUnmount)
{
    int argc = 1;
    char name[] = "tslcat_core_tests";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    TSystemVolumeList system;
    int changes = 0;
    QEventLoop loop;
    system.Watch([&] {
        ++changes;
        loop.quit();
    });
    auto waitForChanges = [&](int expected) {
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        timeout.start(5000);
        while (changes < expected && timeout.isActive())
            loop.exec();
    };
    QTemporaryDir dir;
    const QByteArray target = QFile::encodeName(dir.path());
    if (::mount("tslcat-test", target.constData(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "mounting needs privileges this run does not have";
    // Other mounts on the machine may add changes of their own.
    waitForChanges(1);
    EXPECT_GE(changes, 1);
    const int mounted = changes;
    ASSERT_EQ(::umount(target.constData()), 0);
    waitForChanges(mounted + 1);
    EXPECT_GT(changes, mounted);
}
#endif
