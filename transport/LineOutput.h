#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

// Writes lines to a descriptor (standard output or standard error, a log socket) without ever
// waiting for it: a reader that stalls, a full pipe or a terminal on hold (Ctrl-S) costs lines,
// which are dropped and counted, never the caller's time. A reader that went away ends the output
// for good, and why is kept for the caller to say once. Safe to use from several threads at once:
// what one thread writes is never mixed into another's line. SIGPIPE must be ignored (or the
// descriptor a socket).
class LineOutput {
  public:
    // Writes to `descriptor`, which stays the caller's. A pipe or a terminal is opened a second
    // time for writing without blocking, so that the descriptor the program shares with its
    // parent (a shell's terminal) keeps its own blocking mode.
    explicit LineOutput(int descriptor);
    ~LineOutput();
    LineOutput(const LineOutput&) = delete;
    LineOutput& operator=(const LineOutput&) = delete;

    // Writes `line` and a line break, or the part that fits with the rest held back; when even
    // that rest cannot go, the line is dropped. False when the line was dropped or the output is
    // closed.
    bool writeLine(std::string_view line);
    // The same for a record that carries its own line control (a terminal's status line that
    // returns to the start of its line), or a datagram.
    bool writeRecord(std::string_view record);

    // The descriptor given, for asking about it (a terminal's width).
    int descriptor() const { return given_; }
    uint64_t droppedLines() const { return dropped_.load(std::memory_order_relaxed); }
    // Whether the output ended, and the reason ("Broken pipe"); empty while it is open.
    bool closed() const;
    std::string closedReason() const;

  private:
    enum class Kind { socket, reopened, polled, plain };

    // Writes what it can of `bytes` without waiting; how many went, or -1 with errno set.
    long writeSome(std::string_view bytes);
    // Sends the held-back rest of a record; whether all of it went.
    bool flushPending();
    // Takes note of a failed write: only a full output is worth trying again.
    void noteFailure(int error);

    const int given_;
    int descriptor_;
    Kind kind_ = Kind::plain;
    std::atomic<uint64_t> dropped_{0};
    mutable std::mutex lock_;  // over what follows; held for non-blocking writes only
    std::string pending_;
    std::string closedReason_;
};
