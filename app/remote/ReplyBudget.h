#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "app/shaping/MonotonicClock.h"

// How much the program may answer remote-control requests. A request's source address can be
// forged, so answers must never become a way to flood a third party: all replies together stay
// within a count and a byte rate over any second, and the bytes sent back stay within a multiple
// of the bytes received, with a ceiling on what quiet times may bank. Replies beyond that are
// dropped and counted. Pure; main thread only.
class ReplyBudget {
  public:
    struct Limits {
        size_t repliesPerSecond = 20;
        size_t bytesPerSecond = 32 * 1024;
        // Each byte received lets this many go back...
        size_t amplification = 3;
        // ...but no more than this is ever banked, whatever arrives.
        size_t creditCeiling = 64 * 1024;
        // Bytes a second that may go back without credit, banked up to one second's worth, so
        // that a lone /kestrano/get (20 bytes in, one bundle of about 900 out) is answered; a
        // flood gains nothing from it beyond this rate.
        size_t allowancePerSecond = 2048;
    };

    explicit ReplyBudget(MonotonicClock clock) : ReplyBudget(std::move(clock), Limits{}) {}
    ReplyBudget(MonotonicClock clock, Limits limits);

    // A datagram of `bytes` arrived on the listen port; it earns credit for answers.
    void noteReceived(size_t bytes);
    // Whether a reply of `bytes` may go now; a yes spends its share of the budget, a no counts it
    // as dropped.
    bool allowReply(size_t bytes);
    // The answer to /kestrano/get grows with each further mapping's settings: the allowance is
    // `shares` times its limit, one share for the instance and one for each further mapping, so
    // that a lone request is still answered. The byte and reply rates stay as they are.
    void setAllowanceShares(size_t shares) { allowanceShares_ = std::max<size_t>(shares, 1); }
    // Replies refused so far.
    uint64_t dropped() const { return dropped_; }

  private:
    struct Sent {
        MonotonicTime time;
        size_t bytes;
    };

    // Forgets replies older than a second.
    void expire(MonotonicTime now);
    void refillAllowance(MonotonicTime now);

    MonotonicClock clock_;
    Limits limits_;
    size_t credit_ = 0;
    size_t allowance_ = 0;
    size_t allowanceShares_ = 1;
    std::optional<MonotonicTime> allowanceSince_;
    std::deque<Sent> lastSecond_;  // at most repliesPerSecond entries
    size_t bytesLastSecond_ = 0;
    uint64_t dropped_ = 0;
};
