#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCMessage.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"
#include "transport/EventLoop.h"
#include "transport/QVOSCSender.h"

namespace {

constexpr const char* sendUsage =
    "Usage: kestrano-osc send HOST PORT ADDRESS [TYPE VALUE]...\n"
    "Sends one OSC message as one UDP datagram to HOST (a name or a dotted IPv4 address)\n"
    "on PORT (1-65535). ADDRESS begins with '/'. Each argument is a type letter and a value:\n"
    "  i  32-bit integer, decimal (-12)\n"
    "  f  32-bit float (2.5, -1e3)\n"
    "  s  text, printable ASCII\n"
    "  b  blob, as pairs of hexadecimal digits (00ff10; '' for an empty blob)\n"
    "Exit status: 0 sent, 1 host not found or not sent, 2 bad arguments.\n";

// The argument for one TYPE VALUE pair, or nothing when the value does not fit the type.
std::shared_ptr<QVOSCArgument> argumentFromText(std::string_view type, std::string_view value) {
    if (type == "i") {
        const auto number = parseInt32(value);
        return number ? QVOSCArgument::argumentWithInt(*number) : nullptr;
    }
    if (type == "f") {
        const auto number = parseFloat(value);
        return number ? QVOSCArgument::argumentWithFloat(*number) : nullptr;
    }
    if (type == "s") {
        return isPrintableAscii(value) ? QVOSCArgument::argumentWithString(value) : nullptr;
    }
    if (type == "b") {
        const auto blob = parseHex(value, false);
        return blob ? QVOSCArgument::argumentWithDataBlob(QVOSCBytes(*blob)) : nullptr;
    }
    return nullptr;
}

}  // namespace

int runSend(std::span<char* const> arguments) {
    constexpr std::string_view command = "send";
    if (asksForHelp(arguments)) {
        std::fputs(sendUsage, stdout);
        return 0;
    }
    if (arguments.size() < 3) {
        return usageError(command, "send needs HOST, PORT and ADDRESS");
    }
    if ((arguments.size() - 3) % 2 != 0) {
        return usageError(command, "each argument needs a TYPE and a VALUE");
    }
    const std::string host = arguments[0];
    const auto port = parsePort(arguments[1], 1);
    if (!port) {
        return usageError(command, "PORT must be a number from 1 to 65535");
    }
    const std::string_view address = arguments[2];
    if (!address.starts_with('/') || !isPrintableAscii(address)) {
        return usageError(command, "ADDRESS must begin with '/' and be printable ASCII");
    }

    auto message = QVOSCMessage::messageWithQVOSCAddress(QVOSCAddress::addressWithString(address));
    for (size_t i = 3; i < arguments.size(); i += 2) {
        const std::string_view type = arguments[i];
        const std::string_view value = arguments[i + 1];
        auto argument = argumentFromText(type, value);
        if (!argument) {
            return usageError(command, "argument " + std::to_string((i - 1) / 2) + " ('" +
                                           std::string(type) +
                                           "') is not a valid i, f, s or b value");
        }
        message->attachArgument(std::move(argument));
    }

    EventLoop loop;  // the sender's flush timer needs a loop; nothing is gathered here
    const auto sender = QVOSCSender::senderWithDestinationHostName(host, *port, loop);
    if (!sender) {
        std::fprintf(stderr, "kestrano-osc: cannot send to host '%s'\n", host.c_str());
        return 1;
    }
    if (!sender->sendOSCPacket(*message)) {
        std::perror("kestrano-osc: sendto");
        return 1;
    }
    return 0;
}
