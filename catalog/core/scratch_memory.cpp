// scratch_memory.cpp - huge-page backed working memory where available.

#include "scratch_memory.h"

#include <cstdint>
#include <cstdlib>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#endif

namespace tslcat {

namespace {
constexpr size_t kHugePage = size_t{2} << 20;
}

TScratchMemory::TScratchMemory(size_t bytes, size_t smallHead)
{
    size_ = bytes == 0 ? 1 : bytes;
    smallHead = (smallHead + 4095) / 4096 * 4096;
#if defined(__unix__) || defined(__APPLE__)
    // Rounded up to whole huge pages and aligned to one: only whole, aligned
    // 2 MiB ranges can be backed by a huge page.  Reserving address space
    // costs nothing until a page is touched.
    const size_t rounded = (size_ + kHugePage - 1) / kHugePage * kHugePage;
    if (rounded >= size_ && rounded + kHugePage + smallHead > rounded) {
        int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_NORESERVE
        flags |= MAP_NORESERVE;
#endif
        void *p = ::mmap(nullptr, rounded + kHugePage + smallHead, PROT_READ | PROT_WRITE, flags, -1, 0);
        if (p != MAP_FAILED) {
            mapping_ = p;
            mappingSize_ = rounded + kHugePage + smallHead;
            const uintptr_t at =
                (reinterpret_cast<uintptr_t>(p) + smallHead + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
            data_ = reinterpret_cast<unsigned char *>(at - smallHead);
#ifdef MADV_HUGEPAGE
            ::madvise(reinterpret_cast<void *>(at), rounded, MADV_HUGEPAGE); // a hint: plain pages when refused
#endif
            return;
        }
    }
#endif
    data_ = static_cast<unsigned char *>(std::calloc(size_, 1));
    if (!data_)
        throw std::bad_alloc();
}

TScratchMemory::~TScratchMemory()
{
#if defined(__unix__) || defined(__APPLE__)
    if (mapping_) {
        ::munmap(mapping_, mappingSize_);
        return;
    }
#endif
    std::free(data_);
}

} // namespace tslcat
