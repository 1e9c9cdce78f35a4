#include "transport/DatagramHandOff.h"

#include <chrono>
#include <utility>

#include "transport/QVOSCSourcedDatagramDelegate.h"

namespace {

// Long enough to hand on thousands of small datagrams, short against the 10 ms between the
// sender's flushes.
constexpr auto sliceLength = std::chrono::milliseconds(2);

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
    return true;
}

void DatagramHandOff::deliverSlice() {
    const auto end = std::chrono::steady_clock::now() + sliceLength;
    do {
        Waiting datagram;
        {
            std::lock_guard guard(lock_);
            if (waiting_.empty()) {
                slicePosted_ = false;
                return;
            }
            datagram = std::move(waiting_.front());
            waiting_.pop_front();
        }
        const size_t cost = datagram.cost;
        handOn(datagram.target, std::move(datagram.data), datagram.source);
        // The room is given back only once the delegate is done with the datagram.
        datagram = Waiting{};
        std::lock_guard guard(lock_);
        reservedBytes_ -= cost;
        --reservedCount_;
    } while (std::chrono::steady_clock::now() < end);
    // The rest waits for the next slice, behind the timers that fell due meanwhile.
    mainLoop_.postToMainThread([self = shared_from_this()] { self->deliverSlice(); });
}
