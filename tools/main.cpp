#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "tools/CommandLine.h"
#include "tools/Commands.h"

namespace {

constexpr const char* toolUsage =
    "Usage: kestrano-osc COMMAND [ARGUMENTS]...\n"
    "Sends, receives and decodes OSC over UDP or TCP, to check a show network.\n"
    "  send [--tcp | --tcp-length] HOST PORT ADDRESS [TYPE VALUE]...\n"
    "                                           send one message\n"
    "  dump [--tcp] PORT                        print the packets arriving on a port\n"
    "  decode                                   decode one datagram given as hex on stdin\n"
    "'kestrano-osc COMMAND --help' tells more about each.\n";

}  // namespace

int main(int argc, char* argv[]) {
    const std::span<char* const> all(argv, static_cast<size_t>(argc));
    if (all.size() < 2) {
        return usageError("", "no command given");
    }
    const auto rest = all.subspan(2);
    const std::string_view command = all[1];
    if (command == "send") {
        return runSend(rest);
    }
    if (command == "dump") {
        return runDump(rest);
    }
    if (command == "decode") {
        return runDecode(rest);
    }
    if (command == "--help" || command == "-h") {
        std::fputs(toolUsage, stdout);
        return 0;
    }
    return usageError("", "unknown command '" + std::string(command) + "'");
}
