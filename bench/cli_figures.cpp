// cli_figures.cpp - tslcat-cli search end to end against plocate.

#include "bench_process.h"
#include "cli_figures.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "catalog_tree.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Timed {
    double seconds = 0;
    long long lines = 0; // of standard output
};

// Runs a program (no shell, posix_spawn so this process's size is not
// charged to it), reads its standard output and counts the lines; its
// standard error goes to /dev/null.  The time runs from the spawn to the
// child's exit.
Timed RunCounting(const std::vector<std::string> &argv)
{
    const TProcessRun run = RunProcess(argv, TOutput::Count, true);
    return {run.seconds, run.started ? run.lines : -1};
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

} // namespace

void CliSearchFigures(const QString &dir, const std::string &plocateDb,
                      const std::function<void(tslcat::TCatalogTree &)> &build, int runs)
{
    const std::string catalog = (dir + "/cli.dat").toStdString();
    {
        tslcat::TCatalogTree tree;
        build(tree);
        tree.SaveToFile(QString::fromStdString(catalog));
    }
    struct Case {
        const char *label;
        std::vector<std::string> ours; // after "tslcat-cli --db FILE search"
        std::vector<std::string> peer; // after "plocate -d DB"
        double goal;                   // ours / peer at most
    };
    const Case cases[] = {
        {"literal 'readme'", {"--both", "readme"}, {"-b", "-i", "readme"}, 0.7},
        {"regex '\\.zip$' case", {"--both", "--case", "\\.zip$"}, {"-b", "-r", "\\.zip$"}, 0.5},
        // Our bracket classes compare bytes exactly whatever the case flag;
        // plocate -i would fold them, so it runs case-sensitive here.
        {"regex '^[a-c].*[0-9]$'", {"--both", "^[a-c].*[0-9]$"}, {"-b", "-r", "^[a-c].*[0-9]$"}, 0.5},
    };
    std::printf("\ntslcat-cli search end to end vs plocate -b (whole processes, output read and counted, "
                "alternating runs, medians of %d):\n",
                runs);
    std::printf("  %-24s %10s %9s | %10s %9s | %6s  %s\n", "case", "tslcat-cli", "hits", "plocate", "hits", "ratio",
                "goal");
    for (const Case &c : cases) {
        std::vector<std::string> ours{TSLCAT_CLI_PATH, "--db", catalog, "search"};
        ours.insert(ours.end(), c.ours.begin(), c.ours.end());
        std::vector<std::string> peer{"plocate", "-d", plocateDb};
        peer.insert(peer.end(), c.peer.begin(), c.peer.end());
        RunCounting(ours); // both files into the page cache
        RunCounting(peer);
        std::vector<double> ourTimes, peerTimes;
        long long ourHits = 0, peerHits = 0;
        for (int run = 0; run < runs; ++run) {
            // Each goes first every other run.
            for (int turn = 0; turn < 2; ++turn) {
                const bool oursNow = (turn + run) % 2 == 0;
                const Timed t = RunCounting(oursNow ? ours : peer);
                (oursNow ? ourTimes : peerTimes).push_back(t.seconds);
                (oursNow ? ourHits : peerHits) = t.lines;
            }
        }
        const double ratio = Median(ourTimes) / Median(peerTimes);
        std::printf("  %-24s %8.4f s %9lld | %8.4f s %9lld | %6.3f  <= %.1f %s\n", c.label, Median(ourTimes), ourHits,
                    Median(peerTimes), peerHits, ratio, c.goal, ratio <= c.goal ? "MET" : "NOT MET");
        if (ourHits != peerHits)
            std::printf("    (hits differ: the counts are the lines each printed)\n");
    }
}
