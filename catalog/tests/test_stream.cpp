// The in-place reader of a mapped catalog against the loaded tree: the same
// rows, outline, counts and file types on random catalogs, the same
// exceptions and messages on damaged files, and tslcat-cli answering the
// same way (output, messages, exit code) with and without TSLCAT_LOAD_TREE.

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "catalog_errors.h"
#include "catalog_export.h"
#include "catalog_search.h"
#include "catalog_store.h"
#include "catalog_stream.h"
#include "catalog_tree.h"
#include "icon_lookup.h"
#include "quarn32.h"
#include "scan_source.h"
#include "test_support.h"

using namespace tslcat;
using namespace tslcat_test;

namespace {

struct Quiet {
    QuarnMessageSink previous = QuarnSetMessageSink([](const char *, const char *) {});
    ~Quiet() { QuarnSetMessageSink(previous); }
};

std::string RandomName(std::mt19937 &rng)
{
    static const char *const stems[] = {"readme", "README", "setup", "data",  "rdme",      "Robert",           "x",
                                        "a1",     "zz9",    "",      "b,\"q", "\xe9t\xe9", "\xc3\xa9t\xc3\xa9"};
    static const char *const exts[] = {"", ".txt", ".zip", ".ZIP", ".c", ".tar.gz", "."};
    std::uniform_int_distribution<size_t> s(0, std::size(stems) - 1), e(0, std::size(exts) - 1);
    std::uniform_int_distribution<int> d(0, 99);
    std::string name = stems[s(rng)];
    if (d(rng) < 30)
        name += std::to_string(d(rng));
    if (d(rng) < 3)
        name.insert(name.size() / 2, 1, '\0'); // a C string ends there
    if (d(rng) < 2)
        name.append(300, 'L'); // saved as its first 255 bytes
    return name + exts[e(rng)];
}

// Discs of random depth and breadth, with kinds, sizes and times on some
// nodes (absurd ones too), opened archives, empty scanned folders and discs
// without entries.
std::string RandomCatalog(std::mt19937 &rng, int discs, int nodesPerDisc)
{
    TCatalogTree tree;
    TCatalogNodes &items = tree.Items();
    std::uniform_int_distribution<int> pick(0, 99);
    auto values = [&](TCatalogNode *node, TNodeKind kind) {
        if (pick(rng) < 25)
            return;
        const uint64_t size = pick(rng) < 5 ? (uint64_t{1} << 63) : static_cast<uint64_t>(pick(rng)) * 1000;
        const int64_t time = pick(rng) < 10 ? kUnknownTime : 1000000000 + pick(rng) * 86400;
        node->SetFileInfo(kind, pick(rng) < 10 ? kUnknownSize : size, time);
    };
    for (int d = 0; d < discs; ++d) {
        TCatalogNode *disc = items.AddChild(nullptr, pick(rng) < 10 ? "" : "Disc " + RandomName(rng));
        values(disc, TNodeKind::Disc);
        std::vector<TCatalogNode *> folders{disc};
        const int n = pick(rng) < 10 ? 0 : nodesPerDisc;
        for (int i = 0; i < n; ++i) {
            TCatalogNode *parent = folders[std::uniform_int_distribution<size_t>(0, folders.size() - 1)(rng)];
            TCatalogNode *node = items.AddChild(parent, RandomName(rng));
            if (pick(rng) < 20) {
                folders.push_back(node);
                values(node, TNodeKind::Folder);
                if (pick(rng) < 15)
                    node->SetData(kArchiveNodeData);
            } else {
                values(node, TNodeKind::File);
            }
        }
    }
    return SaveToBytes(tree);
}

std::string RowsText(const std::vector<TResultRow> &rows)
{
    std::string out;
    for (const TResultRow &r : rows) {
        out += r.discName + "|" + r.nodeName + "|" + r.fullPath + "|" + std::to_string(r.components.size()) + "|" +
            std::to_string(r.archiveComponent) + "|" + KindName(r.kind) + "|" + std::to_string(r.size) + "|" +
            std::to_string(r.modifiedTime) + "\n";
        for (const std::string &c : r.components)
            out += "  " + c + "\n";
    }
    return out;
}

// "ok" or the exception's type and message.
template <class F> std::string Outcome(F &&f)
{
    try {
        f();
        return "ok";
    } catch (const Exception &e) {
        return std::string(typeid(e).name()) + ": " + e.what();
    }
}

TSearchRequest Request(std::string expression, TSearchKind kind, bool caseSensitive = false, std::string filter = {},
                       TMatchSpec match = {})
{
    TSearchRequest r;
    r.expression = std::move(expression);
    r.kind = kind;
    r.caseSensitive = caseSensitive;
    r.fileTypeFilter = std::move(filter);
    r.match = match;
    return r;
}

} // namespace

TEST(StreamReader, SameRowsAsTheTreeSearchOnRandomCatalogs)
{
    Quiet quiet;
    std::mt19937 rng(1604);
    const TSearchKind kinds[] = {TSearchKind::Files, TSearchKind::Folders, TSearchKind::FilesAndFolders,
                                 TSearchKind::Discs};
    for (int round = 0; round < 6; ++round) {
        const std::string bytes = RandomCatalog(rng, 1 + round, 40 * round + 5);
        TCatalogTree tree;
        LoadFromBytes(tree, bytes);
        std::vector<TSearchRequest> requests;
        for (TSearchKind kind : kinds) {
            for (bool exact : {false, true}) {
                requests.push_back(Request("readme", kind, exact));
                requests.push_back(Request("\\.zip$", kind, exact));
                requests.push_back(Request("^[a-r].*[0-9]", kind, exact));
                requests.push_back(Request(".", kind, exact));
                requests.push_back(Request("^$", kind, exact));
                requests.push_back(Request("readme", kind, exact, {}, {TMatchMode::Approx, 1}));
                requests.push_back(Request("Robert", kind, exact, {}, {TMatchMode::Soundex, 1}));
            }
        }
        requests.push_back(Request(".", TSearchKind::Files, false, ".zip"));
        requests.push_back(Request(".", TSearchKind::Files, false, "."));
        TSearchRequest alternate = Request("\xc3\xa9t", TSearchKind::FilesAndFolders);
        alternate.alternateExpression = "\xe9t";
        requests.push_back(alternate);
        for (const TSearchRequest &r : requests) {
            SCOPED_TRACE(r.expression + " kind " + std::to_string(int(r.kind)) + " " + MatchSpecName(r.match));
            const TSearchOutcome want = RunSearch(tree, r);
            for (bool withValues : {false, true}) {
                const TStreamSearchResult got = StreamSearch(bytes, r, withValues);
                EXPECT_EQ(got.compileResult, want.compileResult);
                EXPECT_EQ(got.tooComplex, want.tooComplex);
                if (withValues) {
                    EXPECT_EQ(RowsText(got.rows), RowsText(want.rows));
                } else { // the names and paths; values stay unknown
                    EXPECT_EQ(ExportRows(got.rows, TExportFormat::Tsv), ExportRows(want.rows, TExportFormat::Tsv));
                    for (const TResultRow &row : got.rows)
                        EXPECT_EQ(row.size, kUnknownSize);
                }
            }
        }
        EXPECT_EQ(RowsText(StreamAllRows(bytes)), RowsText(AllRows(tree)));
        EXPECT_EQ(StreamOutline(bytes), SaveToBytes(tree, false));
    }
}

// Large enough for the names to be judged in many blocks, with a name that
// makes the matcher give up deep in the file.
TEST(StreamReader, LargeCatalogJudgedInManyBlocks)
{
    Quiet quiet;
    std::mt19937 rng(4096);
    const std::string bytes = RandomCatalog(rng, 3, 20000);
    ASSERT_GT(bytes.size(), size_t{5} << 20);
    TCatalogTree tree;
    LoadFromBytes(tree, bytes);
    for (const TSearchRequest &r :
         {Request("readme", TSearchKind::FilesAndFolders), Request(".", TSearchKind::Files, true, ".zip"),
          Request("^[a-r].*[0-9]", TSearchKind::Folders), Request(".", TSearchKind::FilesAndFolders),
          Request("readme", TSearchKind::Files, false, {}, {TMatchMode::Approx, 2})}) {
        SCOPED_TRACE(r.expression);
        const TSearchOutcome want = RunSearch(tree, r);
        const TStreamSearchResult got = StreamSearch(bytes, r, true);
        EXPECT_FALSE(got.tooComplex);
        EXPECT_EQ(RowsText(got.rows), RowsText(want.rows));
    }
    // A name deep in the file that makes the matcher give up.
    TCatalogNode *disc = tree.Items().TopLevel(2);
    tree.Items().AddChild(disc, std::string(200, 'a') + "c");
    const std::string withLongName = SaveToBytes(tree);
    EXPECT_TRUE(StreamSearch(withLongName, Request("\\(a\\)a*a*a*a*a*\\1b", TSearchKind::Files), false).tooComplex);
    EXPECT_EQ(Outcome([&] {
                  StreamSearch(withLongName.substr(0, withLongName.size() - 1), Request("readme", TSearchKind::Files),
                               false);
              }),
              Outcome([&] { LoadFromBytes(tree, withLongName.substr(0, withLongName.size() - 1)); }));
}

TEST(StreamReader, ReadThroughTheFileAnswersAsTheMapping)
{
    // Over a few megabytes, the walk reads the records in chunks through a
    // ring of buffers, filled ahead by a second thread (records cut at a
    // chunk's end), keeps copies of the folder names and reads the hits
    // again: every answer must be the one read straight from the mapped
    // bytes, also for files cut anywhere, chunk ends included.
    Quiet quiet;
    std::mt19937 rng(808);
    const std::string bytes = RandomCatalog(rng, 4, 26000);
    ASSERT_GT(bytes.size(), size_t{6} << 20); // two thirds of it still get the reading thread
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    // The outcome and, without an exception, what was returned.
    auto answer = [](auto &&f) {
        std::string out;
        const std::string outcome = Outcome([&] { out = f(); });
        return outcome + "\n" + out;
    };
    constexpr size_t kChunk = size_t{256} << 10;
    for (const std::string &file : {bytes, bytes.substr(0, bytes.size() * 2 / 3), bytes.substr(0, bytes.size() - 3),
                                    bytes.substr(0, 17 * kChunk), bytes.substr(0, 18 * kChunk + 2)}) {
        ASSERT_TRUE(WriteFile(path, file));
        TMappedCatalog mapped(path);
        ASSERT_TRUE(mapped.Usable());
        ASSERT_GE(mapped.Source().fd, 0);
        const std::string_view inPlace = mapped.Bytes();
        for (const TSearchRequest &r :
             {Request("readme", TSearchKind::FilesAndFolders), Request(".", TSearchKind::FilesAndFolders),
              Request("^[a-r].*[0-9]", TSearchKind::Folders), Request(".", TSearchKind::Files, true, ".zip")}) {
            SCOPED_TRACE(r.expression + " over " + std::to_string(file.size()) + " bytes");
            EXPECT_EQ(answer([&] { return RowsText(StreamSearch(mapped.Source(), r, true).rows); }),
                      answer([&] { return RowsText(StreamSearch(inPlace, r, true).rows); }));
        }
        EXPECT_EQ(answer([&] { return RowsText(StreamAllRows(mapped.Source())); }),
                  answer([&] { return RowsText(StreamAllRows(inPlace)); }));
        EXPECT_EQ(answer([&] { return StreamOutline(mapped.Source()); }),
                  answer([&] { return StreamOutline(inPlace); }));
    }
}

TEST(StreamReader, CountsAndFileTypesAsTheLoad)
{
    std::mt19937 rng(77);
    QTemporaryDir dir;
    for (int round = 0; round < 4; ++round) {
        const std::string bytes = RandomCatalog(rng, 2 + round, 60);
        ASSERT_TRUE(WriteFile(dir.filePath("mdb.dat"), bytes));
        TCatalogTree tree;
        TPlainIconLookup icons;
        const TLoadResult want = LoadCatalog(tree, dir.filePath("mdb.dat"), icons);
        const TStreamStats got = StreamStats(bytes);
        EXPECT_EQ(got.fileCount, want.fileCount);
        EXPECT_EQ(got.fileTypes.Items(), want.fileTypes.Items());
    }
}

TEST(StreamReader, StepLimitAndFaultyExpressions)
{
    Quiet quiet;
    TCatalogTree tree;
    TCatalogNode *disc = tree.Items().AddChild(nullptr, "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab");
    tree.Items().AddChild(disc, "aab");
    tree.Items().AddChild(disc, std::string(200, 'a') + "c");
    const std::string bytes = SaveToBytes(tree);
    const TSearchRequest tooComplex = Request("\\(a\\)a*a*a*a*a*\\1b", TSearchKind::Files);
    EXPECT_TRUE(StreamSearch(bytes, tooComplex, false).tooComplex);
    // The disc name is no candidate of a file search, nor the long file of a
    // disc search: neither is ever asked.
    EXPECT_FALSE(StreamSearch(bytes, Request("\\(a\\)a*a*a*a*a*\\1b", TSearchKind::Discs), false).tooComplex);
    // After a 0 byte a name is never read: the matcher must not give up there.
    TCatalogTree cut;
    TCatalogNode *d = cut.Items().AddChild(nullptr, "D");
    cut.Items().AddChild(d, "aab");
    cut.Items().AddChild(d, std::string("x\0", 2) + std::string(200, 'a') + "c");
    cut.Items().AddChild(d, "zaab");
    const TStreamSearchResult cutResult =
        StreamSearch(SaveToBytes(cut), Request("\\(a\\)a*a*a*a*a*\\1b", TSearchKind::Files), false);
    EXPECT_FALSE(cutResult.tooComplex);
    ASSERT_EQ(cutResult.rows.size(), 2u);
    EXPECT_EQ(cutResult.rows[1].nodeName, "zaab");
    const TStreamSearchResult faulty = StreamSearch(bytes, Request("a\\(", TSearchKind::Files), false);
    EXPECT_NE(faulty.compileResult, 0);
    EXPECT_TRUE(faulty.rows.empty());
}

// Every fault the loader reports, the reader reports alike, and only then:
// cut at every byte, counts and sizes that do not fit, garbage records.
TEST(StreamReader, DamagedFilesFailAsTheLoad)
{
    Quiet quiet;
    std::mt19937 rng(31);
    const std::string sound = RandomCatalog(rng, 2, 6);
    std::vector<std::string> damaged;
    for (size_t cut = 5; cut < sound.size(); ++cut)
        damaged.push_back(sound.substr(0, cut));
    auto patched = [&](size_t at, std::string bytes) {
        std::string s = sound;
        s.replace(at, bytes.size(), bytes);
        return s;
    };
    damaged.push_back(patched(6, Hex("FF FF FF 7F")));         // disc count beyond the file
    damaged.push_back(patched(6, Hex("00 00 00 80")));         // negative disc count: nothing read
    damaged.push_back(patched(10, Hex("57 00 00 00")));        // record size too small
    damaged.push_back(patched(10, Hex("58 01 00 00")));        // record size too large
    damaged.push_back(patched(10, Hex("F0 FF FF FF")));        // negative record size
    damaged.push_back(patched(14 + 0x57, Hex("FF")));          // name longer than the record
    damaged.push_back(patched(14 + 0x1D, Hex("00 00 01 00"))); // child count beyond the file
    damaged.push_back(sound + "trailing bytes are never read");
    for (int i = 0; i < 200; ++i) {
        std::string s = sound;
        for (int k = 0; k < 3; ++k)
            s[std::uniform_int_distribution<size_t>(5, s.size() - 1)(rng)] =
                static_cast<char>(std::uniform_int_distribution<int>(0, 255)(rng));
        damaged.push_back(s);
    }
    // Deeper than the readers follow: a chain of one-child folders.
    std::string deep = Hex("0D 54 4E 54 0D 00 01 00 00 00");
    std::string record(88, '\0');
    record[0x1D] = 1;
    for (int i = 0; i < kMaxNestingDepth + 1; ++i)
        deep += Hex("58 00 00 00") + record;
    damaged.push_back(deep);

    int failures = 0;
    for (const std::string &bytes : damaged) {
        SCOPED_TRACE(bytes.size());
        TCatalogTree tree;
        const std::string want = Outcome([&] { LoadFromBytes(tree, bytes); });
        failures += want != "ok";
        EXPECT_EQ(Outcome([&] { StreamOutline(bytes); }), want);
        EXPECT_EQ(Outcome([&] { StreamStats(bytes); }), want);
        EXPECT_EQ(Outcome([&] { StreamSearch(bytes, Request(".", TSearchKind::FilesAndFolders), true); }), want);
        EXPECT_EQ(Outcome([&] { StreamSearch(bytes, Request("a\\(", TSearchKind::Files), false); }), want);
        if (want == "ok") {
            EXPECT_EQ(StreamOutline(bytes), SaveToBytes(tree, false));
        }
    }
    EXPECT_GT(failures, static_cast<int>(sound.size()) - 5); // every cut fails at least
}

// --- tslcat-cli, both ways ----------------------------------------------------

namespace {

struct CliRun {
    int status;
    std::string out;
    std::string err;
    bool operator==(const CliRun &o) const { return status == o.status && out == o.out && err == o.err; }
};

std::ostream &operator<<(std::ostream &os, const CliRun &r)
{
    return os << "exit " << r.status << "\nstdout:\n" << r.out << "\nstderr:\n" << r.err;
}

CliRun RunCli(const QString &dir, const QStringList &args, bool loadTree)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TSLCAT_LOAD_TREE", loadTree ? "1" : "0");
    p.setProcessEnvironment(env);
    p.start(TSLCAT_CLI_PATH, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

void ExpectSameBothWays(const QString &dir, const QStringList &args)
{
    SCOPED_TRACE(args.join(' ').toStdString());
    EXPECT_EQ(RunCli(dir, args, false), RunCli(dir, args, true));
}

} // namespace

TEST(StreamCli, SameAnswersAsTheLoadedCatalog)
{
    std::mt19937 rng(2026);
    QTemporaryDir dir;
    ASSERT_TRUE(WriteFile(dir.filePath("mdb.dat"), RandomCatalog(rng, 3, 80)));
    const QStringList cases[] = {
        {"search", "readme"},
        {"search", "--files", "--case", "README"},
        {"search", "--folders", "--format", "csv", "."},
        {"search", "--both", "--long", "^[a-r].*[0-9]"},
        {"search", "--discs", "--long", "Disc"},
        {"search", "--discs", "--format", "json", "."},
        {"search", "--type", "zip", "."},
        {"search", "--files", "--type", ".ZIP", "--long", "."},
        {"search", "--mode", "approx:2", "readme"},
        {"search", "--mode", "soundex", "--format", "csv", "Robert"},
        {"search", "\xc3\xa9t"},
        {"search", "nothing-matches-this"},
        {"search", "a\\("},
        {"search", "\\(a\\)a*a*a*a*a*a*a*\\1b"},
        {"search", "--larger", "10K", "."},
        {"list"},
        {"list", "--format", "csv"},
        {"list", "--format", "json"},
        {"stats"},
    };
    for (const QStringList &args : cases)
        ExpectSameBothWays(dir.path(), args);
    // The text form and a missing catalog.
    ASSERT_TRUE(WriteFile(dir.filePath("text.dat"), "Disc\r\n\treadme.txt\r\n"));
    ExpectSameBothWays(dir.path(), {"--db", "text.dat", "search", "readme"});
    ExpectSameBothWays(dir.path(), {"--db", "missing.dat", "search", "readme"});
    ExpectSameBothWays(dir.path(), {"--db", "missing.dat", "stats"});
}

TEST(StreamCli, DamagedCatalogsPrintNoRows)
{
    std::mt19937 rng(16);
    QTemporaryDir dir;
    const std::string sound = RandomCatalog(rng, 2, 30);
    std::vector<std::string> files;
    for (size_t cut :
         {size_t{3}, size_t{5}, size_t{8}, size_t{12}, sound.size() / 3, sound.size() / 2, sound.size() - 1})
        files.push_back(sound.substr(0, cut));
    std::string badCount = sound;
    badCount[14 + 0x1D] = 0x7F; // the first disc's child count
    files.push_back(badCount);
    std::string badName = sound;
    badName[14 + 0x57] = static_cast<char>(0xF0);
    files.push_back(badName);
    files.push_back(sound.substr(0, 10) + std::string(500, '\x5A'));
    for (const std::string &bytes : files) {
        ASSERT_TRUE(WriteFile(dir.filePath("mdb.dat"), bytes));
        for (const QStringList &args :
             {QStringList{"search", "."}, QStringList{"search", "a\\("}, QStringList{"list"}, QStringList{"stats"}}) {
            const CliRun streamed = RunCli(dir.path(), args, false);
            EXPECT_EQ(streamed, RunCli(dir.path(), args, true)) << "file of " << bytes.size() << " bytes";
            if (bytes.size() > 5) {
                EXPECT_EQ(streamed.status, 2);
                EXPECT_EQ(streamed.out, "");
            }
        }
    }
}
