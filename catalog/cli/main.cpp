// main.cpp - tslcat-cli entry point.

#include <QCoreApplication>

#include "cli.h"

#if defined(__linux__) && defined(__GLIBC__)
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

namespace {

// A search of a large catalog builds its rows and its output in a few
// megabytes of fresh heap, within a process that lives some tens of
// milliseconds.  On virtual machines the first touch of each fresh 4 KiB
// page costs a fault of several microseconds, as much as the search itself
// for thousands of rows.  So the heap is grown once, up front (address
// space only), kept, and backed by transparent huge pages where the system
// offers them.  Without them nothing changes but the heap's growth steps.
void PrepareHeap()
{
    constexpr size_t kHeapBytes = size_t{32} << 20; // the largest threshold malloc accepts
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kHeapBytes));     // large blocks from the heap as well
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(kHeapBytes) * 2); // and the heap is not given back
    mallopt(M_TOP_PAD, static_cast<int>(kHeapBytes));
    const auto start = reinterpret_cast<uintptr_t>(sbrk(0));
    void *volatile grow = std::malloc(kHeapBytes / 2); // grows the heap by the pad at least
    std::free(grow);
    const auto end = reinterpret_cast<uintptr_t>(sbrk(0));
    const uintptr_t from = (start + kHugePage - 1) & ~(kHugePage - 1);
    if (end > from + kHugePage)
        madvise(reinterpret_cast<void *>(from), (end - from) & ~(kHugePage - 1), MADV_HUGEPAGE);
}

} // namespace
#else
namespace {
void PrepareHeap() {}
} // namespace
#endif

int main(int argc, char **argv)
{
    PrepareHeap();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tslcat-cli");
    return tslcat::cli::Run(QCoreApplication::arguments());
}
