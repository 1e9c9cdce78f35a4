// Plays tone bursts into a sound server sink and times the OSC level messages that answer them:
//   kestrano_audio_latency_probe [--trigger] [--tcp] [--observe=SOURCE] [--parec] PORT_FILE SINK
//                                BURSTS [PEAK_DBFS...]
// Binds a UDP port on 127.0.0.1 (with --tcp, listens on a TCP port there instead, taking one
// connection at a time in either framing) and writes it to PORT_FILE, followed by another port
// that was free a moment ago (for the program's listen port); waits until level messages arrive,
// then, for each tone level (default -6 dBFS peak), plays BURSTS bursts of a 1 kHz sine (400 ms
// each, after 600 to 1000 ms of silence) into SINK and prints, per burst, the time from the tone
// reaching the sink to the first message whose value crosses halfway between the silent and the
// steady value; then the median and the maximum. With --trigger the program is in trigger mode
// from 0 to 10: it sends only when the trigger turns on (10) or off (0), so the probe waits for a
// first message by playing tone bursts, and times the messages of 10; then it plays one steady
// tone of 5 s and counts the turns it gets (wanted: one on, one off after the tone stops). With
// --observe, a reader of SOURCE (the one the program reads) in fragments of 2 ms judges the last
// 5 ms as each fragment arrives, against the trigger's default on threshold, as the program's fast
// trigger does; per burst, the probe prints the trigger's time minus the observer's. With --parec,
// the observer is the one a user would reach for: `parec --latency-msec=2` reading SOURCE, whose
// raw frames the probe reads from a pipe as they come.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/audio/level/LevelFigures.h"
#include "app/shaping/LevelPosition.h"
#include "app/shaping/TriggerGate.h"
#include "transport/tcp/StreamFraming.h"

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::duration<double, std::milli>;

constexpr unsigned kRate = 48000;
constexpr unsigned kChannels = 2;
constexpr std::size_t kChunkFrames = 120;  // 2.5 ms: the resolution of the onset
constexpr auto kToneLength = std::chrono::milliseconds(400);
constexpr auto kSteadyToneLength = std::chrono::seconds(5);
// How much earlier than estimated a tone may reach the sink.
constexpr auto kOnsetSlack = std::chrono::milliseconds(200);

struct Reading {
    Clock::time_point arrival;
    float value;
};

// Every OSC message that arrives, with the time it arrived; the value is its last four bytes
// (a message with one float argument ends with it). Over TCP the time is that of the read that
// completed the packet.
class Receiver {
  public:
    bool open(bool tcp) {
        tcp_ = tcp;
        socket_ = ::socket(AF_INET, tcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            (tcp && listen(socket_, 4) != 0) ||
            getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return false;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { tcp_ ? receiveStreams() : receiveDatagrams(); });
        return true;
    }
    ~Receiver() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        for (const int descriptor : {connection_, socket_}) {
            if (descriptor >= 0) {
                close(descriptor);
            }
        }
    }
    uint16_t port() const { return port_; }
    std::vector<Reading> readings() {
        std::lock_guard lock(mutex_);
        return readings_;
    }

  private:
    void record(const unsigned char* packet, std::size_t size, Clock::time_point arrival) {
        if (size < 4) {
            return;
        }
        uint32_t bits;
        std::memcpy(&bits, packet + size - 4, 4);
        bits = ntohl(bits);
        float value;
        std::memcpy(&value, &bits, 4);
        std::lock_guard lock(mutex_);
        readings_.push_back({arrival, value});
    }

    void receiveDatagrams() {
        unsigned char buffer[1500];
        while (!stop_) {
            pollfd watched{socket_, POLLIN, 0};
            if (poll(&watched, 1, 50) <= 0) {
                continue;
            }
            const ssize_t size = recv(socket_, buffer, sizeof(buffer), 0);
            if (size > 0) {
                record(buffer, static_cast<std::size_t>(size), Clock::now());
            }
        }
    }

    // One connection at a time: a new one (the program reconnecting) replaces the last.
    void receiveStreams() {
        unsigned char buffer[4096];
        StreamDeframer deframer(std::nullopt);
        while (!stop_) {
            pollfd watched[2] = {{socket_, POLLIN, 0}, {connection_, POLLIN, 0}};
            if (poll(watched, connection_ >= 0 ? 2 : 1, 50) <= 0) {
                continue;
            }
            if (watched[0].revents != 0) {
                if (connection_ >= 0) {
                    close(connection_);
                }
                connection_ = accept(socket_, nullptr, nullptr);
                deframer = StreamDeframer(std::nullopt);
                continue;
            }
            const ssize_t size = recv(connection_, buffer, sizeof(buffer), 0);
            const auto arrival = Clock::now();
            if (size <= 0) {
                close(connection_);
                connection_ = -1;
                continue;
            }
            deframer.feed(
                QVOSCBytes(buffer, static_cast<std::size_t>(size)),
                [&](QVOSCBytes packet) { record(packet.data(), packet.size(), arrival); });
        }
    }

    bool tcp_ = false;
    int socket_ = -1;
    int connection_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Reading> readings_;
};

uint16_t freeUdpPort() {
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    const bool bound = probe >= 0 &&
                       bind(probe, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                       getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (probe >= 0) {
        close(probe);
    }
    return bound ? ntohs(address.sin_port) : 0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? NAN : values[values.size() / 2];
}

// Median of the values that arrived within [from, to).
double medianValue(const std::vector<Reading>& readings, Clock::time_point from,
                   Clock::time_point to) {
    std::vector<double> values;
    for (const Reading& reading : readings) {
        if (reading.arrival >= from && reading.arrival < to) {
            values.push_back(reading.value);
        }
    }
    return median(values);
}

// Plays silence and tone bursts with as little buffering as the server allows, so that the
// moment a tone reaches the sink is known to a few milliseconds; or, with a longer buffer, a tone
// that a busy machine cannot break up.
class BurstPlayer {
  public:
    explicit BurstPlayer(const char* sink, pa_usec_t buffered = 10'000) {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, kRate, kChannels};
        pa_buffer_attr buffer{};
        buffer.maxlength = static_cast<uint32_t>(-1);
        buffer.tlength = static_cast<uint32_t>(pa_usec_to_bytes(buffered, &format));
        buffer.prebuf = static_cast<uint32_t>(-1);
        buffer.minreq = static_cast<uint32_t>(pa_usec_to_bytes(2'500, &format));
        buffer.fragsize = static_cast<uint32_t>(-1);
        int error = 0;
        stream_ = pa_simple_new(nullptr, "Kestrano latency probe", PA_STREAM_PLAYBACK, sink,
                                "Tone bursts", &format, nullptr, &buffer, &error);
        if (stream_ == nullptr) {
            std::fprintf(stderr, "cannot play into %s: %s\n", sink, pa_strerror(error));
        }
    }
    ~BurstPlayer() {
        if (stream_ != nullptr) {
            pa_simple_free(stream_);
        }
    }
    bool ready() const { return stream_ != nullptr; }

    // Plays `length` of a sine with peak `amplitude` (0 for silence).
    bool play(std::chrono::milliseconds length, double amplitude) {
        std::vector<float> chunk(kChunkFrames * kChannels);
        const std::size_t chunks =
            static_cast<std::size_t>(length.count()) * kRate / 1000 / kChunkFrames;
        for (std::size_t index = 0; index < chunks; ++index) {
            for (std::size_t frame = 0; frame < kChunkFrames; ++frame) {
                const double phase =
                    2.0 * std::numbers::pi * 1000.0 * static_cast<double>(frame_++) / kRate;
                const auto sample = static_cast<float>(amplitude * std::sin(phase));
                std::fill_n(chunk.begin() + static_cast<std::ptrdiff_t>(frame * kChannels),
                            kChannels, sample);
            }
            int error = 0;
            if (pa_simple_write(stream_, chunk.data(), chunk.size() * sizeof(float), &error) < 0) {
                std::fprintf(stderr, "playback failed: %s\n", pa_strerror(error));
                return false;
            }
        }
        return true;
    }

    // When the next sample written will reach the sink.
    Clock::time_point nextSampleReachesSink() {
        int error = 0;
        const pa_usec_t latency = pa_simple_get_latency(stream_, &error);
        return Clock::now() + std::chrono::microseconds(latency);
    }

  private:
    pa_simple* stream_ = nullptr;
    uint64_t frame_ = 0;
};

// Reads a source in fragments of 2 ms and notes each time the level of the last 5 ms reaches the
// trigger's default on threshold from below: the program's fast trigger judges the same window
// against the same threshold, with the program's own figures, so what the trigger adds to this
// reader's time is the program's own delay. The frames are taken a quarter of a millisecond at a
// time, each judged as it is taken: a fragment the server made a little shorter than asked would
// leave a whole read waiting for the next fragment, a fragment's time late.
class SourceObserver {
  public:
    bool openParec(const char* source) {
        int pipeEnds[2];
        if (pipe(pipeEnds) != 0) {
            std::perror("pipe");
            return false;
        }
        parec_ = fork();
        if (parec_ == 0) {
            dup2(pipeEnds[1], STDOUT_FILENO);
            close(pipeEnds[0]);
            close(pipeEnds[1]);
            const std::string device = std::string("--device=") + source;
            execlp("parec", "parec", "--latency-msec=2", "--raw", "--format=float32le",
                   "--rate=48000", "--channels=2", device.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeEnds[1]);
        pipe_ = pipeEnds[0];
        if (parec_ < 0) {
            std::perror("fork");
            return false;
        }
        thread_ = std::thread([this] { observe(); });
        return true;
    }
    bool open(const char* source) {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, kRate, kChannels};
        pa_buffer_attr buffer{};
        buffer.maxlength = static_cast<uint32_t>(-1);
        buffer.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(2'000, &format));
        int error = 0;
        stream_ = pa_simple_new(nullptr, "Kestrano latency observer", PA_STREAM_RECORD, source,
                                "Observer", &format, nullptr, &buffer, &error);
        if (stream_ == nullptr) {
            std::fprintf(stderr, "cannot read %s: %s\n", source, pa_strerror(error));
            return false;
        }
        thread_ = std::thread([this] { observe(); });
        return true;
    }
    ~SourceObserver() {
        stop_ = true;
        if (parec_ > 0) {
            kill(parec_, SIGTERM);
            waitpid(parec_, nullptr, 0);
        }
        if (thread_.joinable()) {
            thread_.join();
        }
        if (stream_ != nullptr) {
            pa_simple_free(stream_);
        }
    }
    std::vector<Clock::time_point> risings() {
        std::lock_guard lock(mutex_);
        return risings_;
    }
    std::size_t risingsBetween(Clock::time_point from, Clock::time_point to) {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(
            std::count_if(risings_.begin(), risings_.end(),
                          [&](auto time) { return time >= from && time < to; }));
    }

  private:
    static constexpr std::size_t kReadFrames = kRate / 4000;
    static constexpr std::size_t kWindowFrames = kRate * 5 / 1000;

    void observe() {
        std::vector<float> fragment(kReadFrames * kChannels);
        std::vector<float> window(kWindowFrames * kChannels, 0.0f);
        std::size_t next = 0;
        bool over = false;
        const float onThreshold = TriggerSettings{}.onThreshold;
        while (!stop_) {
            if (!readFragment(fragment)) {
                return;
            }
            const auto arrival = Clock::now();
            for (std::size_t frame = 0; frame < kReadFrames; ++frame) {
                std::copy_n(fragment.begin() + static_cast<std::ptrdiff_t>(frame * kChannels),
                            kChannels,
                            window.begin() + static_cast<std::ptrdiff_t>(next * kChannels));
                next = (next + 1) % kWindowFrames;
            }
            const FragmentLevel level =
                fragmentLevel(window.data(), kWindowFrames, kChannels, (1u << kChannels) - 1);
            const bool nowOver =
                positionForMeter(meterForLevel(level.averagePower, 1.0f)) >= onThreshold;
            if (nowOver && !over) {
                std::lock_guard lock(mutex_);
                risings_.push_back(arrival);
            }
            over = nowOver;
        }
    }

    // Fills `fragment` from the stream or from parec's pipe; false when the reading ended.
    bool readFragment(std::vector<float>& fragment) {
        auto* bytes = reinterpret_cast<char*>(fragment.data());
        std::size_t wanted = fragment.size() * sizeof(float);
        if (pipe_ < 0) {
            int error = 0;
            if (pa_simple_read(stream_, bytes, wanted, &error) < 0) {
                std::fprintf(stderr, "observer's reading failed: %s\n", pa_strerror(error));
                return false;
            }
            return true;
        }
        while (wanted > 0) {
            const ssize_t got = read(pipe_, bytes, wanted);
            if (got <= 0) {
                return false;
            }
            bytes += got;
            wanted -= static_cast<std::size_t>(got);
        }
        return true;
    }

    pa_simple* stream_ = nullptr;
    pid_t parec_ = -1;
    int pipe_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<Clock::time_point> risings_;
};

// The values of a trigger from 0 to 10.
constexpr double kTriggerOff = 0.0;
constexpr double kTriggerOn = 10.0;

// The turns a trigger sent within [from, to).
struct Turns {
    int ons = 0;
    int offs = 0;
    bool clean() const { return ons == 1 && offs == 1; }
};

Turns turnsBetween(const std::vector<Reading>& readings, Clock::time_point from,
                   Clock::time_point to) {
    Turns turns;
    for (const Reading& reading : readings) {
        if (reading.arrival >= from && reading.arrival < to) {
            turns.ons += reading.value == kTriggerOn ? 1 : 0;
            turns.offs += reading.value == kTriggerOff ? 1 : 0;
        }
    }
    return turns;
}

// Plays one steady tone at `amplitude` into `sink` through a stream of its own with half a second
// buffered, so that a busy machine leaves no gap in it, then a second of silence; prints the
// turns the trigger sent for it, and how often the observer (when there is one) saw the level
// rise. False when the turns are not one on and one off, or the playing failed.
bool countSteadyTone(const char* sink, Receiver& receiver, SourceObserver* observer,
                     double amplitude) {
    BurstPlayer player(sink, 500'000);
    const auto onset = player.nextSampleReachesSink();
    if (!player.ready() ||
        !player.play(std::chrono::duration_cast<std::chrono::milliseconds>(kSteadyToneLength),
                     amplitude) ||
        !player.play(std::chrono::milliseconds(1500), 0.0)) {
        return false;
    }
    const auto end = Clock::now();
    const Turns turns = turnsBetween(receiver.readings(), onset, end);
    std::printf("steady tone of %lld s: %d on, %d off (wanted 1 and 1)",
                static_cast<long long>(kSteadyToneLength.count()), turns.ons, turns.offs);
    if (observer != nullptr) {
        std::printf("; the observer saw the level rise %zu times",
                    observer->risingsBetween(onset, end));
    }
    std::printf("\n");
    return turns.clean();
}

double maximum(const std::vector<double>& values) {
    return values.empty() ? NAN : *std::max_element(values.begin(), values.end());
}

// Per burst with both, the time of its answer minus the time the observer saw the level rise
// within the burst (or up to kOnsetSlack before its estimated onset).
void compareWithObserver(const std::vector<Clock::time_point>& onsets,
                         const std::vector<std::optional<Clock::time_point>>& answers,
                         const std::vector<Clock::time_point>& risings) {
    std::vector<double> differences;
    for (std::size_t burst = 0; burst < onsets.size(); ++burst) {
        const auto rising = std::find_if(risings.begin(), risings.end(), [&](auto time) {
            return time >= onsets[burst] - kOnsetSlack && time < onsets[burst] + kToneLength;
        });
        if (answers[burst] && rising != risings.end()) {
            differences.push_back(Milliseconds(*answers[burst] - *rising).count());
        }
    }
    std::printf("answer minus observer per burst (ms):");
    for (double difference : differences) {
        std::printf(" %.1f", difference);
    }
    const double middle = median(differences);
    std::printf(
        "\nanswer minus observer over %zu bursts: median %.2f ms, max %.2f ms; median "
        "within 1 ms: %s\n",
        differences.size(), middle, maximum(differences), middle <= 1.0 ? "yes" : "NO");
}

// Plays the bursts at `amplitude`, prints the figures and returns how many bursts got no answer.
std::optional<int> measureBursts(BurstPlayer& player, Receiver& receiver, std::mt19937& random,
                                 int bursts, double amplitude, bool trigger,
                                 SourceObserver* observer) {
    std::uniform_int_distribution<int> silenceLength(600, 1000);
    std::vector<Clock::time_point> onsets;
    for (int burst = 0; burst < bursts; ++burst) {
        if (!player.play(std::chrono::milliseconds(silenceLength(random)), 0.0)) {
            return std::nullopt;
        }
        onsets.push_back(player.nextSampleReachesSink());
        if (!player.play(kToneLength, amplitude)) {
            return std::nullopt;
        }
    }
    if (!player.play(std::chrono::milliseconds(600), 0.0)) {
        return std::nullopt;
    }
    const auto readings = receiver.readings();

    std::vector<double> steadyValues, silentValues;
    for (const auto onset : onsets) {
        steadyValues.push_back(medianValue(readings, onset + kToneLength / 2, onset + kToneLength));
        silentValues.push_back(medianValue(readings, onset - std::chrono::milliseconds(400),
                                           onset - std::chrono::milliseconds(100)));
    }
    // A trigger sends nothing while it stays on or off: its values are known beforehand.
    const double steady = trigger ? kTriggerOn : median(steadyValues);
    const double silent = trigger ? kTriggerOff : median(silentValues);
    const double midpoint = (steady + silent) / 2.0;

    std::vector<double> latencies;
    std::vector<std::optional<Clock::time_point>> answers;
    int missed = 0;
    for (const auto onset : onsets) {
        const auto crossing = std::find_if(readings.begin(), readings.end(), [&](const Reading& r) {
            return r.arrival >= onset && r.arrival < onset + kToneLength && r.value >= midpoint;
        });
        if (crossing == readings.end()) {
            ++missed;
            answers.emplace_back();
        } else {
            latencies.push_back(Milliseconds(crossing->arrival - onset).count());
            answers.emplace_back(crossing->arrival);
        }
    }
    std::printf("silent value %.3f, steady value %.3f, midpoint %.3f\n", silent, steady, midpoint);
    std::printf("latency per burst (ms):");
    for (double latency : latencies) {
        std::printf(" %.1f", latency);
    }
    std::printf("\nbursts %zu (missed %d): median %.1f ms, max %.1f ms\n", latencies.size(), missed,
                median(latencies), maximum(latencies));
    if (observer != nullptr) {
        compareWithObserver(onsets, answers, observer->risings());
    }
    if (trigger) {
        // A steady burst should turn the trigger on once and off once, never chatter. A burst a
        // busy machine broke up (the player's buffer ran dry) reaches the observer broken up too,
        // and a fast trigger rightly follows it: the figure that matters is of whole bursts.
        int clean = 0;
        int whole = 0;
        int cleanWhole = 0;
        for (std::size_t burst = 0; burst < onsets.size(); ++burst) {
            const Clock::time_point from = onsets[burst] - kOnsetSlack;
            const Clock::time_point end = burst + 1 < onsets.size()
                                              ? onsets[burst + 1] - kOnsetSlack
                                              : Clock::time_point::max();
            const bool turnedOnce = turnsBetween(readings, from, end).clean();
            const bool seenWhole = observer != nullptr && observer->risingsBetween(from, end) == 1;
            clean += turnedOnce ? 1 : 0;
            whole += seenWhole ? 1 : 0;
            cleanWhole += turnedOnce && seenWhole ? 1 : 0;
        }
        std::printf("bursts with exactly one on and one off: %d of %zu", clean, onsets.size());
        if (observer != nullptr) {
            std::printf("; of the %d the observer saw whole: %d", whole, cleanWhole);
        }
        std::printf("\n");
        missed +=
            observer != nullptr ? whole - cleanWhole : static_cast<int>(onsets.size()) - clean;
    }
    return missed;
}

}  // namespace

int main(int argc, char** argv) {
    const char* program = argv[0];
    bool trigger = false;
    bool tcp = false;
    std::string observedSource;
    bool parec = false;
    const std::string observe = "--observe=";
    for (; argc > 1 && std::string(argv[1]).starts_with("--"); --argc, ++argv) {
        const std::string option = argv[1];
        if (option == "--trigger" || option == "--tcp" || option == "--parec") {
            (option == "--trigger" ? trigger : option == "--tcp" ? tcp : parec) = true;
        } else if (option.starts_with(observe) && option.size() > observe.size()) {
            observedSource = option.substr(observe.size());
        } else {
            argc = 0;
        }
    }
    if (argc < 4) {
        std::fprintf(stderr,
                     "usage: %s [--trigger] [--tcp] [--observe=SOURCE] [--parec] PORT_FILE SINK "
                     "BURSTS [PEAK_DBFS...]\n",
                     program);
        return 2;
    }
    const int bursts = std::atoi(argv[3]);
    Receiver receiver;
    if (!receiver.open(tcp)) {
        std::perror("socket");
        return 1;
    }
    std::ofstream(argv[1]) << receiver.port() << ' ' << freeUdpPort() << '\n';

    BurstPlayer player(argv[2]);
    if (!player.ready()) {
        return 1;
    }
    SourceObserver observer;
    if (!observedSource.empty() && !(parec ? observer.openParec(observedSource.c_str())
                                           : observer.open(observedSource.c_str()))) {
        return 1;
    }
    // Until the program has been answering for a while, so that its start-up is over: silence
    // for a level that is sent on every tick, bursts for a trigger that must turn on and off.
    const auto waitStart = Clock::now();
    while (receiver.readings().size() < (trigger ? 4u : 40u)) {
        if (Clock::now() - waitStart > std::chrono::seconds(20)) {
            std::fprintf(stderr, "no level messages arrived on port %u\n", receiver.port());
            return 1;
        }
        player.play(std::chrono::milliseconds(trigger ? 300 : 50), trigger ? 0.5 : 0.0);
        if (trigger) {
            player.play(std::chrono::milliseconds(300), 0.0);
        }
    }

    std::mt19937 random(12345);
    int missed = 0;
    std::vector<std::string> levels(argv + 4, argv + argc);
    if (levels.empty()) {
        levels.emplace_back("-6");
    }
    const auto amplitudeOf = [](const std::string& level) {
        return std::pow(10.0, std::atof(level.c_str()) / 20.0);
    };
    for (const std::string& level : levels) {
        std::printf("tone at %s dBFS peak: ", level.c_str());
        const double amplitude = amplitudeOf(level);
        const auto result = measureBursts(player, receiver, random, bursts, amplitude, trigger,
                                          observedSource.empty() ? nullptr : &observer);
        if (!result) {
            return 1;
        }
        missed += *result;
    }
    if (trigger && !countSteadyTone(argv[2], receiver, observedSource.empty() ? nullptr : &observer,
                                    amplitudeOf(levels.front()))) {
        ++missed;
    }
    return missed == 0 ? 0 : 1;
}
