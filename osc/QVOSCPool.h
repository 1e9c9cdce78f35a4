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
inline constexpr size_t kMaxCached = 64;  // per thread and size class

struct FreeBlock {
    FreeBlock* next;
};

// Free blocks by size class.
struct FreeLists {
    std::array<FreeBlock*, kClassCount> heads{};
    std::array<size_t, kClassCount> counts{};
};

// A free block's link stays readable; the rest of it is poisoned under AddressSanitizer, so that
// a use after free is still reported.
inline void push(FreeLists& lists, size_t sizeClass, void* block) {
    auto* freed = static_cast<FreeBlock*>(block);
    freed->next = lists.heads[sizeClass];
    lists.heads[sizeClass] = freed;
    ++lists.counts[sizeClass];
    ASAN_POISON_MEMORY_REGION(freed + 1, (sizeClass + 1) * kGranule - sizeof(FreeBlock));
}

// `lists` holds a block of this class.
inline void* pop(FreeLists& lists, size_t sizeClass) {
    FreeBlock* block = lists.heads[sizeClass];
    lists.heads[sizeClass] = block->next;
    --lists.counts[sizeClass];
    ASAN_UNPOISON_MEMORY_REGION(block, (sizeClass + 1) * kGranule);
    return block;
}

// The calling thread's lists: null before its first slow-path call and after the thread has
// handed them back at its end. Only ever read by value, never through its address: GCC 12 with
// UBSan miscompiled null checks on a thread-local's address in code inlined elsewhere.
extern constinit thread_local FreeLists* threadLists;

void* allocateSlowly(size_t size);
void deallocateSlowly(void* block, size_t size) noexcept;

}  // namespace detail

// Inline, so that a block's size class is known where it is made and freed.
inline void* allocate(size_t size) {
    detail::FreeLists* lists = detail::threadLists;
    size_t sizeClass = (size - 1) / detail::kGranule;
    if (lists == nullptr || size == 0 || size > kMaxBlockSize ||
        lists->heads[sizeClass] == nullptr) {
        return detail::allocateSlowly(size);
    }
    return detail::pop(*lists, sizeClass);
}

inline void deallocate(void* block, size_t size) noexcept {
    detail::FreeLists* lists = detail::threadLists;
    size_t sizeClass = (size - 1) / detail::kGranule;
    if (lists == nullptr || size == 0 || size > kMaxBlockSize || lists->counts[sizeClass] == 0 ||
        lists->counts[sizeClass] >= detail::kMaxCached) {
        detail::deallocateSlowly(block, size);
        return;
    }
    detail::push(*lists, sizeClass, block);
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
