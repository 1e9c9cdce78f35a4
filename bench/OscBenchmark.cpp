// Encoding and decoding the level message with this library, liblo and oscpack side by side.
// After the run it prints this library's time relative to the fastest peer on each task.

#include <benchmark/benchmark.h>
#include <lo/lo.h>
#include <oscpack/osc/OscOutboundPacketStream.h>
#include <oscpack/osc/OscReceivedElements.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "osc/QVOSCDecoder.h"

namespace {

constexpr const char* kAddress = "/zandorex/level";
constexpr float kLevel = 10.0f;

// The 24 bytes of the level message, as every library here writes them.
const QVOSCData kLevelBytes = [] {
    auto message = QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString(kAddress));
    message->attachArgument(QVOSCArgument::argumentWithFloat(kLevel));
    return message->packetizedData();
}();

void encodeKestrano(benchmark::State& state) {
    for (auto _ : state) {
        auto message =
            QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString(kAddress));
        message->attachArgument(QVOSCArgument::argumentWithFloat(kLevel));
        QVOSCData bytes = message->packetizedData();
        benchmark::DoNotOptimize(bytes.data());
    }
}

void encodeOscpack(benchmark::State& state) {
    char buffer[64];
    for (auto _ : state) {
        osc::OutboundPacketStream stream(buffer, sizeof buffer);
        stream << osc::BeginMessage(kAddress) << kLevel << osc::EndMessage;
        benchmark::DoNotOptimize(stream.Data());
        benchmark::ClobberMemory();
    }
}

void encodeLiblo(benchmark::State& state) {
    char buffer[64];
    for (auto _ : state) {
        lo_message message = lo_message_new();
        lo_message_add_float(message, kLevel);
        size_t size = 0;
        lo_message_serialise(message, kAddress, buffer, &size);
        lo_message_free(message);
        benchmark::DoNotOptimize(buffer);
        benchmark::ClobberMemory();
    }
}

void decodeKestrano(benchmark::State& state) {
    for (auto _ : state) {
        std::shared_ptr<QVOSCPacket> packet = QVOSCDecoder::decodeData(kLevelBytes);
        const auto& argument = static_cast<const QVOSCArgument&>(*packet->attachedObjects()[0]);
        benchmark::DoNotOptimize(argument.floatValue());
    }
}

void decodeLiblo(benchmark::State& state) {
    QVOSCData bytes = kLevelBytes;
    for (auto _ : state) {
        int result = 0;
        lo_message message = lo_message_deserialise(bytes.data(), bytes.size(), &result);
        float value;
        std::memcpy(&value, lo_message_get_argv(message)[0], sizeof value);
        benchmark::DoNotOptimize(value);
        lo_message_free(message);
    }
}

void decodeOscpack(benchmark::State& state) {
    for (auto _ : state) {
        osc::ReceivedPacket packet(reinterpret_cast<const char*>(kLevelBytes.data()),
                                   static_cast<osc::osc_bundle_element_size_t>(kLevelBytes.size()));
        osc::ReceivedMessage message(packet);
        benchmark::DoNotOptimize(message.ArgumentsBegin()->AsFloat());
    }
}

BENCHMARK(encodeKestrano);
BENCHMARK(encodeOscpack);
BENCHMARK(encodeLiblo);
BENCHMARK(decodeKestrano);
BENCHMARK(decodeLiblo);
BENCHMARK(decodeOscpack);

// Prints as usual and keeps each benchmark's CPU time per iteration for the ratios (CPU time,
// because other processes on a shared machine stretch the wall-clock time). With repetitions,
// the median is kept.
class CollectingReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!run.error_occurred && (single || median)) {
                nanoseconds[run.run_name.function_name] = run.GetAdjustedCPUTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> nanoseconds;
};

void printRatio(const CollectingReporter& reporter, const char* task, const char* ours,
                const char* peer, const char* peerName, double target) {
    double ratio = reporter.nanoseconds.at(ours) / reporter.nanoseconds.at(peer);
    std::printf("%s ratio vs %s: %.2f (target at most %.1f: %s)\n", task, peerName, ratio, target,
                ratio <= target ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    if (reporter.nanoseconds.count("encodeKestrano") &&
        reporter.nanoseconds.count("encodeOscpack")) {
        printRatio(reporter, "encode", "encodeKestrano", "encodeOscpack", "oscpack", 1.0);
    }
    if (reporter.nanoseconds.count("decodeKestrano") && reporter.nanoseconds.count("decodeLiblo")) {
        printRatio(reporter, "decode", "decodeKestrano", "decodeLiblo", "liblo", 0.5);
    }
    return 0;
}
