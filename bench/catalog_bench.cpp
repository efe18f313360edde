// catalog_bench.cpp - speed and memory of the catalog core on a large
// generated catalog, side by side with the tools a Linux user would use
// instead: plocate for searching the same names, find for walking the same
// folder tree.
//
//   catalog_bench NAMES [NODES] [RUNS] [--scan DIR] [--big NAMES10M [--big-only]]
//
// NAMES holds one name per line (gen_names.py output); the tree is shaped
// from them deterministically: one disc per 10,000 names, a name without an
// extension opens a folder with probability 0.45 (depth at most 6), and after
// each file the walk climbs one level with probability 0.07.  The catalog
// file is written to a temporary folder and removed afterwards.
//
// plocate gets a database built (plocate-build --plaintext) from the full
// paths of exactly the catalog's nodes below disc level, and is asked for
// base names only (-b), so both sides search the same names and must find
// the same number.  --scan DIR times TTreeScanner over DIR (a tree made by
// gen_tree.py --mkdir) against `find DIR`, warm cache, same run.
//
// --big NAMES10M adds the figures of search at ten million names (a part of
// its own, at the end of this file): see BigCatalogFigures.  --big-only
// skips everything else.
//
// Every figure is the median of RUNS runs.  The disk is synced before each
// timed save.  Target lines print our figure,
// the peer's figure, the ratio and MET / NOT MET.

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_process.h"
#include "catalog_duplicates.h"
#include "catalog_search.h"
#include "catalog_store.h"
#include "catalog_tree.h"
#include "cli_figures.h"
#include "icon_lookup.h"
#include "quarn32.h"
#include "tree_scanner.h"

using namespace tslcat;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// Heap in use, also the blocks malloc maps directly (large arrays, slabs).
size_t HeapInUse()
{
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
}

// Resident set size of this process.
size_t ResidentBytes()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<size_t>(resident) * static_cast<size_t>(sysconf(_SC_PAGESIZE));
}

// Deterministic 64-bit generator (SplitMix64).
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double Unit() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }
};

// With `values`, every node gets its kind and every file a random size
// (log-uniform up to 4 GiB) and time (2000..2025), from a generator of its
// own, so the tree's shape is the same either way.
template <class Names> void BuildTree(TCatalogTree &tree, const Names &names, size_t nodes, bool values = false)
{
    TCatalogNodes &items = tree.Items();
    Random random{1};
    Random valueRandom{2};
    std::vector<TCatalogNode *> stack;
    size_t made = 0;
    for (size_t i = 0; made < nodes; ++i) {
        if (i % 10000 == 0) {
            TCatalogNode *disc = items.AddChild(nullptr, "DISC" + std::to_string(i / 10000));
            disc->SetIcons(kIconFolder, kIconFolderOpen);
            if (values)
                disc->SetFileInfo(TNodeKind::Disc);
            stack.assign(1, disc);
            if (++made >= nodes)
                break;
        }
        const std::string_view name = names[i % names.size()];
        const bool opensFolder = ExtensionOf(name).empty() && stack.size() < 7 && random.Unit() < 0.45;
        TCatalogNode *node = items.AddChild(stack.back(), name);
        ++made;
        if (opensFolder) {
            node->SetIcons(kIconFolder, kIconFolderOpen);
            if (values)
                node->SetFileInfo(TNodeKind::Folder);
            stack.push_back(node);
        } else {
            node->SetIcons(kIconGenericFile, kIconGenericFile);
            if (values) {
                const uint64_t size = static_cast<uint64_t>(std::exp2(valueRandom.Unit() * 32.0));
                const int64_t time = 946684800 + static_cast<int64_t>(valueRandom.Unit() * 25 * 365.25 * 86400);
                node->SetFileInfo(TNodeKind::File, size, time);
            }
            if (stack.size() > 1 && random.Unit() < 0.07)
                stack.pop_back();
        }
    }
}

// "/DISC0/folder/name" for every node below disc level, one per line.
bool WritePaths(const TCatalogTree &tree, const std::string &path)
{
    FILE *out = std::fopen(path.c_str(), "wb");
    if (!out)
        return false;
    std::vector<std::string_view> parts;
    const TCatalogNodes &nodes = tree.Items();
    std::string line;
    for (int i = 0; i < nodes.Count(); ++i) {
        const TCatalogNode *n = nodes.Item(i);
        if (!n->Parent())
            continue;
        parts.clear();
        for (const TCatalogNode *p = n; p; p = p->Parent())
            parts.push_back(p->Text());
        line.clear();
        for (size_t k = parts.size(); k-- > 0;) {
            line.push_back('/');
            line.append(parts[k]);
        }
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), out);
    }
    return std::fclose(out) == 0;
}

// Runs a program (RunProcess) and returns its standard output; `seconds`
// gets the wall time from start to exit, which includes reading the output.
std::string Run(const std::vector<std::string> &argv, double &seconds, int *status = nullptr)
{
    TProcessRun run = RunProcess(argv, TOutput::Keep);
    seconds = run.seconds;
    if (status)
        *status = run.status;
    return std::move(run.output);
}

// plocate over the database `db` with `args` (which ask for the count, -c):
// once to warm the page cache, then `runs` timed runs; `hits` gets the count.
void TimePlocate(const std::string &db, const std::vector<std::string> &args, int runs, std::vector<double> &times,
                 long long &hits)
{
    std::vector<std::string> argv{"plocate", "-d", db};
    argv.insert(argv.end(), args.begin(), args.end());
    double seconds = 0;
    Run(argv, seconds);
    for (int run = 0; run < runs; ++run) {
        const std::string out = Run(argv, seconds);
        times.push_back(seconds);
        hits = std::atoll(out.c_str());
    }
}

// Walking with find: the peer prints every path; we count the lines, as
// `| wc -l` would.  `sameEntries` prunes folders whose names begin with "."
// (hidden files are still printed), which is exactly what our walk takes in,
// so both sides visit the same entries.
size_t FindCount(const std::string &dir, bool sameEntries, double &seconds)
{
    std::vector<std::string> args{"find", dir};
    if (sameEntries)
        args.insert(args.end(), {"-mindepth", "1", "(", "-type", "d", "-name", ".*", "-prune", ")", "-o", "-print"});
    const std::string out = Run(args, seconds);
    return static_cast<size_t>(std::count(out.begin(), out.end(), '\n'));
}

const char *Verdict(bool met)
{
    return met ? "MET" : "NOT MET";
}

void Header()
{
    std::printf("  %-46s %12s | %12s | %7s   %s\n", "case", "ours", "peer/limit", "ratio", "target");
}

std::string Figure(double value, const char *unit)
{
    char text[32];
    if (std::strcmp(unit, "s") == 0)
        std::snprintf(text, sizeof text, "%.4f s", value);
    else
        std::snprintf(text, sizeof text, "%.0f %s", value, unit);
    return text;
}

// One line with a peer: ratio = ours / peer.
void PeerLine(const char *label, double ours, double peer, const char *unit, const std::string &target = {},
              bool met = false)
{
    std::printf("  %-46s %12s | %12s | %7.3f   %s%s%s\n", label, Figure(ours, unit).c_str(), Figure(peer, unit).c_str(),
                peer > 0 ? ours / peer : 0.0, target.c_str(), target.empty() ? "" : "  ",
                target.empty() ? "" : Verdict(met));
}

// One line against a fixed limit: the peer column shows the limit.
void TargetLine(const char *label, double ours, double limit, const char *unit)
{
    std::printf("  %-46s %12s | %12s | %7.3f   <= limit  %s\n", label, Figure(ours, unit).c_str(),
                Figure(limit, unit).c_str(), ours / limit, Verdict(ours <= limit));
}

int BigCatalogFigures(const std::vector<std::string> &names, const std::string &bigNamesPath, int runs,
                      const QTemporaryDir &dir);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<std::string> positional;
    std::string scanDir, bigNames;
    bool bigOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--scan") == 0 && i + 1 < argc)
            scanDir = argv[++i];
        else if (std::strcmp(argv[i], "--big") == 0 && i + 1 < argc)
            bigNames = argv[++i];
        else if (std::strcmp(argv[i], "--big-only") == 0)
            bigOnly = true;
        else
            positional.emplace_back(argv[i]);
    }
    if (positional.empty()) {
        std::fprintf(stderr, "usage: catalog_bench NAMES [NODES] [RUNS] [--scan DIR] [--big NAMES10M [--big-only]]\n");
        return 2;
    }
    const size_t nodes = positional.size() > 1 ? std::stoul(positional[1]) : 1000000;
    const int runs = std::max(1, positional.size() > 2 ? std::stoi(positional[2]) : 3);
    std::vector<std::string> names;
    {
        std::ifstream in(positional[0], std::ios::binary);
        std::string line;
        while (std::getline(in, line))
            names.push_back(line);
    }
    if (names.empty()) {
        std::fprintf(stderr, "catalog_bench: no names in %s\n", positional[0].c_str());
        return 2;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    QuarnMessages(0);
    if (bigOnly && !bigNames.empty())
        return BigCatalogFigures(names, bigNames, runs, dir);

    enum { kBuild, kSaveToFile, kLoadFromFile, kFlatIndex, kLoadCatalog, kSaveCatalog, kDuplicates, kPhases };
    // Everything measured once on a catalog of names only and once on the
    // same catalog with sizes and times.
    struct Figures {
        std::vector<double> phase[kPhases];
        size_t heapPerNode = 0, residentPerNode = 0;
        std::vector<std::vector<double>> searchTimes;
        std::vector<int64_t> hits;
        size_t duplicateGroups = 0;
        qint64 fileSize = 0;
    };
    Figures figures[2];
    int64_t files = 0;
    size_t fileTypes = 0;
    struct Query {
        const char *label;
        TSearchRequest request;
        std::vector<std::string> plocateArgs; // empty: no peer case
    };
    const Query queries[] = {
        {"search literal 'readme' (files+folders)",
         {"readme", false, TSearchKind::FilesAndFolders, ""},
         {"-c", "-b", "-i", "readme"}},
        {"search regex '\\.zip$' case (files+folders)",
         {"\\.zip$", true, TSearchKind::FilesAndFolders, ""},
         {"-c", "-b", "-r", "\\.zip$"}},
        {"search regex '^[a-c].*[0-9]$' (files+folders)",
         {"^[a-c].*[0-9]$", false, TSearchKind::FilesAndFolders, ""},
         // Our bracket classes compare bytes exactly whatever the case flag;
         // plocate -i would fold them, so it runs case-sensitive here.
         {"-c", "-b", "-r", "^[a-c].*[0-9]$"}},
        {"search files '\\.zip$' case", {"\\.zip$", true, TSearchKind::Files, ""}, {}},
        {"search files '.' type .jpg", {".", false, TSearchKind::Files, ".jpg"}, {}},
        {"search folders '^[a-c].*[0-9]$'", {"^[a-c].*[0-9]$", false, TSearchKind::Folders, ""}, {}},
        {"search both 'qqqzzz' (walk only)", {"qqqzzz", false, TSearchKind::FilesAndFolders, ""}, {}},
        {"search both '.' (every name)", {".", false, TSearchKind::FilesAndFolders, ""}, {}},
    };
    const size_t queryCount = std::size(queries);
    int actualNodes = 0;

    for (Figures &fig : figures) {
        fig.searchTimes.assign(queryCount, {});
        fig.hits.assign(queryCount, 0);
    }
    // The two catalogs take turns, first one then the other going first, so
    // neither a change in the machine's load nor the heap the other one
    // left behind favours either.
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 2; ++turn) {
            const int withValues = (turn + run) % 2;
            Figures &fig = figures[withValues];
            auto &phase = fig.phase;
            auto &searchTimes = fig.searchTimes;
            auto &hits = fig.hits;
            {
                TCatalogTree tree;
                auto t = Clock::now();
                BuildTree(tree, names, nodes, withValues != 0);
                phase[kBuild].push_back(Seconds(t));
                actualNodes = tree.Items().Count();
                // Writes still pending from earlier steps (also the blocks of the
                // file the last save replaced) go to disk first, so each timed
                // save starts on a quiet disk, as a save after a user's edit does.
                ::sync();
                t = Clock::now();
                tree.SaveToFile(path);
                phase[kSaveToFile].push_back(Seconds(t));
                fig.fileSize = QFile(path).size();
            }
            {
                // Memory of a loaded catalog: what the heap and the resident set
                // grow by, from a trimmed heap.
                malloc_trim(0);
                const size_t heapBefore = HeapInUse();
                const size_t residentBefore = ResidentBytes();
                TCatalogTree tree;
                auto t = Clock::now();
                tree.LoadFromFile(path);
                phase[kLoadFromFile].push_back(Seconds(t));
                t = Clock::now();
                tree.Items().Item(0); // the flat index, as every walk builds it
                phase[kFlatIndex].push_back(Seconds(t));
                if (run == 0) {
                    fig.heapPerNode = (HeapInUse() - heapBefore) / static_cast<size_t>(actualNodes);
                    fig.residentPerNode = (ResidentBytes() - residentBefore) / static_cast<size_t>(actualNodes);
                }
                for (size_t q = 0; q < queryCount; ++q) {
                    t = Clock::now();
                    TSearchOutcome out = RunSearch(tree, queries[q].request);
                    searchTimes[q].push_back(Seconds(t));
                    hits[q] = out.hitCount;
                }
                // The searches just freed a million result rows; the heap
                // consolidates them at the next large allocation, which
                // would otherwise be charged to the duplicates.
                malloc_trim(0);
                t = Clock::now();
                fig.duplicateGroups = FindDuplicates(tree, TDuplicateKey::NameAndSize).size();
                phase[kDuplicates].push_back(Seconds(t));
            }
            {
                TCatalogTree tree;
                TPlainIconLookup icons;
                auto t = Clock::now();
                TLoadResult r = LoadCatalog(tree, path, icons);
                phase[kLoadCatalog].push_back(Seconds(t));
                files = r.fileCount;
                fileTypes = r.fileTypes.Items().size();
                ::sync();
                t = Clock::now();
                SaveCatalog(tree, path);
                phase[kSaveCatalog].push_back(Seconds(t));
            }
        }
    }
    std::printf("catalog: %d nodes, %lld files, %zu file types, mdb.dat %lld bytes (medians of %d runs)\n", actualNodes,
                static_cast<long long>(files), fileTypes, static_cast<long long>(figures[0].fileSize), runs);
    for (int withValues = 0; withValues < 2; ++withValues) {
        const Figures &fig = figures[withValues];
        const auto &phase = fig.phase;
        const auto &searchTimes = fig.searchTimes;
        const auto &hits = fig.hits;
        const size_t heapPerNode = fig.heapPerNode, residentPerNode = fig.residentPerNode;
        std::printf("%s:\n", withValues ? "with sizes and dates" : "names only");
        std::printf("  build in memory            %8.3f s\n", Median(phase[kBuild]));
        std::printf("  SaveToFile                 %8.3f s\n", Median(phase[kSaveToFile]));
        std::printf("  LoadFromFile               %8.3f s\n", Median(phase[kLoadFromFile]));
        std::printf("  flat index                 %8.3f s\n", Median(phase[kFlatIndex]));
        std::printf("  LoadCatalog (load + pass)  %8.3f s\n", Median(phase[kLoadCatalog]));
        std::printf("  SaveCatalog                %8.3f s\n", Median(phase[kSaveCatalog]));
        std::printf("  heap per node (loaded)     %8zu bytes\n", heapPerNode);
        std::printf("  resident per node (loaded) %8zu bytes\n", residentPerNode);
        for (size_t q = 0; q < queryCount; ++q)
            std::printf("  %-46s %8.4f s  %lld hits\n", queries[q].label, Median(searchTimes[q]),
                        static_cast<long long>(hits[q]));
        std::printf("  duplicates by name and size %7.3f s  %zu groups\n", Median(phase[kDuplicates]),
                    fig.duplicateGroups);
    }

    // --- peers ---------------------------------------------------------------
    std::vector<double> plocateTimes[std::size(queries)];
    std::vector<long long> plocateHits(queryCount, -1);
    const bool havePlocate = !QStandardPaths::findExecutable("plocate").isEmpty() &&
        !QStandardPaths::findExecutable("plocate-build", {"/usr/sbin", "/sbin", "/usr/bin"}).isEmpty();
    if (havePlocate) {
        const std::string paths = dir.filePath("paths.txt").toStdString();
        bool pathsWritten = false;
        int plocateNames = 0;
        {
            TCatalogTree tree;
            BuildTree(tree, names, nodes);
            pathsWritten = WritePaths(tree, paths);
            plocateNames = tree.Items().Count() - tree.Items().TopLevelCount();
        }
        const std::string db = dir.filePath("plocate.db").toStdString();
        double buildSeconds = 0;
        int status = 0;
        const std::string builder =
            QStandardPaths::findExecutable("plocate-build", {"/usr/sbin", "/sbin", "/usr/bin"}).toStdString();
        if (pathsWritten)
            Run({builder, "--plaintext", "--require-visibility", "no", paths, db}, buildSeconds, &status);
        if (status != 0) {
            std::printf("plocate: the database could not be built; no plocate figures\n");
        } else {
            std::printf("plocate: database of the same %d names built in %.1f s\n", plocateNames, buildSeconds);
            for (size_t q = 0; q < queryCount; ++q) {
                if (queries[q].plocateArgs.empty())
                    continue;
                TimePlocate(db, queries[q].plocateArgs, std::max(runs, 5), plocateTimes[q], plocateHits[q]);
            }
            CliSearchFigures(
                dir.path(), db, [&](TCatalogTree &t) { BuildTree(t, names, nodes); }, std::max(runs, 5));
        }
    } else {
        std::printf("plocate: not installed (scripts/install-deps.sh --bench); no plocate figures\n");
    }

    // --- scanning --------------------------------------------------------------
    std::vector<double> findTimes, findAllTimes, scanTimes, addDiscTimes;
    size_t findEntries = 0, findAllEntries = 0, scanEntries = 0;
    int addDiscNodes = 0;
    if (!scanDir.empty()) {
        auto scanOnce = [&]() {
            TTreeScanner scanner;
            scanner.InitialDirectory = scanDir;
            size_t entries = 0;
            scanner.OnDirectoryFound = [&](TTreeScanner &) { ++entries; };
            scanner.OnFileFound = [&](TTreeScanner &) { ++entries; };
            const auto t = Clock::now();
            scanner.Scan();
            scanTimes.push_back(Seconds(t));
            scanEntries = entries;
        };
        double s = 0;
        FindCount(scanDir, false, s); // warm the cache for both
        scanOnce();
        scanTimes.clear();
        for (int run = 0; run < std::max(runs, 5); ++run) {
            findEntries = FindCount(scanDir, true, s);
            findTimes.push_back(s);
            findAllEntries = FindCount(scanDir, false, s);
            findAllTimes.push_back(s);
            scanOnce();
            TCatalogTree tree;
            TPlainIconLookup icons;
            const auto t = Clock::now();
            AddDisc(tree, scanDir, "bench", icons);
            addDiscTimes.push_back(Seconds(t));
            addDiscNodes = tree.Items().Count();
        }
    }

    // --- the table -----------------------------------------------------------------
    std::printf("\ntargets (ours | peer or limit | ours/peer):\n");
    Header();
    const std::string loadLabel = "LoadCatalog, " + std::to_string(actualNodes) + " nodes";
    const auto &phase = figures[0].phase;
    const auto &searchTimes = figures[0].searchTimes;
    const auto &hits = figures[0].hits;
    const Figures &sized = figures[1];
    TargetLine(loadLabel.c_str(), Median(phase[kLoadCatalog]), 0.300, "s");
    TargetLine("SaveCatalog (temp file, sync, rename)", Median(phase[kSaveCatalog]), 0.200, "s");
    TargetLine("heap per loaded node", static_cast<double>(figures[0].heapPerNode), 120, "B");
    TargetLine("resident memory per loaded node", static_cast<double>(figures[0].residentPerNode), 120, "B");
    TargetLine("LoadCatalog with sizes and dates", Median(sized.phase[kLoadCatalog]), 0.300, "s");
    TargetLine("SaveCatalog with sizes and dates", Median(sized.phase[kSaveCatalog]), 0.250, "s");
    TargetLine("resident per loaded node with sizes and dates", static_cast<double>(sized.residentPerNode), 120, "B");
    for (size_t q = 0; q < 3; ++q) {
        const std::string label = std::string(queries[q].label).substr(0, 28) + " with/without data";
        PeerLine(label.c_str(), Median(sized.searchTimes[q]), Median(searchTimes[q]), "s", "<= 1.05",
                 Median(sized.searchTimes[q]) <= 1.05 * Median(searchTimes[q]));
    }
    TargetLine("duplicates by name and size, with data", Median(sized.phase[kDuplicates]), 1.0, "s");
    TargetLine("literal search 'readme'", Median(searchTimes[0]), 0.050, "s");
    TargetLine("regex search '\\.zip$'", Median(searchTimes[1]), 0.080, "s");
    TargetLine("regex search '^[a-c].*[0-9]$'", Median(searchTimes[2]), 0.080, "s");
    const char *peerLabels[] = {"literal 'readme' vs plocate -c -b -i", "regex '\\.zip$' vs plocate -c -b -r",
                                "regex '^[a-c].*[0-9]$' vs plocate -c -b -r"};
    for (size_t q = 0; q < std::size(peerLabels); ++q) {
        if (plocateTimes[q].empty())
            continue;
        const double ours = Median(searchTimes[q]), peer = Median(plocateTimes[q]);
        const bool regex = q > 0;
        PeerLine(peerLabels[q], ours, peer, "s", regex ? "plocate 3x slower" : "", regex && ours * 3 <= peer);
        if (plocateHits[q] != hits[q])
            std::printf("    (hits differ: ours %lld, plocate %lld)\n", static_cast<long long>(hits[q]),
                        plocateHits[q]);
    }
    if (!findTimes.empty()) {
        // The target compares with plain `find DIR`, which is the faster of
        // the two although it walks the hidden folders too.
        const double ours = Median(scanTimes), peer = Median(findAllTimes);
        PeerLine("TTreeScanner walk vs find DIR", ours, peer, "s", "<= 1.2", ours <= 1.2 * peer);
        PeerLine("TTreeScanner walk vs find, hidden dirs pruned", ours, Median(findTimes), "s");
        PeerLine("AddDisc (walk into the catalog) vs find DIR", Median(addDiscTimes), peer, "s");
        std::printf("    (entries: find DIR %zu with the root, pruned find %zu without it; scanner %zu with it;"
                    " catalog nodes %d)\n",
                    findAllEntries, findEntries, scanEntries, addDiscNodes);
    }
    if (!bigNames.empty())
        return BigCatalogFigures(names, bigNames, runs, dir);
    return 0;
}

// =============================================================================
// Search at ten million names (--big NAMES10M)
// =============================================================================
//
// A catalog of 10,000,000 nodes shaped from NAMES10M exactly as the main
// catalog is (BuildTree), searched as built: BuildTree adds every node at
// the end of the flat order, so its names lie in the name store as a load
// leaves them.  Every figure is the median of RUNS runs (at least 5):
//   - searches over files and folders through the search driver, hits as
//     nodes (rows are built when shown): literal 'readme', '\.zip$' case
//     sensitive, '^[a-c].*[0-9]$', approximate 'readme' with 1 error; limits
//     60, 80, 150 and 400 ms;
//   - plocate -c -b over a database of the same names for the first three,
//     the whole process timed: ours at least 3x faster for the regular
//     expressions, 1.5x for the literal; both hit counts are printed;
//   - the speed-up from threads (1 worker against one per core) for the
//     regular expressions, goal 1.7x, beside the cores the process got at
//     the time (a busy machine lends fewer); and when each worker finished
//     its stretch, to see whether the split is even;
//   - cancel latency: a long search (approximate, 3 errors) is cancelled
//     after 30 ms; the time until FindNodes returns, goal 10 ms;
//   - on the NAMES catalog of 1,000,000 nodes: the literal at most 16 ms,
//     '.' (every name a hit, nodes only) at most 100 ms.

namespace {

// The lines of `path` as views into `buffer`.
std::vector<std::string_view> ReadNameViews(const std::string &path, std::string &buffer)
{
    std::vector<std::string_view> views;
    std::ifstream in(path, std::ios::binary);
    buffer.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    size_t at = 0;
    while (at < buffer.size()) {
        size_t end = buffer.find('\n', at);
        if (end == std::string::npos)
            end = buffer.size();
        views.emplace_back(buffer.data() + at, end - at);
        at = end + 1;
    }
    return views;
}

struct TimedSearch {
    double seconds = 0;
    int64_t hits = 0;
};

// The search driver as the window and the CLI call it, without rows.
TimedSearch TimeRunSearch(const TCatalogTree &tree, const TSearchRequest &request, int runs)
{
    TimedSearch result;
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto t = Clock::now();
        const TSearchOutcome out = RunSearch(tree, request, nullptr, nullptr, nullptr, false);
        times.push_back(Seconds(t));
        result.hits = out.hitCount;
    }
    result.seconds = Median(times);
    return result;
}

// The parallel walk alone with `threads` workers (0: one per core).
TimedSearch TimeFindNodes(const TCatalogTree &tree, const TSearchRequest &request, int runs, int threads)
{
    TimedSearch result;
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        const auto t = Clock::now();
        const TFoundNodes found = FindNodes(tree, request, nullptr, nullptr, threads);
        times.push_back(Seconds(t));
        result.hits = static_cast<int64_t>(found.nodes.size());
    }
    result.seconds = Median(times);
    return result;
}

// How many cores this process gets now: the same arithmetic loop run once
// on one thread and once on each of two threads at a time.  On a machine
// shared with other work the thread speed-up can be no better than this.
double CoresAvailable()
{
    auto spin = [](uint64_t &out) {
        uint64_t x = 1;
        for (int i = 0; i < 100000000; ++i)
            x = x * 6364136223846793005ull + 1442695040888963407ull;
        out = x;
    };
    uint64_t sink[2];
    auto t = Clock::now();
    spin(sink[0]);
    const double one = Seconds(t);
    t = Clock::now();
    std::thread other(spin, std::ref(sink[1]));
    spin(sink[0]);
    other.join();
    const double two = Seconds(t);
    return two > 0 ? 2 * one / two : 0;
}

void HitCounts(int64_t ours, long long peer)
{
    std::printf("    (hits: ours %lld, peer %lld%s)\n", static_cast<long long>(ours), peer,
                ours == peer ? "" : " - they differ");
}

int BigCatalogFigures(const std::vector<std::string> &names, const std::string &bigNamesPath, int runs,
                      const QTemporaryDir &dir)
{
    runs = std::max(runs, 5);
    std::printf("\n--- search at ten million names (medians of %d runs; the machine is shared) ---\n", runs);
    const TSearchRequest literal{"readme", false, TSearchKind::FilesAndFolders, ""};
    const TSearchRequest zip{"\\.zip$", true, TSearchKind::FilesAndFolders, ""};
    const TSearchRequest classes{"^[a-c].*[0-9]$", false, TSearchKind::FilesAndFolders, ""};
    TSearchRequest approx{"readme", false, TSearchKind::FilesAndFolders, ""};
    approx.match = TMatchSpec{TMatchMode::Approx, 1};
    TSearchRequest every{".", false, TSearchKind::FilesAndFolders, ""};

    // The 1,000,000-node catalog of NAMES first.
    TimedSearch literal1m, every1m;
    {
        TCatalogTree tree;
        BuildTree(tree, names, 1000000);
        literal1m = TimeRunSearch(tree, literal, runs);
        every1m = TimeRunSearch(tree, every, runs);
    }

    std::string buffer;
    const std::vector<std::string_view> bigNames = ReadNameViews(bigNamesPath, buffer);
    if (bigNames.empty()) {
        std::fprintf(stderr, "catalog_bench: no names in %s\n", bigNamesPath.c_str());
        return 2;
    }
    TCatalogTree tree;
    auto t = Clock::now();
    BuildTree(tree, bigNames, 10000000);
    const double buildSeconds = Seconds(t);
    const TCatalogNodes &items = tree.Items();
    const int nodeCount = items.Count();
    // The runs of names, rebuilt as after any change (a rename to the same
    // text drops them).
    items.Item(0)->SetText(std::string(items.Item(0)->Text()));
    t = Clock::now();
    const TNameRuns &runsOfNames = items.NameRuns();
    const double runsSeconds = Seconds(t);
    std::printf("catalog: %d nodes built in %.1f s; %zu runs of names built in %.1f ms (%zu bytes)\n", nodeCount,
                buildSeconds, runsOfNames.Runs().size(), runsSeconds * 1000, runsOfNames.HeldBytes());
    items.UpdateTotals();

    struct Case {
        const char *label;
        const TSearchRequest &request;
        double limit;
        std::vector<std::string> plocateArgs;
        TimedSearch ours;
        TimedSearch oneThread, defaultThreads;
        std::vector<double> peerTimes;
        long long peerHits = -1;
    };
    Case cases[] = {
        {"literal 'readme'", literal, 0.060, {"-c", "-b", "-i", "readme"}, {}, {}, {}, {}},
        {"regex '\\.zip$' case", zip, 0.080, {"-c", "-b", "-r", "\\.zip$"}, {}, {}, {}, {}},
        {"regex '^[a-c].*[0-9]$'", classes, 0.150, {"-c", "-b", "-r", "^[a-c].*[0-9]$"}, {}, {}, {}, {}},
        {"approx 'readme' 1 error", approx, 0.400, {}, {}, {}, {}, {}},
    };
    for (Case &c : cases)
        c.ours = TimeRunSearch(tree, c.request, runs);
    const double coresBefore = CoresAvailable();
    for (size_t i = 1; i < 3; ++i) {
        cases[i].oneThread = TimeFindNodes(tree, cases[i].request, runs, 1);
        cases[i].defaultThreads = TimeFindNodes(tree, cases[i].request, runs, 0);
    }
    const double coresAfter = CoresAvailable();

    // When each worker reported its last chunk, from the start.
    std::vector<double> finished;
    {
        TSearchControl control;
        std::mutex lock;
        const auto start = Clock::now();
        control.chunkDone = [&](int worker, int) {
            std::lock_guard<std::mutex> hold(lock);
            if (finished.size() <= static_cast<size_t>(worker))
                finished.resize(static_cast<size_t>(worker) + 1);
            finished[static_cast<size_t>(worker)] = Seconds(start);
        };
        FindNodes(tree, classes, &control);
    }

    // Cancel latency.
    std::vector<double> latencies;
    bool cancelledEveryTime = true;
    {
        TSearchRequest slow{"readme", false, TSearchKind::FilesAndFolders, ""};
        slow.match = TMatchSpec{TMatchMode::Approx, 3};
        for (int run = 0; run < runs; ++run) {
            TSearchControl control;
            std::atomic<bool> done{false};
            TFoundNodes found;
            std::thread search([&] {
                found = FindNodes(tree, slow, &control);
                done = true;
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            const auto cancelAt = Clock::now();
            control.cancel = true;
            while (!done.load())
                std::this_thread::yield();
            latencies.push_back(Seconds(cancelAt));
            search.join();
            cancelledEveryTime = cancelledEveryTime && found.cancelled;
        }
    }

    // plocate on the same names.
    const std::string builder =
        QStandardPaths::findExecutable("plocate-build", {"/usr/sbin", "/sbin", "/usr/bin"}).toStdString();
    bool havePeer = !QStandardPaths::findExecutable("plocate").isEmpty() && !builder.empty();
    if (havePeer) {
        const std::string paths = dir.filePath("paths10m.txt").toStdString();
        const std::string db = dir.filePath("plocate10m.db").toStdString();
        double seconds = 0;
        int status = 1;
        if (WritePaths(tree, paths))
            Run({builder, "--plaintext", "--require-visibility", "no", paths, db}, seconds, &status);
        std::remove(paths.c_str());
        havePeer = status == 0;
        if (havePeer) {
            std::printf("plocate: database of the same %d names built in %.1f s\n", nodeCount - items.TopLevelCount(),
                        seconds);
            for (Case &c : cases) {
                if (c.plocateArgs.empty())
                    continue;
                TimePlocate(db, c.plocateArgs, runs, c.peerTimes, c.peerHits);
            }
        } else {
            std::printf("plocate: the database could not be built; no plocate figures\n");
        }
        std::remove(db.c_str());
    } else {
        std::printf("plocate: not installed (scripts/install-deps.sh --bench); no plocate figures\n");
    }

    std::printf("\ntargets at ten million names (ours | peer or limit | ours/peer):\n");
    Header();
    for (const Case &c : cases) {
        const std::string label = std::string(c.label) + ", files+folders";
        TargetLine(label.c_str(), c.ours.seconds, c.limit, "s");
        std::printf("    (%lld hits)\n", static_cast<long long>(c.ours.hits));
    }
    for (size_t i = 0; i < 3; ++i) {
        const Case &c = cases[i];
        if (c.peerTimes.empty())
            continue;
        const double peer = Median(c.peerTimes);
        const double goal = i == 0 ? 1.5 : 3.0;
        const std::string label = std::string(c.label) + " vs plocate " + c.plocateArgs[1] + " " + c.plocateArgs[2];
        const std::string target = i == 0 ? "plocate 1.5x slower" : "plocate 3x slower";
        PeerLine(label.c_str(), c.ours.seconds, peer, "s", target, c.ours.seconds * goal <= peer);
        HitCounts(c.ours.hits, c.peerHits);
    }
    for (size_t i = 1; i < 3; ++i) {
        const Case &c = cases[i];
        const double speedUp = c.defaultThreads.seconds > 0 ? c.oneThread.seconds / c.defaultThreads.seconds : 0;
        std::printf("  %-46s %12s | %12s | %7.2fx  >= 1.7x   %s\n",
                    (std::string("threads: ") + c.label + " 1 vs " +
                     std::to_string(std::max(1u, std::thread::hardware_concurrency())))
                        .c_str(),
                    Figure(c.oneThread.seconds, "s").c_str(), Figure(c.defaultThreads.seconds, "s").c_str(), speedUp,
                    Verdict(speedUp >= 1.7));
    }
    std::printf("    (cores this process got, by a two-thread arithmetic loop: %.2f before, %.2f after)\n", coresBefore,
                coresAfter);
    std::printf("    (workers' last chunk of '^[a-c].*[0-9]$' after:");
    for (size_t w = 0; w < finished.size(); ++w)
        std::printf(" %s%.1f ms", w ? ", " : "", finished[w] * 1000);
    std::printf(")\n");
    TargetLine("cancel latency (approx 3 errors, 30 ms in)", Median(latencies), 0.010, "s");
    if (!cancelledEveryTime)
        std::printf("    (a search ended before the cancel: the latency is not a cancel's)\n");
    std::printf("\ntargets at one million names (%s):\n", "the NAMES catalog");
    Header();
    TargetLine("literal 'readme', files+folders, nodes", literal1m.seconds, 0.016, "s");
    std::printf("    (%lld hits)\n", static_cast<long long>(literal1m.hits));
    TargetLine("'.' every name, files+folders, nodes", every1m.seconds, 0.100, "s");
    std::printf("    (%lld hits)\n", static_cast<long long>(every1m.hits));
    return 0;
}

} // namespace
