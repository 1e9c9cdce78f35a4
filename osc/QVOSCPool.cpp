#include "osc/QVOSCPool.h"

#include <sanitizer/asan_interface.h>

#include <array>
#include <mutex>

namespace {

constexpr size_t kGranule = alignof(std::max_align_t);  // block sizes are multiples of it
constexpr size_t kClassCount = QVOSCPool::kMaxBlockSize / kGranule;
constexpr size_t kBatch = 32;              // blocks moved to or from the shared lists at once
constexpr size_t kMaxCached = 2 * kBatch;  // per thread and size class

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

// Trivially constructed and destroyed, so the fast paths read it without any guard.
struct ThreadCache {
    std::array<FreeList, kClassCount> lists;
    bool retired = false;  // handed back at thread exit; later calls use the shared lists
};

constinit thread_local ThreadCache cache{};

using FreeLists = std::array<FreeList, kClassCount>;

// Moves up to `limit` blocks from the front of `from` to `to`.
void move(FreeList& from, FreeList& to, size_t limit) {
    while (from.head != nullptr && limit-- > 0) {
        FreeBlock* block = from.head;
        from.head = block->next;
        block->next = to.head;
        to.head = block;
        --from.count;
        ++to.count;
    }
}

// Blocks that no thread caches. Never destroyed: blocks may still be freed while the process
// exits. Every block lies in a chunk that is never released, so the pool only ever grows to its
// high-water mark.
struct SharedLists {
    std::mutex mutex;
    FreeLists lists;
};

SharedLists& shared() {
    static SharedLists* const instance = new SharedLists;
    return *instance;
}

// Hands the thread's cached blocks back to the shared lists when the thread ends. Armed by the
// thread's first slow-path call, which comes before its cache holds any block.
struct CacheReturner {
    bool armed = false;  // writing it is the first use, which registers the destructor
    ~CacheReturner() {
        std::lock_guard lock(shared().mutex);
        for (size_t sizeClass = 0; sizeClass < kClassCount; ++sizeClass) {
            move(cache.lists[sizeClass], shared().lists[sizeClass], SIZE_MAX);
        }
        cache.retired = true;
    }
};
thread_local CacheReturner returner;

// Adds a new chunk's blocks to `list`.
void addChunk(FreeList& list, size_t sizeClass) {
    auto* chunk = static_cast<char*>(::operator new(kBatch* blockSize(sizeClass)));
    for (size_t k = kBatch; k-- > 0;) {
        list.push(chunk + k * blockSize(sizeClass), sizeClass);
    }
}

void* allocateSlowly(size_t sizeClass) {
    SharedLists& lists = shared();
    std::lock_guard lock(lists.mutex);
    FreeList& source = lists.lists[sizeClass];
    if (cache.retired) {
        if (source.head == nullptr) {
            addChunk(source, sizeClass);
        }
        return source.pop(sizeClass);
    }
    returner.armed = true;
    FreeList& list = cache.lists[sizeClass];
    move(source, list, kBatch);
    if (list.head == nullptr) {
        addChunk(list, sizeClass);
    }
    return list.pop(sizeClass);
}

// Taken when the thread's list is empty (first use, or retired) or full.
void deallocateSlowly(void* block, size_t sizeClass) {
    SharedLists& lists = shared();
    std::lock_guard lock(lists.mutex);
    FreeList& target = lists.lists[sizeClass];
    if (cache.retired) {
        target.push(block, sizeClass);
        return;
    }
    returner.armed = true;
    FreeList& list = cache.lists[sizeClass];
    list.push(block, sizeClass);
    if (list.count > kMaxCached) {
        move(list, target, kBatch);
    }
}

}  // namespace

void* QVOSCPool::allocate(size_t size) {
    if (size == 0 || size > QVOSCPool::kMaxBlockSize) {
        return ::operator new(size);
    }
    size_t sizeClass = (size - 1) / kGranule;
    FreeList& list = cache.lists[sizeClass];
    if (list.head == nullptr) {
        return allocateSlowly(sizeClass);
    }
    return list.pop(sizeClass);
}

void QVOSCPool::deallocate(void* block, size_t size) noexcept {
    if (size == 0 || size > QVOSCPool::kMaxBlockSize) {
        ::operator delete(block);
        return;
    }
    size_t sizeClass = (size - 1) / kGranule;
    FreeList& list = cache.lists[sizeClass];
    if (list.count == 0 || list.count >= kMaxCached) {
        deallocateSlowly(block, sizeClass);
        return;
    }
    list.push(block, sizeClass);
}
