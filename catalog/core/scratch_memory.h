// scratch_memory.h - working memory for the in-place readers that is cheap
// to touch for the first time (internal to the core).
//
// A search of a large catalog from the command line lives a few tens of
// milliseconds, and much of that can go to the first touch of fresh memory:
// on virtual machines each fresh 4 KiB page costs a fault of several
// microseconds (about 13 us measured), so a few megabytes of buffers and
// tables cost as much as reading the whole file.  The memory here is
// address space reserved at once and backed by transparent huge pages where
// the system offers them (one fault per 2 MiB); elsewhere it is plain
// memory, touched as used.
#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

namespace tslcat {

class TScratchMemory {
public:
    // At least `bytes` bytes of zeroed memory; throws std::bad_alloc.  The
    // first `smallHead` bytes (rounded to 4 KiB) stay on plain pages: for
    // tables that are mostly small, where a whole huge page would cost more
    // to clear than the few plain pages used.
    explicit TScratchMemory(size_t bytes, size_t smallHead = 0);
    ~TScratchMemory();
    TScratchMemory(const TScratchMemory &) = delete;
    TScratchMemory &operator=(const TScratchMemory &) = delete;

    unsigned char *Data() const { return data_; }
    size_t Size() const { return size_; }

private:
    unsigned char *data_ = nullptr;
    size_t size_ = 0;
    void *mapping_ = nullptr; // what to unmap, when mapped
    size_t mappingSize_ = 0;
};

// A growing array of plain values with a capacity fixed up front (so values
// never move), in scratch memory of its own or in a part of another's.
template <class T> class TScratchArray {
    static_assert(std::is_trivially_copyable<T>::value && std::is_trivially_destructible<T>::value,
                  "values are copied as bytes and never destroyed");

public:
    explicit TScratchArray(size_t capacity, size_t smallHead = 0)
        : memory_(std::make_unique<TScratchMemory>(capacity * sizeof(T) + sizeof(T), smallHead)),
          items_(reinterpret_cast<T *>(memory_->Data())), capacity_(capacity)
    {
    }
    // Over `capacity` values at `items`, which outlive the array.
    TScratchArray(T *items, size_t capacity) : items_(items), capacity_(capacity) {}

    void push_back(const T &value) { new (&Append()) T(value); }
    // The next value, not yet set: to be filled in place.
    T &Append()
    {
        if (size_ == capacity_)
            throw std::bad_alloc();
        return items_[size_++];
    }
    T &operator[](size_t i) { return items_[i]; }
    const T &operator[](size_t i) const { return items_[i]; }
    T &back() { return items_[size_ - 1]; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    size_t capacity() const { return capacity_; }
    void clear() { size_ = 0; }
    void resize_down(size_t size) { size_ = size < size_ ? size : size_; }
    const T *begin() const { return items_; }
    const T *end() const { return items_ + size_; }

private:
    std::unique_ptr<TScratchMemory> memory_;
    T *items_;
    size_t capacity_;
    size_t size_ = 0;
};

} // namespace tslcat
