#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "transport/MainLoop.h"
#include "transport/NetworkEndpoint.h"
#include "transport/udp/QVOSCDatagramDelegate.h"

// Carries received datagrams from a listening thread to the main thread's delegates. What waits
// is bounded, so that a flood costs dropped datagrams, never memory; the main thread takes them in
// short slices, so that its timers keep their time whatever arrives.
class DatagramHandOff : public std::enable_shared_from_this<DatagramHandOff> {
  public:
    // Each waiting datagram costs its length plus this, for its copy, its source and its place.
    static constexpr size_t bookkeepingBytes = 256;
    static constexpr size_t maximumWaitingBytes = size_t{4} << 20;
    static constexpr size_t maximumWaitingDatagrams = 4096;

    explicit DatagramHandOff(MainLoop& mainLoop) : mainLoop_(mainLoop) {}

    // From the listening thread: copies the datagram for `target`, or drops and counts it when
    // too much waits already. Never blocks on the main thread.
    void offer(std::shared_ptr<QVOSCDatagramDelegate> target, const uint8_t* bytes, size_t length,
               const NetworkEndpoint& source);

    // How many datagrams were dropped so far; any thread.
    uint64_t droppedCount() const { return dropped_.load(std::memory_order_relaxed); }

  private:
    struct Waiting {
        std::shared_ptr<QVOSCDatagramDelegate> target;
        std::shared_ptr<const QVOSCData> data;
        NetworkEndpoint source;
        size_t cost = 0;
    };

    // Reserves room for a datagram of `cost` bytes; false when there is none.
    bool reserve(size_t cost);
    // On the main thread: hands on datagrams for one slice of time, then posts itself again while
    // any are left.
    void deliverSlice();
    // On the main thread, once nothing waits: gives the memory of a burst back to the system.
    void trimAfterBurst();

    MainLoop& mainLoop_;
    std::mutex lock_;
    std::deque<Waiting> waiting_;  // guarded by lock_
    size_t reservedBytes_ = 0;     // guarded by lock_
    size_t reservedCount_ = 0;     // guarded by lock_
    bool slicePosted_ = false;     // guarded by lock_
    size_t burstBytes_ = 0;        // guarded by lock_: the most that waited since the last trim
    std::atomic<uint64_t> dropped_{0};
};
