// catalog_bench.cpp - speed and memory of the catalog core on a large
// generated catalog: save and load of "mdb.dat", the load pass with file
// count and file-type list, and searches of every kind.
//
//   catalog_bench NAMES [NODES] [RUNS]
//
// NAMES holds one name per line (gen_names.py output); the tree is shaped
// from them deterministically: one disc per 10,000 names, a name without an
// extension opens a folder with probability 0.45 (depth at most 6), and after
// each file the walk climbs one level with probability 0.07.  The catalog
// file is written to a temporary folder and removed afterwards.

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "catalog_search.h"
#include "catalog_store.h"
#include "catalog_tree.h"
#include "icon_lookup.h"
#include "quarn32.h"

using namespace tslcat;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

size_t HeapInUse()
{
    return mallinfo2().uordblks;
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

void BuildTree(TCatalogTree &tree, const std::vector<std::string> &names, size_t nodes)
{
    TCatalogNodes &items = tree.Items();
    Random random{1};
    std::vector<TCatalogNode *> stack;
    size_t made = 0;
    for (size_t i = 0; made < nodes; ++i) {
        if (i % 10000 == 0) {
            TCatalogNode *disc = items.AddChild(nullptr, "DISC" + std::to_string(i / 10000));
            disc->SetIcons(kIconFolder, kIconFolderOpen);
            stack.assign(1, disc);
            if (++made >= nodes)
                break;
        }
        const std::string &name = names[i % names.size()];
        const bool opensFolder =
            ExtensionOf(name).empty() && stack.size() < 7 && random.Unit() < 0.45;
        TCatalogNode *node = items.AddChild(stack.back(), name);
        ++made;
        if (opensFolder) {
            node->SetIcons(kIconFolder, kIconFolderOpen);
            stack.push_back(node);
        } else {
            node->SetIcons(kIconGenericFile, kIconGenericFile);
            if (stack.size() > 1 && random.Unit() < 0.07)
                stack.pop_back();
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: catalog_bench NAMES [NODES] [RUNS]\n");
        return 2;
    }
    const size_t nodes = argc > 2 ? std::stoul(argv[2]) : 1000000;
    const int runs = argc > 3 ? std::stoi(argv[3]) : 3;
    std::vector<std::string> names;
    {
        std::ifstream in(argv[1], std::ios::binary);
        std::string line;
        while (std::getline(in, line))
            names.push_back(line);
    }
    if (names.empty()) {
        std::fprintf(stderr, "catalog_bench: no names in %s\n", argv[1]);
        return 2;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("mdb.dat");
    QuarnMessages(0);

    double best[6] = {1e9, 1e9, 1e9, 1e9, 1e9, 1e9};
    size_t bytesPerNode = 0;
    int64_t files = 0;
    size_t fileTypes = 0;
    qint64 fileSize = 0;
    struct Query {
        const char *label;
        TSearchRequest request;
    };
    const Query queries[] = {
        {"both 'readme'", {"readme", false, TSearchKind::FilesAndFolders, ""}},
        {"files '\\.zip$' case", {"\\.zip$", true, TSearchKind::Files, ""}},
        {"files '.' type .jpg", {".", false, TSearchKind::Files, ".jpg"}},
        {"folders '^[a-c].*[0-9]$'", {"^[a-c].*[0-9]$", false, TSearchKind::Folders, ""}},
        {"both 'qqqzzz' (walk only)", {"qqqzzz", false, TSearchKind::FilesAndFolders, ""}},
        {"both '.' (every name)", {".", false, TSearchKind::FilesAndFolders, ""}},
    };
    std::vector<double> searchBest(std::size(queries), 1e9);
    std::vector<int64_t> hits(std::size(queries), 0);
    int actualNodes = 0;

    for (int run = 0; run < runs; ++run) {
        {
            TCatalogTree tree;
            auto t = Clock::now();
            BuildTree(tree, names, nodes);
            best[0] = std::min(best[0], Seconds(t));
            actualNodes = tree.Items().Count();
            t = Clock::now();
            tree.SaveToFile(path);
            best[1] = std::min(best[1], Seconds(t));
            fileSize = QFile(path).size();
        }
        {
            const size_t before = HeapInUse();
            TCatalogTree tree;
            auto t = Clock::now();
            tree.LoadFromFile(path);
            best[2] = std::min(best[2], Seconds(t));
            t = Clock::now();
            tree.Items().Item(0); // the flat index, as every walk builds it
            best[3] = std::min(best[3], Seconds(t));
            bytesPerNode = (HeapInUse() - before) / static_cast<size_t>(actualNodes);
            for (size_t q = 0; q < std::size(queries); ++q) {
                t = Clock::now();
                TSearchOutcome out = RunSearch(tree, queries[q].request);
                searchBest[q] = std::min(searchBest[q], Seconds(t));
                hits[q] = out.hitCount;
            }
        }
        {
            TCatalogTree tree;
            TPlainIconLookup icons;
            auto t = Clock::now();
            TLoadResult r = LoadCatalog(tree, path, icons);
            best[4] = std::min(best[4], Seconds(t));
            files = r.fileCount;
            fileTypes = r.fileTypes.Items().size();
            t = Clock::now();
            SaveCatalog(tree, path);
            best[5] = std::min(best[5], Seconds(t));
        }
    }

    std::printf("catalog: %d nodes, %lld files, %zu file types, mdb.dat %lld bytes (best of %d runs)\n",
                actualNodes, static_cast<long long>(files), fileTypes, static_cast<long long>(fileSize),
                runs);
    std::printf("  build in memory            %8.3f s\n", best[0]);
    std::printf("  SaveToFile                 %8.3f s\n", best[1]);
    std::printf("  LoadFromFile               %8.3f s\n", best[2]);
    std::printf("  flat index                 %8.3f s\n", best[3]);
    std::printf("  LoadCatalog (load + pass)  %8.3f s\n", best[4]);
    std::printf("  SaveCatalog                %8.3f s\n", best[5]);
    std::printf("  heap per node (loaded)     %8zu bytes\n", bytesPerNode);
    for (size_t q = 0; q < std::size(queries); ++q)
        std::printf("  search %-26s %8.3f s  %lld hits\n", queries[q].label, searchBest[q],
                    static_cast<long long>(hits[q]));
    return 0;
}
