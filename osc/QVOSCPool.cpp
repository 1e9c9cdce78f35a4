#include "osc/QVOSCPool.h"

#include <mutex>

namespace QVOSCPool::detail {

constinit thread_local ThreadCache cache{};

}  // namespace QVOSCPool::detail

namespace {

using namespace QVOSCPool::detail;

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

}  // namespace

void* QVOSCPool::detail::allocateSlowly(size_t sizeClass) {
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

void QVOSCPool::detail::deallocateSlowly(void* block, size_t sizeClass) noexcept {
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
