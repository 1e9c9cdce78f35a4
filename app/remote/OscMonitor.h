#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "osc/QVOSCTypes.h"
#include "transport/NetworkEndpoint.h"

// One datagram the program received or sent.
struct MonitorEntry {
    enum class Direction { in, out };

    std::chrono::system_clock::time_point time;
    Direction direction = Direction::in;
    NetworkEndpoint peer;  // the source of what came in, the destination of what went out
    // The datagram's text, made once when it is recorded: the entry keeps no bytes, so that 500
    // large datagrams cost no more than 500 short lines.
    std::string text;
    // How many datagrams just before this one were left out of the monitor.
    uint64_t leftOutBefore = 0;
};

// The packet's text form on one line, every byte that is not printable ASCII escaped ("\x1b"), or
// its bytes in hexadecimal when they do not decode; a long text is cut short. The line is thus
// safe on a terminal whatever a peer sent.
std::string monitorText(const QVOSCData& bytes);
// "12:04:31.250 in  192.168.1.20:53000 MESSAGE: address:/kestrano/get types:,"
std::string monitorLine(const MonitorEntry& entry);
// "(1234 messages not listed: too many at once)"
std::string leftOutLine(uint64_t count);

// The last datagrams in and out, for the window and for `--headless --monitor`. Keeps at most
// `capacity` entries and takes at most `entriesPerSecond`, so that a flood costs neither memory
// nor time: what is left out is counted and said. Main thread only.
class OscMonitor {
  public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    static constexpr size_t capacity = 500;
    static constexpr uint64_t entriesPerSecond = 200;

    explicit OscMonitor(Clock clock = std::chrono::system_clock::now) : clock_(std::move(clock)) {}

    void record(MonitorEntry::Direction direction, const NetworkEndpoint& peer,
                std::shared_ptr<const QVOSCData> bytes);
    void clear();
    // Off, datagrams are neither kept nor counted: a headless run without --monitor has nobody
    // to show them to, and rendering each tick's message would cost it CPU for nothing.
    void setRecording(bool recording) { recording_ = recording; }

    const std::deque<MonitorEntry>& entries() const { return entries_; }
    // Every datagram left out so far.
    uint64_t leftOutCount() const { return leftOutCount_; }
    // Grows with every change, so that a view redraws only when there is something new.
    uint64_t revision() const { return revision_; }
    // Told of each entry as it is kept; nullptr for nobody.
    void setEntryHandler(std::function<void(const MonitorEntry&)> handler) {
        entryHandler_ = std::move(handler);
    }

  private:
    Clock clock_;
    bool recording_ = true;
    std::deque<MonitorEntry> entries_;
    std::chrono::system_clock::time_point secondStart_;
    uint64_t keptThisSecond_ = 0;
    uint64_t leftOutPending_ = 0;
    uint64_t leftOutCount_ = 0;
    uint64_t revision_ = 0;
    std::function<void(const MonitorEntry&)> entryHandler_;
};
