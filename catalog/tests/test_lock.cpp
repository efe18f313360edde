// Several programs changing one catalog: the writer lock, the reload and
// re-apply of a kept change, the backup and its restore.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "catalog_edits.h"
#include "catalog_errors.h"
#include "catalog_lock.h"
#include "catalog_store.h"
#include "catalog_tree.h"
#include "icon_lookup.h"
#include "platform.h"
#include "test_support.h"

using namespace tslcat;
using namespace tslcat_test;

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

class SharedCatalog : public ::testing::Test {
protected:
    QTemporaryDir work;
    QTemporaryDir discs;

    QString Db() const { return work.filePath("mdb.dat"); }

    std::unique_ptr<QProcess> Start(const QStringList &args, const QString &lockTimeout = QString())
    {
        auto p = std::make_unique<QProcess>();
        p->setWorkingDirectory(work.path());
        if (!lockTimeout.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("TSLCAT_LOCK_TIMEOUT", lockTimeout);
            p->setProcessEnvironment(env);
        }
        p->start(TSLCAT_CLI_PATH, args);
        return p;
    }
    static Result Finish(QProcess &p)
    {
        EXPECT_TRUE(p.waitForFinished(120000));
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
                p.readAllStandardError().toStdString()};
    }
    Result Run(const QStringList &args, const QString &lockTimeout = QString())
    {
        auto p = Start(args, lockTimeout);
        return Finish(*p);
    }
    // A folder with a few files to scan as a disc.
    QString DiscFolder(const QString &name, int files = 3)
    {
        const QString folder = discs.filePath(name);
        QDir().mkpath(folder + "/sub");
        for (int i = 0; i < files; ++i)
            EXPECT_TRUE(WriteFile(folder + QString("/sub/f%1.txt").arg(i), "x"));
        return folder;
    }
    QStringList DiscNames()
    {
        TCatalogTree tree;
        tree.LoadFromFile(Db());
        QStringList names;
        for (int row = 0; row < tree.Items().TopLevelCount(); ++row)
            names << QString::fromStdString(std::string(tree.Items().TopLevel(row)->Text()));
        return names;
    }
    void SaveDiscs(const QStringList &names, const QString &file)
    {
        TCatalogTree tree;
        for (const QString &name : names) {
            TCatalogNode *disc = tree.Items().AddChild(nullptr, name.toStdString());
            tree.Items().AddChild(disc, "file.txt");
        }
        tree.SaveToFile(file);
    }
};

} // namespace

// Six adds started together once kept three discs: each program saved its
// own copy over the others'.
TEST_F(SharedCatalog, EightConcurrentAddsKeepEveryDisc)
{
    std::vector<std::unique_ptr<QProcess>> running;
    for (int i = 0; i < 8; ++i)
        // A long wait: a loaded machine must not turn into a lock timeout.
        running.push_back(
            Start({"add", "--name", QString("Disc %1").arg(i), DiscFolder(QString("d%1").arg(i))}, "120"));
    for (auto &p : running) {
        const Result r = Finish(*p);
        EXPECT_EQ(r.status, 0) << r.err;
    }
    QStringList names = DiscNames();
    names.sort();
    QStringList expected;
    for (int i = 0; i < 8; ++i)
        expected << QString("Disc %1").arg(i);
    EXPECT_EQ(names.join(", ").toStdString(), expected.join(", ").toStdString());
    // 8 discs of 3 files each.
    EXPECT_EQ(Run({"stats"}).out.substr(0, 19), "Database: 24 files\n");
    EXPECT_FALSE(QFile::exists(Db() + ".lock"));
}

TEST_F(SharedCatalog, SecondWriterWaitsThenFailsWithTheFileUnchanged)
{
    SaveDiscs({"Old"}, Db());
    const std::string before = ReadFile(Db());
    TCatalogLock held(Db());
    held.Acquire(0);

    QElapsedTimer clock;
    clock.start();
    const Result add = Run({"add", "--name", "New", DiscFolder("n")}, "1");
    EXPECT_GE(clock.elapsed(), 900); // it waited for the lock, not failed at once
    EXPECT_EQ(add.status, 2);
    EXPECT_NE(add.err.find("waiting for another program"), std::string::npos) << add.err;
    EXPECT_NE(add.err.find("is being changed by another program"), std::string::npos) << add.err;
    EXPECT_EQ(ReadFile(Db()), before);

    for (const QStringList &args : {QStringList{"remove", "Old"}, QStringList{"import", Db()}}) {
        const Result r = Run(args, "0");
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_EQ(ReadFile(Db()), before);
    }

    // Readers take no lock.
    const Result list = Run({"list"}, "0");
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(Run({"search", "--discs", "Old"}, "0").status, 0);
}

TEST_F(SharedCatalog, WaitingWriterGoesOnWhenTheLockIsReleased)
{
    SaveDiscs({"Old"}, Db());
    TCatalogLock held(Db());
    held.Acquire(0);
    auto p = Start({"add", "--name", "New", DiscFolder("n")}, "30");
    ASSERT_TRUE(p->waitForStarted());
    QThread::msleep(700);
    held.Release();
    const Result r = Finish(*p);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(DiscNames(), QStringList({"Old", "New"}));
}

// A writer that crashed holding the lock leaves its lock file behind; the
// next writer must not wait for it, nor fail.
TEST_F(SharedCatalog, ALockLeftByACrashedWriterIsTakenOver)
{
    SaveDiscs({"Old"}, Db());
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        QLockFile lock(TCatalogLock::LockFileName(Db()));
        ::_exit(lock.tryLock(0) ? 0 : 1); // no unlock: as if killed
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(QFile::exists(Db() + ".lock"));

    const Result add = Run({"add", "--name", "New", DiscFolder("n")}, "0");
    EXPECT_EQ(add.status, 0) << add.err;
    EXPECT_EQ(DiscNames(), QStringList({"Old", "New"}));
    EXPECT_FALSE(QFile::exists(Db() + ".lock"));
}

TEST_F(SharedCatalog, LockTimeoutComesFromTheEnvironment)
{
    const struct {
        const char *value; // nullptr: unset
        int ms;
    } cases[] = {
        {nullptr, 10000}, {"", 10000}, {"2", 2000}, {"0.25", 250}, {"0", 0}, {"-1", 10000}, {"soon", 10000},
    };
    const QByteArray saved = qgetenv("TSLCAT_LOCK_TIMEOUT");
    const bool wasSet = qEnvironmentVariableIsSet("TSLCAT_LOCK_TIMEOUT");
    for (const auto &c : cases) {
        if (c.value)
            qputenv("TSLCAT_LOCK_TIMEOUT", c.value);
        else
            qunsetenv("TSLCAT_LOCK_TIMEOUT");
        EXPECT_EQ(CatalogLockTimeoutMs(), c.ms) << (c.value ? c.value : "(unset)");
    }
    if (wasSet)
        qputenv("TSLCAT_LOCK_TIMEOUT", saved);
    else
        qunsetenv("TSLCAT_LOCK_TIMEOUT");
}

TEST_F(SharedCatalog, RemoveKeepsABackupAndRestoreSwapsItBack)
{
    SaveDiscs({"A", "B"}, Db());
    const std::string original = ReadFile(Db());
    ASSERT_EQ(Run({"add", "--name", "C", DiscFolder("c")}).status, 0);
    EXPECT_FALSE(QFile::exists(Db() + ".bak")); // adding loses nothing
    const std::string withC = ReadFile(Db());

    ASSERT_EQ(Run({"remove", "B"}).status, 0);
    EXPECT_EQ(ReadFile(Db() + ".bak"), withC);
    EXPECT_EQ(DiscNames(), QStringList({"A", "C"}));
    const std::string withoutB = ReadFile(Db());

    const Result restore = Run({"restore"});
    EXPECT_EQ(restore.status, 0) << restore.err;
    EXPECT_EQ(restore.out, "Database: 5 files\n");
    EXPECT_EQ(ReadFile(Db()), withC);
    EXPECT_EQ(ReadFile(Db() + ".bak"), withoutB); // the restore can be undone
    ASSERT_EQ(Run({"restore"}).status, 0);
    EXPECT_EQ(ReadFile(Db()), withoutB);
    EXPECT_NE(original, withC);
    EXPECT_FALSE(QFile::exists(Db() + ".bak.new"));
}

TEST_F(SharedCatalog, RestoreRefusesAMissingOrDamagedBackup)
{
    SaveDiscs({"A"}, Db());
    const std::string current = ReadFile(Db());
    Result r = Run({"restore"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("mdb.dat.bak' is missing"), std::string::npos) << r.err;

    const std::string damaged = Hex("0D 54 4E 54 0D 00 01 00 00 00 5E 00 00");
    ASSERT_TRUE(WriteFile(Db() + ".bak", damaged));
    r = Run({"restore"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("cannot be read"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(Db()), current);
    EXPECT_EQ(ReadFile(Db() + ".bak"), damaged);
}

TEST_F(SharedCatalog, MissingCatalogNamesTheFileGiven)
{
    const QString elsewhere = work.filePath("some/where.dat");
    const Result r = Run({"--db", elsewhere, "search", "x"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tslcat-cli: No Database found (file '" + elsewhere.toStdString() + "' missing)\n");
    // The default name keeps the window's words.
    EXPECT_EQ(Run({"list"}).err, "tslcat-cli: No Database found (file 'mdb.dat' missing)\n");
}

// --- the kept change and its commit --------------------------------------------

namespace {

// A program that keeps the catalog in memory, as the window does.
struct Keeper {
    QString file;
    TCatalogTree tree;
    TPlainIconLookup icons;
    TCatalogCommitter committer;
    int reloads = 0;

    explicit Keeper(const QString &f) : file(f), committer(f)
    {
        LoadCatalog(tree, file, icons);
        committer.NoteLoaded();
    }
    TCommitResult Commit(const TCatalogEdit &edit)
    {
        return committer.Commit(
            tree, edit,
            [this] {
                ++reloads;
                LoadCatalog(tree, file, icons);
            },
            nullptr, 0);
    }
};

} // namespace

TEST_F(SharedCatalog, CommitReloadsAFileChangedMeanwhileAndAppliesTheChangeAgain)
{
    SaveDiscs({"A", "B", "C"}, Db());
    Keeper window(Db());
    TCatalogNode *c = window.tree.Items().TopLevel(2);

    // Someone else removes A and adds D: C moved from row 2 to row 1.
    SaveDiscs({"B", "C", "D"}, Db());
    EXPECT_TRUE(window.committer.ChangedOnDisk());
    TCommitResult r = window.Commit(TCatalogEdit::RenameNode(*c, "C2"));
    EXPECT_TRUE(r.reloaded);
    EXPECT_TRUE(r.applied);
    EXPECT_TRUE(r.saved);
    EXPECT_FALSE(r.backedUp);
    EXPECT_EQ(DiscNames(), QStringList({"B", "C2", "D"}));
    EXPECT_FALSE(window.committer.ChangedOnDisk());

    // Nothing changed meanwhile: no reload, the tree itself is saved.
    r = window.Commit(TCatalogEdit::RemoveNode(*window.tree.Items().TopLevel(0)));
    EXPECT_FALSE(r.reloaded);
    EXPECT_TRUE(r.backedUp);
    EXPECT_EQ(window.reloads, 1);
    EXPECT_EQ(DiscNames(), QStringList({"C2", "D"}));
    EXPECT_EQ(r.fileCount, 2);
}

TEST_F(SharedCatalog, AChangeThatNoLongerAppliesIsDroppedAndNothingIsSaved)
{
    SaveDiscs({"A", "B"}, Db());
    Keeper window(Db());
    TCatalogNode *b = window.tree.Items().TopLevel(1);
    SaveDiscs({"A"}, Db()); // B removed by someone else
    const std::string before = ReadFile(Db());
    const TCommitResult r = window.Commit(TCatalogEdit::RenameNode(*b, "B2"));
    EXPECT_TRUE(r.reloaded);
    EXPECT_FALSE(r.applied);
    EXPECT_FALSE(r.saved);
    EXPECT_EQ(ReadFile(Db()), before);
    EXPECT_EQ(Outline(window.tree), "A\n  file.txt\n"); // the tree shows the file
}

TEST_F(SharedCatalog, RemoveAllKeepsTheBackupOfTheCatalogOnDisk)
{
    SaveDiscs({"A"}, Db());
    Keeper window(Db());
    SaveDiscs({"A", "Added elsewhere"}, Db());
    const std::string onDisk = ReadFile(Db());
    const TCommitResult r = window.Commit(TCatalogEdit::RemoveAllDiscs());
    EXPECT_TRUE(r.reloaded && r.applied && r.backedUp);
    EXPECT_EQ(ReadFile(BackupFileName(Db())), onDisk); // the disc added elsewhere is kept there
    EXPECT_EQ(DiscNames(), QStringList());
}

TEST(FindNode, FollowsRowsAndNamesWhenRowsMoved)
{
    TCatalogTree tree;
    TCatalogNodes &items = tree.Items();
    TCatalogNode *a = items.AddChild(nullptr, "A");
    items.AddChild(a, "x");
    TCatalogNode *dup1 = items.AddChild(a, "dup");
    items.AddChild(a, "y");
    items.AddChild(a, "z");
    TCatalogNode *dup2 = items.AddChild(a, "dup");
    TCatalogNode *b = items.AddChild(nullptr, "B");

    const struct {
        TNodePath path;
        TCatalogNode *expected;
    } cases[] = {
        {{{0, "A"}}, a},
        {{{1, "B"}}, b},
        {{{0, "B"}}, b},                     // B moved up a row
        {{{5, "B"}}, b},                     // or down
        {{{0, "A"}, {1, "dup"}}, dup1},      // exact
        {{{0, "A"}, {4, "dup"}}, dup2},      // nearest namesake to row 4 is row 4
        {{{0, "A"}, {2, "dup"}}, dup1},      // row 1 is nearer than row 4
        {{{0, "A"}, {9, "x"}}, a->Child(0)}, // row out of range: by name
        {{{0, "A"}, {0, "gone"}}, nullptr},
        {{{0, "C"}}, nullptr},
        {{{0, "B"}, {0, "x"}}, nullptr}, // B has no children
    };
    for (const auto &c : cases)
        EXPECT_EQ(FindNode(tree, c.path), c.expected) << c.path.back().name;
    EXPECT_EQ(PathOfNode(*dup2).size(), 2u);
    EXPECT_EQ(PathOfNode(*dup2)[1].row, 4);
    EXPECT_EQ(FindNode(tree, PathOfNode(*dup2)), dup2);
}

// Every save used to start a detached thread to close the replaced file.
TEST(HeldFiles, ReleasedFilesAreAllClosed)
{
    std::vector<int> handles;
    for (int i = 0; i < 50; ++i) {
        const int h = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(h, 0);
        handles.push_back(h);
    }
    for (int h : handles)
        platform::ReleaseHeldFile(h);
    auto allClosed = [&] {
        for (int h : handles)
            if (::fcntl(h, F_GETFD) != -1)
                return false;
        return true;
    };
    for (int i = 0; i < 500 && !allClosed(); ++i)
        QThread::msleep(10);
    EXPECT_TRUE(allClosed());
}
