// The window on a large catalog: how long until the tree shows after the
// load, how a search in the window compares with the core's own search (the
// window's time runs from the start of the search to its first rows painted),
// what copying the shown hits out of the tree costs before a change, and the
// longest time the event loop waited during load and search.
//   tslcat-gui-bench [NODES]        (default 1000000; QT_QPA_PLATFORM=offscreen)
// A benchmark, not a test: it prints figures and judges nothing.
#include <QApplication>
#include <QButtonGroup>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTreeView>

#include <cstdio>

#include "catalog_search.h"
#include "catalog_store.h"
#include "catalog_tree.h"
#include "catalogtreeview.h"
#include "desktopservices.h"
#include "icon_lookup.h"
#include "resultlistmodel.h"
#include "systemiconlist.h"
#include "tform1.h"

using namespace tslcat;

namespace {

struct QuietMessages final : TMessages {
    int texts = 0;
    void ShowText(const QString &) override { ++texts; }
    void Warning(const QString &, const QString &) override {}
    void Error(const QString &text) override { std::fprintf(stderr, "error: %s\n", qPrintable(text)); }
    void Beep() override {}
    bool Confirm(const QString &) override { return false; }
};

// Discs of 100 folders of 99 files each (about 10,000 nodes per disc), the
// folder names and file names varied so searches hit a realistic share.
void BuildCatalog(TCatalogTree &tree, int nodes)
{
    static const char *const kTypes[] = {".txt", ".doc", ".zip", ".exe", ".jpg", ".html", ".c", ".h"};
    TCatalogNodes &items = tree.Items();
    items.BeginUpdate();
    int made = 0;
    for (int d = 0; made < nodes; ++d) {
        TCatalogNode *disc = items.AddChild(nullptr, "Disc " + std::to_string(d));
        ++made;
        for (int f = 0; f < 100 && made < nodes; ++f) {
            TCatalogNode *folder = items.AddChild(disc, "folder_" + std::to_string(d) + "_" + std::to_string(f));
            ++made;
            for (int i = 0; i < 99 && made < nodes; ++i, ++made)
                items.AddChild(folder, "file" + std::to_string(i * 7919 % 10007) + kTypes[i % 8]);
        }
    }
    items.EndUpdate();
}

double Ms(const QElapsedTimer &t)
{
    return double(t.nsecsElapsed()) / 1e6;
}

// The core's own pauses between two of its per-node progress calls.
struct GapProgress final : ICatalogProgress {
    QElapsedTimer clock;
    qint64 longestNs = 0;
    void ProcessEvents() override
    {
        if (clock.isValid())
            longestNs = std::max(longestNs, clock.nsecsElapsed());
        clock.start();
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    SystemIconList::PrepareIconTheme();
    const int nodes = argc > 1 ? std::atoi(argv[1]) : 1000000;

    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    {
        TCatalogTree tree;
        BuildCatalog(tree, nodes);
        tree.SaveToFile(QStringLiteral("mdb.dat"));
    }

    // The core alone.
    TCatalogTree coreTree;
    TPlainIconLookup plain;
    QElapsedTimer t;
    t.start();
    LoadCatalog(coreTree, QStringLiteral("mdb.dat"), plain);
    const double coreLoad = Ms(t);
    // Where the core itself pauses between its per-node hooks.
    TSearchRequest request;
    request.expression = ".";
    request.kind = TSearchKind::FilesAndFolders;
    GapProgress gaps;
    t.restart();
    // Hits only, as the window searches: no rows are built after the walk.
    const TSearchOutcome hooked = RunSearch(coreTree, request, &gaps, nullptr, nullptr, false);
    const double coreSearchAllHooked = Ms(t);
    const double tail = double(gaps.clock.nsecsElapsed()) / 1e6;

    // The window.
    QuietMessages messages;
    TFormServices services;
    services.messages = &messages;
    TForm1 form(services);
    t.restart();
    form.show();
    while (!(form.LoadCount() == 1 && !form.Working()))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double windowLoad = Ms(t);
    const qint64 loadGap = form.SliceStats().longestGapMs;
    t.restart();
    QCoreApplication::processEvents();
    form.CatalogTree1->viewport()->repaint();
    const double treeShown = Ms(t);

    // Core and window searches on the window's own tree, alternated, the
    // best of three each: the machine may be shared.
    auto windowSearch = [&](const char *expression, double *ms, qint64 *gap, int *rows) {
        form.ResetSliceStats();
        form.SearchStringEdit->setText(QString::fromUtf8(expression));
        form.TypeRadioButtons->button(2)->setChecked(true);
        QElapsedTimer s;
        s.start();
        form.SearchButtonClick();
        form.ListView1->viewport()->repaint();
        *ms = Ms(s);
        *gap = form.SliceStats().longestGapMs;
        *rows = form.ListView1->model()->rowCount();
    };
    auto compare = [&](const char *expression) {
        double bestCore = 1e18, bestWindow = 1e18, worstWindow = 0, bestLight = 1e18;
        qint64 worstGap = 0;
        int rows = 0;
        int64_t hits = 0;
        for (int round = 0; round < 3; ++round) {
            TSearchRequest r;
            r.expression = expression;
            r.kind = TSearchKind::FilesAndFolders;
            QElapsedTimer c;
            c.start();
            const TSearchOutcome outcome = RunSearch(form.CatalogTree(), r);
            bestCore = std::min(bestCore, Ms(c));
            hits = outcome.hitCount;
            c.restart();
            const TSearchOutcome light = RunSearch(form.CatalogTree(), r, nullptr, nullptr, nullptr, false);
            bestLight = std::min(bestLight, Ms(c));
            double ms = 0;
            qint64 gap = 0;
            windowSearch(expression, &ms, &gap, &rows);
            bestWindow = std::min(bestWindow, ms);
            worstWindow = std::max(worstWindow, ms);
            worstGap = std::max(worstGap, gap);
        }
        std::printf(
            "search '%s': core with rows %.1f ms, core hits only %.1f ms (%lld hits), window to first rows "
            "shown %.1f ms (worst %.1f ms, %d rows), window/core-with-rows %.2f, longest event-loop wait %lld ms\n",
            expression, bestCore, bestLight, static_cast<long long>(hits), bestWindow, worstWindow, rows,
            bestWindow / bestCore, static_cast<long long>(worstGap));
    };

    std::printf("nodes in catalog:                   %d\n", coreTree.Items().Count());
    std::printf("core load:                          %8.1f ms\n", coreLoad);
    std::printf("window load (show to loaded):       %8.1f ms, longest event-loop wait %lld ms\n", windowLoad,
                static_cast<long long>(loadGap));
    std::printf("tree shown after the load:          %8.1f ms\n", treeShown);
    compare("qqq");
    compare("file1");
    compare(".");
    // The list holds the hits of '.' now; copying them out of the tree is
    // what every change of the tree costs first.
    {
        QElapsedTimer d;
        d.start();
        form.ResultModel().Detach();
        const double detach = Ms(d);
        d.restart();
        form.ListView1->viewport()->repaint();
        std::printf("detach %d shown hits before a change: %.1f ms, first rows painted from the copies %.1f ms\n",
                    form.ResultModel().Count(), detach, Ms(d));
    }
    std::printf("core alone, search '.' for hits only with an empty progress hook: %.1f ms, "
                "longest pause between two hooks %.1f ms, after the last %.1f ms\n",
                coreSearchAllHooked, double(gaps.longestNs) / 1e6, tail);
    return 0;
}
