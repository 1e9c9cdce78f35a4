#include "app/remote/ReplyBudget.h"

#include <algorithm>

ReplyBudget::ReplyBudget(MonotonicClock clock, Limits limits)
    : clock_(std::move(clock)), limits_(limits) {}

void ReplyBudget::noteReceived(size_t bytes) {
    if (limits_.amplification == 0) {
        return;
    }
    // Compared before multiplying, so that a huge count cannot wrap round into a small credit.
    const size_t room = limits_.creditCeiling - credit_;
    credit_ += bytes > room / limits_.amplification ? room : bytes * limits_.amplification;
}

bool ReplyBudget::allowReply(size_t bytes) {
    const MonotonicTime now = clock_();
    expire(now);
    // A sliding second, not a fixed one: two fixed seconds back to back would let twice the rate
    // through across their boundary.
    refillAllowance(now);
    const bool fromCredit = bytes <= credit_;
    if ((!fromCredit && bytes > allowance_) || lastSecond_.size() >= limits_.repliesPerSecond ||
        bytes > limits_.bytesPerSecond - bytesLastSecond_) {
        ++dropped_;
        return false;
    }
    (fromCredit ? credit_ : allowance_) -= bytes;
    lastSecond_.push_back({now, bytes});
    bytesLastSecond_ += bytes;
    return true;
}

void ReplyBudget::expire(MonotonicTime now) {
    // A clock that went back leaves the entries in place: they expire once it passes them again.
    while (!lastSecond_.empty() && now - lastSecond_.front().time >= std::chrono::seconds(1)) {
        bytesLastSecond_ -= lastSecond_.front().bytes;
        lastSecond_.pop_front();
    }
}

void ReplyBudget::refillAllowance(MonotonicTime now) {
    const size_t perSecond = limits_.allowancePerSecond * allowanceShares_;
    if (!allowanceSince_ || now < *allowanceSince_) {
        allowanceSince_ = now;
        allowance_ = perSecond;
        return;
    }
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now - *allowanceSince_).count();
    const auto earned =
        static_cast<size_t>(static_cast<double>(perSecond) * static_cast<double>(micros) / 1e6);
    if (earned > 0) {
        allowance_ = std::min(perSecond, allowance_ + earned);
        allowanceSince_ = now;
    }
}
