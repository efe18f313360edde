// The catalog never loses data, and hostile input never crashes it:
// tslcat-cli killed while it saves, saves that fail (file size limit,
// read-only folder or file, full disk), nesting far deeper than the reader
// follows, names of every byte value, and scans of trees with link loops,
// FIFOs, unreadable folders, 255-byte names and paths over 4096 bytes.
//
// Some cases need a child process: the CLI is started with fork/exec so that
// a limit or a lower user can be applied to it alone, and scans that could
// block run in a child that the test can give up on.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "catalog_errors.h"
#include "catalog_tree.h"
#include "icon_lookup.h"
#include "test_support.h"
#include "tree_scanner.h"

using namespace tslcat;
using namespace tslcat_test;

namespace {

constexpr uid_t kNobody = 65534;

std::string Bytes(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

// Lowers the calling process to the unprivileged user (a child only).
void BecomeNobody()
{
    if (::geteuid() != 0)
        return;
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
        _exit(126);
}

struct ChildResult {
    int status = -1; // exit status, -1 when killed or not started
    std::string out;
    std::string err;
};

std::string ReadAll(int fd)
{
    std::string text;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(got));
    return text;
}

// Starts tslcat-cli in `workDir` with `args`; `setup` runs in the child just
// before the program is started.
pid_t StartCli(const QString &workDir, const std::vector<std::string> &args, const std::function<void()> &setup,
               int *outFd, int *errFd)
{
    int out[2], err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0)
        return -1;
    std::vector<std::string> argvStrings{TSLCAT_CLI_PATH};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argvStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string dir = Bytes(workDir);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        if (::chdir(dir.c_str()) != 0)
            _exit(125);
        if (setup)
            setup();
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    *outFd = out[0];
    *errFd = err[0];
    return pid;
}

ChildResult RunCli(const QString &workDir, const std::vector<std::string> &args,
                   const std::function<void()> &setup = {})
{
    ChildResult r;
    int outFd = -1, errFd = -1;
    const pid_t pid = StartCli(workDir, args, setup, &outFd, &errFd);
    if (pid < 0)
        return r;
    // The outputs are short; the pipes hold them until the child is done.
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.out = ReadAll(outFd);
    r.err = ReadAll(errFd);
    ::close(outFd);
    ::close(errFd);
    if (WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    return r;
}

// A catalog of one disc with `folders` folders of `filesPerFolder` files.
void BuildCatalog(TCatalogTree &tree, const std::string &disc, int folders, int filesPerFolder)
{
    TCatalogNodes &nodes = tree.Items();
    nodes.BeginUpdate();
    TCatalogNode *d = nodes.AddChild(nullptr, disc);
    for (int f = 0; f < folders; ++f) {
        TCatalogNode *folder = nodes.AddChild(d, "folder" + std::to_string(f));
        for (int i = 0; i < filesPerFolder; ++i)
            nodes.AddChild(folder, "file-with-a-longer-name-" + std::to_string(i) + ".txt");
    }
    nodes.EndUpdate();
}

// Files in `dir` other than `keep` (temporary files a save left behind).
QStringList OtherFiles(const QString &dir, const QString &keep)
{
    QStringList files = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    files.removeAll(keep);
    return files;
}

// Runs `body` in a child process and returns its exit status, or -1 when
// it did not end within `seconds` (the child is then killed).
int RunInChild(const std::function<int()> &body, int seconds)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        _exit(body());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct ChildScan {
    int status;          // as RunInChild
    std::string outline; // of the tree after the scan
};

// Scans `root` as disc "D" in a child process, as an ordinary user when
// asked, within 60 seconds; a hang or crash cannot take the test run down.
ChildScan ScanInChild(const std::string &root, bool asNobody)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {-1, {}};
    const int status = RunInChild(
        [&] {
            if (asNobody)
                BecomeNobody();
            TCatalogTree tree;
            TPlainIconLookup icons;
            AddDisc(tree, root, "D", icons);
            const std::string outline = Outline(tree);
            return ::write(pipeFds[1], outline.data(), outline.size()) == static_cast<ssize_t>(outline.size()) ? 0 : 1;
        },
        60);
    ::close(pipeFds[1]);
    ChildScan result{status, ReadAll(pipeFds[0])};
    ::close(pipeFds[0]);
    return result;
}

} // namespace

// --- saving never loses the catalog -----------------------------------------

// True once `pid` holds a file open in `dir` other than the catalog itself:
// the save's temporary file (named, or unnamed and shown as deleted).
bool WritingBeside(pid_t pid, const std::string &dir)
{
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    QDir listing(QString::fromStdString(fds));
    for (const QString &fd : listing.entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        char target[4096];
        const ssize_t n = ::readlink((fds + "/" + fd.toStdString()).c_str(), target, sizeof target - 1);
        if (n <= 0)
            continue;
        const std::string link(target, static_cast<size_t>(n));
        if (link.rfind(dir + "/", 0) == 0 && link != dir + "/mdb.dat")
            return true;
    }
    return false;
}

// tslcat-cli killed at random moments while it removes a disc from a large
// catalog (load, then save): "mdb.dat" is each time the complete old file or
// the complete new one.  Every other round waits until the save has opened
// its temporary file and kills inside the save.  TSLCAT_KILL_ROUNDS sets the
// number of rounds.
TEST(CatalogReliability, KilledSaveLeavesTheOldOrTheNewFile)
{
    int rounds = 50;
    if (const char *env = std::getenv("TSLCAT_KILL_ROUNDS"))
        rounds = std::max(1, std::atoi(env));
    QTemporaryDir dir;
    const QString db = dir.filePath("mdb.dat");
    const std::string dirBytes = Bytes(QDir(dir.path()).canonicalPath());

    TCatalogTree tree;
    BuildCatalog(tree, "Big", 200, 200);
    tree.Items().AddChild(nullptr, "Small");
    tree.SaveToFile(db);
    const std::string oldBytes = ReadFile(db);

    using Clock = std::chrono::steady_clock;
    auto since = [](Clock::time_point t) {
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t).count());
    };
    // Starts the command; with `untilSaving`, returns once its save began.
    auto start = [&](bool untilSaving, int *outFd, int *errFd) {
        const pid_t pid = StartCli(dir.path(), {"remove", "Small"}, {}, outFd, errFd);
        while (untilSaving && !WritingBeside(pid, dirBytes) && ::waitpid(pid, nullptr, WNOHANG) == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        return pid;
    };

    // One undisturbed run measures the whole command and its save, and
    // gives the new file.
    int outFd = -1, errFd = -1;
    const Clock::time_point began = Clock::now();
    pid_t pid = start(false, &outFd, &errFd);
    ASSERT_GT(pid, 0);
    Clock::time_point saveBegan = began;
    while (!WritingBeside(pid, dirBytes) && ::waitpid(pid, nullptr, WNOHANG) == 0)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    saveBegan = Clock::now();
    int status = 0;
    ::waitpid(pid, &status, 0);
    const long long commandMicros = since(began);
    const long long saveMicros = since(saveBegan);
    ::close(outFd);
    ::close(errFd);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string newBytes = ReadFile(db);
    ASSERT_NE(newBytes, oldBytes);

    std::mt19937 random(20261207);
    int keptOld = 0, gotNew = 0, killedInSave = 0;
    for (int round = 0; round < rounds; ++round) {
        ASSERT_TRUE(WriteFile(db, oldBytes));
        const bool inSave = round % 2 == 1;
        pid = start(inSave, &outFd, &errFd);
        ASSERT_GT(pid, 0);
        std::uniform_int_distribution<long long> delay(0, inSave ? saveMicros : commandMicros);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
        const bool savingWhenKilled = inSave && WritingBeside(pid, dirBytes);
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ::close(outFd);
        ::close(errFd);
        if (savingWhenKilled && WIFSIGNALED(status))
            ++killedInSave;

        const std::string now = ReadFile(db);
        if (now == oldBytes) {
            ++keptOld;
        } else if (now == newBytes) {
            ++gotNew;
        } else {
            FAIL() << "round " << round << ": mdb.dat holds " << now.size() << " bytes, neither the old ("
                   << oldBytes.size() << ") nor the new (" << newBytes.size() << ") catalog";
        }
        // A save killed before its rename may leave a named temporary file.
        for (const QString &f : OtherFiles(dir.path(), "mdb.dat"))
            QFile::remove(dir.filePath(f));
    }
    std::printf("kill rounds %d: old file %d, new file %d, killed inside the save %d "
                "(command %lld us, save %lld us)\n",
                rounds, keptOld, gotNew, killedInSave, commandMicros, saveMicros);
    EXPECT_EQ(keptOld + gotNew, rounds);
    if (rounds >= 10) {
        EXPECT_GT(killedInSave, 0) << "no kill landed inside a save";
    }
}

class FailedSave : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string oldBytes;

    // mdb.dat with a small catalog, and "big.txt", a catalog in text form
    // that importing makes the catalog grow by.
    void SetUp() override
    {
        TCatalogTree small;
        BuildCatalog(small, "Old", 2, 3);
        small.SaveToFile(dir.filePath("mdb.dat"));
        oldBytes = ReadFile(dir.filePath("mdb.dat"));
        TCatalogTree big;
        BuildCatalog(big, "New", 200, 100);
        big.SaveToFile(dir.filePath("big.txt"), false);
    }
    void ExpectOldFileOnly(const QStringList &alsoAllowed = {})
    {
        EXPECT_EQ(ReadFile(dir.filePath("mdb.dat")), oldBytes);
        QStringList others = OtherFiles(dir.path(), "mdb.dat");
        for (const QString &f : alsoAllowed)
            others.removeAll(f);
        EXPECT_TRUE(others.isEmpty()) << "left behind: " << others.join(' ').toStdString();
    }
};

TEST_F(FailedSave, FileSizeLimitReportsAWriteErrorAndKeepsTheOldFile)
{
    ChildResult r = RunCli(dir.path(), {"import", "big.txt"}, [] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            64 * 1024, 64 * 1024
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tslcat-cli: Stream write error\n");
    ExpectOldFileOnly({"big.txt"});
}

TEST_F(FailedSave, ReadOnlyFolderOrFileCannotBeCreatedAndIsKept)
{
    // Permission bits do not stop root, so the CLI runs as an ordinary user
    // who owns the folder and the catalog.
    const std::string path = Bytes(dir.path());
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
        for (const char *f : {"/mdb.dat", "/big.txt"})
            ASSERT_EQ(::chown((path + f).c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chmod(path.c_str(), 0555), 0);
    // The writer lock beside the catalog is the first file it cannot create.
    ChildResult r = RunCli(dir.path(), {"import", "big.txt"}, BecomeNobody);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tslcat-cli: Cannot create file mdb.dat.lock\n");
    ExpectOldFileOnly({"big.txt"});

    // A read-only catalog in a writable folder is not replaced either.
    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((path + "/mdb.dat").c_str(), 0444), 0);
    r = RunCli(dir.path(), {"import", "big.txt"}, BecomeNobody);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tslcat-cli: Cannot create file mdb.dat\n");
    ExpectOldFileOnly({"big.txt"});
    ::chmod((path + "/mdb.dat").c_str(), 0644);
}

TEST_F(FailedSave, FullDiskReportsAWriteErrorAndKeepsTheOldFile)
{
    QTemporaryDir mountPoint;
    const std::string target = Bytes(mountPoint.path());
    if (::mount("tslcat-test", target.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount rights): " << std::strerror(errno);
    struct Unmount {
        std::string target;
        ~Unmount() { ::umount2(target.c_str(), MNT_DETACH); }
    } unmount{target};
    const QString db = mountPoint.filePath("mdb.dat");
    ASSERT_TRUE(WriteFile(db, oldBytes));
    ChildResult r = RunCli(mountPoint.path(), {"import", Bytes(dir.filePath("big.txt"))});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "tslcat-cli: Stream write error\n");
    EXPECT_EQ(ReadFile(db), oldBytes);
    const QStringList others = OtherFiles(mountPoint.path(), "mdb.dat");
    EXPECT_TRUE(others.isEmpty()) << "left behind: " << others.join(' ').toStdString();
}

// --- hostile catalog files ----------------------------------------------------

// 100,000 levels in the binary form: refused with the reader's error after
// the levels it follows, without exhausting the stack; the CLI then leaves
// the file alone.  (The text form needs one indentation byte per level per
// line, 5 GB for 100,000 levels; its refusal past 4096 levels is tested with
// the file format.)
TEST(CatalogReliability, HundredThousandLevelsAreRefused)
{
    constexpr int kLevels = 100000;
    TCatalogTree deep;
    {
        TCatalogNodes &nodes = deep.Items();
        nodes.BeginUpdate();
        TCatalogNode *n = nullptr;
        for (int i = 0; i < kLevels; ++i)
            n = nodes.AddChild(n, "d");
        nodes.EndUpdate();
    }
    const std::string binary = SaveToBytes(deep, true);
    ASSERT_EQ(binary.size(), 10u + kLevels * (4u + 89u));

    TCatalogTree fromBinary;
    EXPECT_THROW(LoadFromBytes(fromBinary, binary), ECatalogFormatError);
    EXPECT_EQ(fromBinary.Items().Count(), kMaxNestingDepth);

    QTemporaryDir dir;
    ASSERT_TRUE(WriteFile(dir.filePath("mdb.dat"), binary));
    ChildResult r = RunCli(dir.path(), {"remove", "d"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("nesting deeper than 4096 levels"), std::string::npos) << r.err;
    EXPECT_EQ(ReadFile(dir.filePath("mdb.dat")), binary);
}

// Every byte value in names survives the binary form; a name of all 256
// values keeps its first 255 bytes.
TEST(CatalogReliability, NamesOfEveryByteValueRoundTrip)
{
    TCatalogTree tree;
    TCatalogNodes &nodes = tree.Items();
    TCatalogNode *disc = nodes.AddChild(nullptr, "bytes");
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
        nodes.AddChild(disc, std::string(1, static_cast<char>(b)) + "x" + std::string(1, static_cast<char>(b)));
    }
    nodes.AddChild(disc, all);
    TCatalogTree back;
    LoadFromBytes(back, SaveToBytes(tree, true));
    ASSERT_EQ(back.Items().Count(), 258);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(back.Items().Item(b + 1)->Text(),
                  std::string(1, static_cast<char>(b)) + "x" + std::string(1, static_cast<char>(b)))
            << "byte " << b;
    EXPECT_EQ(back.Items().Item(257)->Text(), all.substr(0, 255));
}

// --- hostile trees to scan ----------------------------------------------------

class HostileScan : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string Root() const { return Bytes(dir.path()) + "/"; }
    std::string Path(const std::string &rel) const { return Root() + rel; }
};

// Link loops (to itself, to each other, to an ancestor) and a FIFO: the
// scan ends, lists each as a file and never opens the FIFO (opening it
// would block with no writer).
TEST_F(HostileScan, LinkLoopsAndAFifoNeitherLoopNorBlock)
{
    ASSERT_EQ(::mkdir(Path("sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("self", Path("self").c_str()), 0);
    ASSERT_EQ(::symlink("pong", Path("ping").c_str()), 0);
    ASSERT_EQ(::symlink("ping", Path("pong").c_str()), 0);
    ASSERT_EQ(::symlink("../..", Path("sub/up").c_str()), 0);
    ASSERT_EQ(::mkfifo(Path("sub/pipe").c_str(), 0644), 0);
    const ChildScan scan = ScanInChild(Root(), false);
    ASSERT_EQ(scan.status, 0) << "the scan blocked or failed";
    EXPECT_EQ(scan.outline, "D\n  ping\n  pong\n  self\n  sub\n    pipe\n    up\n");
}

// A folder the scanning user may not read yields no entries; its readable
// neighbours are scanned as usual.  Run as an ordinary user in a child,
// since permission bits do not stop root.
TEST_F(HostileScan, UnreadableFolderYieldsNoEntriesForAnOrdinaryUser)
{
    ASSERT_EQ(::mkdir(Path("locked").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(Path("open").c_str(), 0755), 0);
    ASSERT_TRUE(WriteFile(dir.filePath("locked/secret"), "s"));
    ASSERT_TRUE(WriteFile(dir.filePath("open/seen"), "s"));
    ASSERT_EQ(::chmod(Path("locked").c_str(), 0), 0);
    ASSERT_EQ(::chmod(Bytes(dir.path()).c_str(), 0755), 0);
    const ChildScan scan = ScanInChild(Root(), true);
    ::chmod(Path("locked").c_str(), 0755);
    ASSERT_EQ(scan.status, 0);
    EXPECT_EQ(scan.outline, "D\n  locked\n  open\n    seen\n");
}

// File and folder names of 255 bytes, made of every byte a file name may
// hold, are scanned, saved and read back whole.
TEST_F(HostileScan, LongestNamesOfEveryAllowedByteAreKeptWhole)
{
    std::string allowed;
    for (int b = 1; b < 256; ++b)
        if (b != '/')
            allowed.push_back(static_cast<char>(b));
    ASSERT_EQ(allowed.size(), 254u);
    const std::string fileName = allowed + "f";
    const std::string folderName = "d" + std::string(254, 'x');
    ASSERT_EQ(::mkdir(Path(folderName).c_str(), 0755), 0);
    const int fd = ::open(Path(folderName + "/" + fileName).c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    ::close(fd);

    TCatalogTree tree;
    TPlainIconLookup icons;
    AddDisc(tree, Root(), "D", icons);
    ASSERT_EQ(tree.Items().Count(), 3);
    EXPECT_EQ(tree.Items().Item(1)->Text(), folderName);
    EXPECT_EQ(tree.Items().Item(2)->Text(), fileName);

    const QString db = dir.filePath("saved.dat");
    tree.SaveToFile(db);
    TCatalogTree back;
    back.LoadFromFile(db);
    EXPECT_EQ(Outline(back), Outline(tree));
    EXPECT_EQ(back.Items().Item(2)->Text().size(), 255u);
}

// Folders nested so deep that their paths pass 4096 bytes: the scan ends
// without a crash; every folder is in the catalog, and what lies in folders
// whose paths are too long to open is missing (a limit of the scanner).
TEST_F(HostileScan, PathsOverFourKilobytesEndTheScanQuietly)
{
    const std::string component(200, 'p');
    int fd = ::open(Bytes(dir.path()).c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    constexpr int kDepth = 25; // 25 * 201 bytes: more than 5000
    for (int i = 0; i < kDepth; ++i) {
        ASSERT_EQ(::mkdirat(fd, component.c_str(), 0755), 0);
        const int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        ASSERT_GE(next, 0);
        fd = next;
    }
    const int file = ::openat(fd, "bottom.txt", O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(file, 0);
    ::close(file);
    ::close(fd);

    TCatalogTree tree;
    TPlainIconLookup icons;
    AddDisc(tree, Root(), "D", icons);
    // Folders are added while their parent can be listed; the first folder
    // whose path passes the system's limit is added without its contents.
    const int count = tree.Items().Count();
    const size_t rootLength = Root().size();
    int listable = 0;
    while (rootLength + static_cast<size_t>(listable) * (component.size() + 1) < 4096)
        ++listable;
    EXPECT_EQ(count, 1 + std::min(listable, kDepth));
    for (int i = 1; i < count; ++i) {
        EXPECT_EQ(tree.Items().Item(i)->Level(), i);
        EXPECT_EQ(tree.Items().Item(i)->Text(), component);
    }
    TCatalogTree back;
    LoadFromBytes(back, SaveToBytes(tree, true));
    EXPECT_EQ(Outline(back), Outline(tree));

    // QTemporaryDir cannot remove paths this long; rm can.
    const std::string command = "rm -rf '" + Bytes(dir.path()) + "/" + component + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
}
