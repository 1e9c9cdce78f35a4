#include "transport/udp/DatagramHandOff.h"

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <utility>

#include "transport/udp/QVOSCSourcedDatagramDelegate.h"

namespace {

// Long enough to hand on thousands of small datagrams, short against the 10 ms between the
// sender's flushes.
constexpr auto sliceLength = std::chrono::milliseconds(2);
// The memory of a burst that made this much wait is given back once it has been handed on: the
// copies were made on the listening thread, and the allocator keeps what they freed.
constexpr size_t trimmedBurstBytes = size_t{1} << 20;

void handOn(const std::shared_ptr<QVOSCDatagramDelegate>& target,
            std::shared_ptr<const QVOSCData> data, const NetworkEndpoint& source) {
    if (auto* sourced = dynamic_cast<QVOSCSourcedDatagramDelegate*>(target.get())) {
        sourced->dispatchRawPacket(std::move(data), source);
    } else {
        target->dispatchRawPacket(std::move(data));
    }
}

}  // namespace

void DatagramHandOff::offer(std::shared_ptr<QVOSCDatagramDelegate> target, const uint8_t* bytes,
                            size_t length, const NetworkEndpoint& source) {
    const size_t cost = length + bookkeepingBytes;
    if (!reserve(cost)) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    // Copied outside the lock; only this thread adds, so the room reserved stays ours.
    Waiting datagram{std::move(target), std::make_shared<QVOSCData>(bytes, bytes + length), source,
                     cost};
    bool postSlice = false;
    {
        std::lock_guard guard(lock_);
        waiting_.push_back(std::move(datagram));
        postSlice = !slicePosted_;
        slicePosted_ = true;
    }
    if (postSlice) {
        mainLoop_.postToMainThread([self = shared_from_this()] { self->deliverSlice(); });
    }
}

bool DatagramHandOff::reserve(size_t cost) {
    std::lock_guard guard(lock_);
    if (reservedCount_ >= maximumWaitingDatagrams || reservedBytes_ + cost > maximumWaitingBytes) {
        return false;
    }
    reservedBytes_ += cost;
    ++reservedCount_;
    burstBytes_ = std::max(burstBytes_, reservedBytes_);
    return true;
}

void DatagramHandOff::deliverSlice() {
    const auto end = std::chrono::steady_clock::now() + sliceLength;
    for (;;) {
        Waiting datagram;
        {
            std::lock_guard guard(lock_);
            if (waiting_.empty()) {
                slicePosted_ = false;
                break;
            }
            datagram = std::move(waiting_.front());
            waiting_.pop_front();
        }
        const size_t cost = datagram.cost;
        handOn(datagram.target, std::move(datagram.data), datagram.source);
        // The room is given back only once the delegate is done with the datagram.
        datagram = Waiting{};
        {
            std::lock_guard guard(lock_);
            reservedBytes_ -= cost;
            --reservedCount_;
        }
        if (std::chrono::steady_clock::now() >= end) {
            // The rest waits for the next slice, behind the timers that fell due meanwhile.
            mainLoop_.postToMainThread([self = shared_from_this()] { self->deliverSlice(); });
            return;
        }
    }
    trimAfterBurst();
}

void DatagramHandOff::trimAfterBurst() {
    {
        std::lock_guard guard(lock_);
        if (burstBytes_ < trimmedBurstBytes) {
            return;
        }
        burstBytes_ = 0;
    }
    malloc_trim(0);
}
