// image_bench.cpp - cataloguing an ISO image against the folder it was made
// from and against bsdtar listing the same image.
//
//   image_bench IMAGE FOLDER [RUNS]
//
// IMAGE is an ISO 9660 image with Rock Ridge (scripts/bench.sh makes one
// with xorriso from a gen_tree.py --mkdir tree of 100,000 entries), FOLDER
// the same files on disc.  Three figures, each the median of RUNS runs,
// warm cache, in one process run:
//   - image:  AddDisc of the image into an empty catalog (read, order, nodes);
//   - folder: AddDisc of the folder, the same catalog from the folder scanner;
//   - bsdtar: `bsdtar -tf IMAGE`, its output written to /dev/null (the
//     cheaper way for it: through a pipe it writes line by line and takes
//     about twice as long, which is shown too).
// Both catalogs must come out with the same file count.  The target line
// prints image / bsdtar and MET when it is at most 1.5.

#include <QCoreApplication>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_process.h"
#include "catalog_tree.h"
#include "icon_lookup.h"
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
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Runs a program without a shell and returns its wall time.  Its standard
// output goes to /dev/null, or, with `throughPipe`, is read here and
// dropped, `lines` counting its lines.
double Run(const std::vector<std::string> &argv, bool throughPipe, size_t &lines, int &status)
{
    const TProcessRun run = RunProcess(argv, throughPipe ? TOutput::Count : TOutput::Discard);
    if (run.seconds < 0) // no pipe
        return -1;
    lines = static_cast<size_t>(run.lines);
    status = run.status;
    return run.seconds;
}

struct Figure {
    double seconds;
    int64_t files;
    int nodes;
};

Figure Catalog(const std::string &root)
{
    TCatalogTree tree;
    TPlainIconLookup icons;
    const auto t = Clock::now();
    const TAddDiscResult r = AddDisc(tree, root, "Bench", icons);
    const double s = Seconds(t);
    return {s, r.fileCount, tree.Items().Count()};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: image_bench IMAGE FOLDER [RUNS]\n");
        return 2;
    }
    const std::string image = argv[1];
    std::string folder = argv[2];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;

    std::vector<double> imageTimes, folderTimes, bsdtarTimes, bsdtarPipeTimes;
    Figure fromImage{}, fromFolder{};
    size_t listed = 0;
    // One warm-up of each, so every timed run finds the files cached.
    Catalog(image);
    Catalog(folder);
    for (int i = 0; i < runs; ++i) {
        fromImage = Catalog(image);
        imageTimes.push_back(fromImage.seconds);
        fromFolder = Catalog(folder);
        folderTimes.push_back(fromFolder.seconds);
        int status = 0, pipeStatus = 0;
        size_t none = 0;
        bsdtarTimes.push_back(Run({"bsdtar", "-tf", image}, false, none, status));
        bsdtarPipeTimes.push_back(Run({"bsdtar", "-tf", image}, true, listed, pipeStatus));
        if (status != 0 || pipeStatus != 0) {
            std::fprintf(stderr, "image_bench: bsdtar failed (status %d)\n", status);
            return 1;
        }
    }
    if (fromImage.files != fromFolder.files || fromImage.nodes != fromFolder.nodes) {
        std::fprintf(stderr, "image_bench: the image gave %d nodes / %lld files, the folder %d / %lld\n",
                     fromImage.nodes, static_cast<long long>(fromImage.files), fromFolder.nodes,
                     static_cast<long long>(fromFolder.files));
        return 1;
    }
    const double ours = Median(imageTimes), peer = Median(bsdtarTimes), walk = Median(folderTimes);
    std::printf("image catalog: %d nodes, %lld files; bsdtar lists %zu entries; median of %d runs\n", fromImage.nodes,
                static_cast<long long>(fromImage.files), listed, runs);
    std::printf("  catalog the image    %8.1f ms\n", ours * 1e3);
    std::printf("  catalog the folder   %8.1f ms  (image / folder %.2f)\n", walk * 1e3, ours / walk);
    std::printf("  bsdtar -tf IMAGE     %8.1f ms  (output to /dev/null)\n", peer * 1e3);
    std::printf("  bsdtar -tf IMAGE |   %8.1f ms  (output through a pipe)\n", Median(bsdtarPipeTimes) * 1e3);
    const double ratio = ours / peer;
    std::printf("target image / bsdtar -tf <= 1.50: %.2f %s\n", ratio, ratio <= 1.5 ? "MET" : "NOT MET");
    return 0;
}
