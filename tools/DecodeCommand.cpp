#include <cstdio>
#include <string>

#include "osc/QVOSCDecoder.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"

namespace {

constexpr const char* decodeUsage =
    "Usage: kestrano-osc decode < HEX\n"
    "Reads one datagram as hexadecimal digits from standard input (blanks and line breaks\n"
    "are skipped) and prints the OSC packet it holds, or \"no packet\".\n"
    "Exit status: 0 a packet, 1 no packet, 2 bad input.\n";

// The largest UDP payload, as hexadecimal digits with room for blanks.
constexpr size_t longestInput = 4 * 65535;

}  // namespace

int runDecode(std::span<char* const> arguments) {
    constexpr std::string_view command = "decode";
    if (asksForHelp(arguments)) {
        std::fputs(decodeUsage, stdout);
        return 0;
    }
    if (!arguments.empty()) {
        return usageError(command, "decode takes no arguments; it reads standard input");
    }
    std::string input;
    char chunk[4096];
    size_t count;
    while ((count = std::fread(chunk, 1, sizeof(chunk), stdin)) > 0) {
        input.append(chunk, count);
        if (input.size() > longestInput) {
            return usageError(command, "the input is longer than one datagram");
        }
    }
    if (std::ferror(stdin)) {
        std::perror("kestrano-osc: standard input");
        return 1;
    }
    const auto datagram = parseHex(input, true);
    if (!datagram) {
        return usageError(command, "the input must be pairs of hexadecimal digits");
    }
    const auto packet = QVOSCDecoder::decodeData(*datagram);
    if (!packet) {
        writeLine("no packet");
        return 1;
    }
    return writeLine(packet->stringRepresentation()) ? 0 : 1;
}
