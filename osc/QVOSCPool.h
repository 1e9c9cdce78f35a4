#pragma once

#include <sanitizer/asan_interface.h>

#include <array>
#include <cstddef>
#include <memory>
#include <new>
#include <utility>

// Every tick and every received datagram makes and drops a handful of small objects (a message,
// its address, its arguments, their lists). General-purpose malloc dominated the cost of that, so
// these come from a pool of fixed-size blocks kept in per-thread free lists. A block may be freed
// on any thread; it then serves that thread's next allocation of its size. Lists that grow past a
// bound hand blocks back to a shared list, so a thread that only frees does not hoard memory.
namespace QVOSCPool {

// Sizes above this go to the global operator new.
inline constexpr size_t kMaxBlockSize = 256;

namespace detail {

inline constexpr size_t kGranule = alignof(std::max_align_t);  // block sizes are multiples of it
inline constexpr size_t kClassCount = kMaxBlockSize / kGranule;
inline constexpr size_t kBatch = 32;  // blocks moved to or from the shared lists at once
inline constexpr size_t kMaxCached = 2 * kBatch;  // per thread and size class

constexpr size_t blockSize(size_t sizeClass) {
    return (sizeClass + 1) * kGranule;
}

struct FreeBlock {
    FreeBlock* next;
};

// A free block's link stays readable; the rest of it is poisoned under AddressSanitizer, so that
// a use after free is still reported.
struct FreeList {
    FreeBlock* head = nullptr;
    size_t count = 0;

    void push(void* block, size_t sizeClass) {
        auto* freed = static_cast<FreeBlock*>(block);
        freed->next = head;
        head = freed;
        ++count;
        ASAN_POISON_MEMORY_REGION(static_cast<char*>(block) + sizeof(FreeBlock),
                                  blockSize(sizeClass) - sizeof(FreeBlock));
    }

    void* pop(size_t sizeClass) {
        FreeBlock* block = head;
        head = block->next;
        --count;
        ASAN_UNPOISON_MEMORY_REGION(block, blockSize(sizeClass));
        return block;
    }
};

// Trivially constructed and destroyed, so the fast paths below read it without any guard.
struct ThreadCache {
    std::array<FreeList, kClassCount> lists;
    bool retired = false;  // handed back at thread exit; later calls use the shared lists
};
extern constinit thread_local ThreadCache cache;

void* allocateSlowly(size_t sizeClass);
// Taken when the thread's list is empty (first use, or retired) or full.
void deallocateSlowly(void* block, size_t sizeClass) noexcept;

}  // namespace detail

// Inline, so that a block's size class is known where it is made and freed.
inline void* allocate(size_t size) {
    if (size == 0 || size > kMaxBlockSize) {
        return ::operator new(size);
    }
    size_t sizeClass = (size - 1) / detail::kGranule;
    detail::FreeList& list = detail::cache.lists[sizeClass];
    if (list.head == nullptr) {
        return detail::allocateSlowly(sizeClass);
    }
    return list.pop(sizeClass);
}

inline void deallocate(void* block, size_t size) noexcept {
    if (size == 0 || size > kMaxBlockSize) {
        ::operator delete(block);
        return;
    }
    size_t sizeClass = (size - 1) / detail::kGranule;
    detail::FreeList& list = detail::cache.lists[sizeClass];
    if (list.count == 0 || list.count >= detail::kMaxCached) {
        detail::deallocateSlowly(block, sizeClass);
        return;
    }
    list.push(block, sizeClass);
}

}  // namespace QVOSCPool

// A standard allocator over QVOSCPool, for std::allocate_shared and containers.
template <class T>
class QVOSCPoolAllocator {
  public:
    using value_type = T;

    QVOSCPoolAllocator() = default;
    template <class U>
    QVOSCPoolAllocator(const QVOSCPoolAllocator<U>&) noexcept {}

    T* allocate(size_t count) {
        static_assert(alignof(T) <= alignof(std::max_align_t),
                      "pool blocks are max_align_t aligned");
        if (count > kMaxCount) {
            throw std::bad_array_new_length();
        }
        return static_cast<T*>(QVOSCPool::allocate(count * sizeof(T)));
    }
    void deallocate(T* pointer, size_t count) noexcept {
        QVOSCPool::deallocate(pointer, count * sizeof(T));
    }

    template <class U>
    bool operator==(const QVOSCPoolAllocator<U>&) const noexcept {
        return true;
    }

  private:
    static constexpr size_t kMaxCount = static_cast<size_t>(-1) / sizeof(T);
};

// std::make_shared, with the object and its reference counts in one pool block.
template <class T, class... Args>
std::shared_ptr<T> makePooled(Args&&... args) {
    return std::allocate_shared<T>(QVOSCPoolAllocator<T>(), std::forward<Args>(args)...);
}
