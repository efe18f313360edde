// catalog_storage.h - the bulk storage behind the catalog tree: a slab pool
// that hands out fixed-size node slots, and a byte store that keeps every
// node name in a few large chunks.
//
// A catalog holds millions of small nodes with names of about twenty bytes.
// One heap block per node and one per name cost more in allocator headers
// and rounding than the data itself, and scatter the nodes over the heap.
// Both stores here allocate in large blocks and never move what they handed
// out, so node pointers and name pointers stay valid while the tree grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

namespace tslcat {

// Slots for objects of type T, allocated kSlotsPerSlab at a time.  Freed
// slots are reused (last freed, first reused); slabs are returned only by
// Reset, once nothing lives in them.
template <class T, size_t kSlotsPerSlab = 2048> class TSlabPool {
public:
    TSlabPool() = default;
    TSlabPool(const TSlabPool &) = delete;
    TSlabPool &operator=(const TSlabPool &) = delete;

    // Uninitialised storage for one T; the caller constructs it in place.
    void *Allocate()
    {
        ++live_;
        if (free_) {
            Slot *s = free_;
            free_ = s->next;
            return s;
        }
        if (slabs_.empty() || usedInLast_ == kSlotsPerSlab) {
            std::unique_ptr<Slot[]> slab(new Slot[kSlotsPerSlab]);
            slabs_.push_back(std::move(slab));
            usedInLast_ = 0;
        }
        return &slabs_.back()[usedInLast_++];
    }

    // Gives back a slot whose object was already destroyed.
    void Free(void *p)
    {
        auto *s = static_cast<Slot *>(p);
        s->next = free_;
        free_ = s;
        --live_;
    }

    // Drops every slab.  Only for a pool whose objects are all destroyed.
    void Reset()
    {
        slabs_.clear();
        slabs_.shrink_to_fit();
        usedInLast_ = 0;
        free_ = nullptr;
        live_ = 0;
    }

    size_t LiveCount() const { return live_; }
    size_t SlabCount() const { return slabs_.size(); }

private:
    union Slot {
        Slot *next; // while free
        alignas(T) unsigned char bytes[sizeof(T)];
        Slot() {}
    };

    std::vector<std::unique_ptr<Slot[]>> slabs_;
    size_t usedInLast_ = 0;
    Slot *free_ = nullptr;
    size_t live_ = 0;
};

// Name bytes, appended into chunks, each copy followed by a zero byte so
// that a name can go to a C string interface as it is.  Stored bytes never
// move until Reset (or until the owner replaces the whole store when
// compacting), so a stored name can be the source of the next Store.
// Released bytes are only counted: the owner compacts when waste dominates.
class TNameStore {
public:
    TNameStore() = default;
    TNameStore(TNameStore &&) noexcept = default;
    TNameStore &operator=(TNameStore &&) noexcept = default;

    // A copy of `bytes` and a zero byte (HeldBytes(bytes.size()) in all);
    // nullptr for an empty name.
    char *Store(std::string_view bytes)
    {
        if (bytes.empty())
            return nullptr;
        const size_t n = bytes.size() + 1;
        char *at;
        if (n > kChunkSize / 4) {
            // A long name gets a block of its own, kept apart from the
            // chunks, so the current chunk's free tail stays usable.
            std::unique_ptr<char[]> own(new char[n]);
            big_.push_back(std::move(own));
            at = big_.back().get();
        } else {
            if (chunks_.empty() || kChunkSize - usedInLast_ < n) {
                std::unique_ptr<char[]> chunk(new char[kChunkSize]);
                chunks_.push_back(std::move(chunk));
                usedInLast_ = 0;
            }
            at = chunks_.back().get() + usedInLast_;
            usedInLast_ += n;
        }
        std::memcpy(at, bytes.data(), n - 1);
        at[n - 1] = '\0';
        live_ += n;
        return at;
    }

    // What a stored name of `length` bytes occupies.
    static size_t HeldBytes(size_t length) { return length ? length + 1 : 0; }

    // `n` stored bytes are no longer used by anyone.
    void Release(size_t n)
    {
        live_ -= n;
        wasted_ += n;
    }

    // True when rewriting the live names into a fresh store would free more
    // than it keeps (and enough to matter).
    bool WorthCompacting() const { return wasted_ > kChunkSize && wasted_ > live_; }

    void Reset() { *this = TNameStore(); }

    size_t LiveBytes() const { return live_; }
    size_t WastedBytes() const { return wasted_; }
    size_t ChunkCount() const { return chunks_.size() + big_.size(); }

    static constexpr size_t kChunkSize = 64 * 1024;

private:
    std::vector<std::unique_ptr<char[]>> chunks_;
    std::vector<std::unique_ptr<char[]>> big_;
    size_t usedInLast_ = 0;
    size_t live_ = 0;
    size_t wasted_ = 0;
};

} // namespace tslcat
