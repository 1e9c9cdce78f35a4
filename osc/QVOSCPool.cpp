#include "osc/QVOSCPool.h"

#include <mutex>

using namespace QVOSCPool::detail;

constinit thread_local FreeLists* QVOSCPool::detail::threadLists = nullptr;

namespace {

constexpr size_t kBatch = 32;  // blocks moved to or from the shared lists at once

size_t sizeClassOf(size_t size) {
    return (size - 1) / kGranule;
}

// Moves up to `limit` blocks of a class from the front of `from` to `to`.
void move(FreeLists& from, FreeLists& to, size_t sizeClass, size_t limit) {
    while (from.heads[sizeClass] != nullptr && limit-- > 0) {
        FreeBlock* block = from.heads[sizeClass];
        from.heads[sizeClass] = block->next;
        block->next = to.heads[sizeClass];
        to.heads[sizeClass] = block;
        --from.counts[sizeClass];
        ++to.counts[sizeClass];
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

// This thread's own lists, reached through threadLists while the thread runs.
constinit thread_local FreeLists ownLists;
constinit thread_local bool retired = false;

// Hands the thread's cached blocks back to the shared lists when the thread ends. Armed by the
// thread's first slow-path call, which comes before its lists hold any block.
struct ListsReturner {
    bool armed = false;  // writing it is the first use, which registers the destructor
    ~ListsReturner() {
        std::lock_guard lock(shared().mutex);
        for (size_t sizeClass = 0; sizeClass < kClassCount; ++sizeClass) {
            move(*threadLists, shared().lists, sizeClass, SIZE_MAX);
        }
        threadLists = nullptr;
        retired = true;
    }
};
thread_local ListsReturner returner;

// The calling thread's lists, set up on first use; null once the thread has handed them back.
FreeLists* ownListsIfAny() {
    if (threadLists == nullptr && !retired) {
        returner.armed = true;
        threadLists = &ownLists;
    }
    return threadLists;
}

// Adds a new chunk's blocks to `lists`.
void addChunk(FreeLists& lists, size_t sizeClass) {
    const size_t blockSize = (sizeClass + 1) * kGranule;
    auto* chunk = static_cast<char*>(::operator new(kBatch* blockSize));
    for (size_t k = kBatch; k-- > 0;) {
        push(lists, sizeClass, chunk + k * blockSize);
    }
}

}  // namespace

void* QVOSCPool::detail::allocateSlowly(size_t size) {
    if (size == 0 || size > kMaxBlockSize) {
        return ::operator new(size);
    }
    const size_t sizeClass = sizeClassOf(size);
    SharedLists& sharedLists = shared();
    std::lock_guard lock(sharedLists.mutex);
    FreeLists* lists = ownListsIfAny();
    if (lists == nullptr) {  // the thread is ending: serve from the shared lists
        lists = &sharedLists.lists;
    } else {
        move(sharedLists.lists, *lists, sizeClass, kBatch);
    }
    if (lists->heads[sizeClass] == nullptr) {
        addChunk(*lists, sizeClass);
    }
    return pop(*lists, sizeClass);
}

// Taken when the thread's list is empty (first use, or ending) or full.
void QVOSCPool::detail::deallocateSlowly(void* block, size_t size) noexcept {
    if (size == 0 || size > kMaxBlockSize) {
        ::operator delete(block);
        return;
    }
    const size_t sizeClass = sizeClassOf(size);
    SharedLists& sharedLists = shared();
    std::lock_guard lock(sharedLists.mutex);
    FreeLists* lists = ownListsIfAny();
    if (lists == nullptr) {
        push(sharedLists.lists, sizeClass, block);
        return;
    }
    push(*lists, sizeClass, block);
    if (lists->counts[sizeClass] > kMaxCached) {
        move(*lists, sharedLists.lists, sizeClass, kBatch);
    }
}
