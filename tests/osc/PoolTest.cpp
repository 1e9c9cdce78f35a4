#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "osc/QVOSCDecoder.h"
#include "tests/osc/OscTestSupport.h"

// Packets come from per-thread pools but may die on any thread (the listener hands datagrams to
// the main thread). These tests pass packets across threads and check that no block is ever
// handed out twice; they are meant to run under AddressSanitizer and ThreadSanitizer too.

namespace {

// 0 to 4 arguments, so that attached-object lists are held both in place and spilled.
int32_t argumentCount(int32_t number) {
    return (number % 5 + 5) % 5;
}

std::shared_ptr<QVOSCMessage> numberedMessage(int32_t number) {
    auto message =
        QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString("/pool/test"));
    for (int32_t k = 0; k < argumentCount(number); ++k) {
        message->attachArgument(QVOSCArgument::argumentWithInt(number + k));
    }
    return message;
}

bool holdsNumber(const QVOSCMessage& message, int32_t number) {
    std::vector<std::shared_ptr<QVOSCArgument>> arguments = message.arguments();
    if (message.address()->address() != "/pool/test" ||
        arguments.size() != static_cast<size_t>(argumentCount(number))) {
        return false;
    }
    for (size_t k = 0; k < arguments.size(); ++k) {
        if (arguments[k]->intValue() != number + static_cast<int32_t>(k)) {
            return false;
        }
    }
    return true;
}

class Handoff {
  public:
    void put(std::shared_ptr<QVOSCPacket> packet) {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(packet));
        ready_.notify_one();
    }
    std::shared_ptr<QVOSCPacket> take() {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty(); });
        std::shared_ptr<QVOSCPacket> packet = std::move(queue_.front());
        queue_.pop_front();
        return packet;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::shared_ptr<QVOSCPacket>> queue_;
};

}  // namespace

TEST(Pool, PacketsMadeOnOneThreadDieOnAnother) {
    constexpr int32_t kCount = 20'000;
    Handoff handoff;
    std::thread producer([&handoff] {
        for (int32_t number = 0; number < kCount; ++number) {
            if (number % 2 == 0) {
                handoff.put(numberedMessage(number));
            } else {  // decoded packets, with their byte buffers, take the same route
                handoff.put(QVOSCDecoder::decodeData(numberedMessage(number)->packetizedData()));
            }
        }
    });
    // The consumer also makes and keeps packets of its own from the blocks it gets back.
    std::vector<std::shared_ptr<QVOSCMessage>> kept;
    int mismatches = 0;
    for (int32_t number = 0; number < kCount; ++number) {
        auto message = std::dynamic_pointer_cast<QVOSCMessage>(handoff.take());
        if (!message || !holdsNumber(*message, number)) {
            ++mismatches;
        }
        message.reset();
        kept.push_back(numberedMessage(-number));
        if (kept.size() == 500) {
            for (size_t k = 0; k < kept.size(); ++k) {
                mismatches +=
                    holdsNumber(*kept[k], -number + 499 - static_cast<int32_t>(k)) ? 0 : 1;
            }
            kept.clear();
        }
    }
    producer.join();
    EXPECT_EQ(mismatches, 0);
}

TEST(Pool, BlocksOfEndedThreadsServeLaterThreads) {
    std::vector<std::shared_ptr<QVOSCMessage>> survivors;
    for (int32_t round = 0; round < 8; ++round) {
        std::thread worker([&survivors, round] {
            // Made first, destroyed last: this thread's pool is already handed back when the
            // message it holds dies.
            thread_local std::shared_ptr<QVOSCMessage> outlivesThePool;
            outlivesThePool.reset();  // before this thread's first use of the pool
            outlivesThePool = numberedMessage(round);
            std::vector<std::shared_ptr<QVOSCMessage>> scratch;
            for (int32_t number = 0; number < 300; ++number) {
                scratch.push_back(numberedMessage(number));
            }
            survivors.push_back(std::move(scratch[round]));
        });
        worker.join();
    }
    for (int32_t round = 0; round < 8; ++round) {
        EXPECT_TRUE(holdsNumber(*survivors[static_cast<size_t>(round)], round));
    }
}
