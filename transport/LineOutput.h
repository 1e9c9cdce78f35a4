#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Writes lines to a descriptor (standard output, for the monitor) without ever waiting for it: a
// reader that stalls, a full pipe or a terminal on hold costs lines, which are dropped and
// counted, never the caller's time. A reader that went away ends the output for good, and why is
// kept for the caller to say once. SIGPIPE must be ignored (or the descriptor a socket).
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

    uint64_t droppedLines() const { return dropped_; }
    // Whether the output ended, and the reason ("Broken pipe").
    bool closed() const { return !closedReason_.empty(); }
    const std::string& closedReason() const { return closedReason_; }

  private:
    enum class Kind { socket, reopened, polled, plain };

    // Writes what it can of `bytes` without waiting; how many went, or -1 with errno set.
    long writeSome(std::string_view bytes);
    // Sends the held-back rest of a line; whether all of it went.
    bool flushPending();

    int descriptor_;
    Kind kind_ = Kind::plain;
    std::string pending_;
    uint64_t dropped_ = 0;
    std::string closedReason_;
};
