#pragma once

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

void* allocate(size_t size);
void deallocate(void* block, size_t size) noexcept;

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
