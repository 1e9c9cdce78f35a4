#include <netdb.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCMessage.h"
#include "tools/CommandLine.h"
#include "tools/Commands.h"
#include "transport/EventLoop.h"
#include "transport/NetworkEndpointText.h"
#include "transport/tcp/StreamFraming.h"
#include "transport/tcp/TcpConnection.h"
#include "transport/udp/QVOSCSender.h"

namespace {

constexpr const char* sendUsage =
    "Usage: kestrano-osc send [--tcp | --tcp-length] HOST PORT ADDRESS [TYPE VALUE]...\n"
    "Sends one OSC message as one UDP datagram to HOST (a name or a dotted IPv4 address)\n"
    "on PORT (1-65535). ADDRESS begins with '/'. Each argument is a type letter and a value:\n"
    "  i  32-bit integer, decimal (-12)\n"
    "  f  32-bit float (2.5, -1e3)\n"
    "  s  text, printable ASCII\n"
    "  b  blob, as pairs of hexadecimal digits (00ff10; '' for an empty blob)\n"
    "With --tcp or --tcp-length it goes over a TCP connection instead, to a name or an IPv4\n"
    "or IPv6 address (IPv4 where a name has both); a peer that does not answer within 3 s\n"
    "counts as not sent:\n"
    "  --tcp         framed with SLIP (OSC 1.1): 0xC0 before and after the packet\n"
    "  --tcp-length  after its length as a big-endian 32-bit integer (OSC 1.0)\n"
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

// The address of `host` for a TCP connection: IPv4 where the name has one, since that is what
// the UDP sender uses, else IPv6.
std::optional<NetworkEndpoint> streamAddress(const std::string& host, int32_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (!isPrintableAscii(host) || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
        return std::nullopt;
    }
    const addrinfo* chosen = found;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET) {
            chosen = entry;
            break;
        }
    }
    NetworkEndpoint endpoint;
    std::memcpy(&endpoint.address, chosen->ai_addr, chosen->ai_addrlen);
    endpoint.length = chosen->ai_addrlen;
    freeaddrinfo(found);
    return endpointOnPort(endpoint, port);
}

int sendOverTcp(const std::string& host, int32_t port, const QVOSCMessage& message,
                StreamFraming framing) {
    const auto destination = streamAddress(host, port);
    if (!destination) {
        std::fprintf(stderr, "kestrano-osc: cannot send to host '%s'\n", host.c_str());
        return 1;
    }
    EventLoop loop;
    std::string failure;
    auto connection = TcpConnection::connectionToEndpoint(
        *destination, framing, loop, [&](const std::string& status) {
            if (status.find(" lost: ") != std::string::npos) {
                failure = status;
            }
        });
    if (!connection) {
        std::fprintf(stderr, "kestrano-osc: cannot send to host '%s'\n", host.c_str());
        return 1;
    }
    // As a trigger turn, it waits for the connection instead of being dropped.
    connection->send(message, TcpConnection::Kind::trigger);
    // The connection gives up an attempt that gets no answer by itself, well within this.
    loop.runUntil(
        [&] {
            return !failure.empty() ||
                   (connection->isConnected() && connection->bufferedBytes() == 0);
        },
        std::chrono::seconds(10));
    if (!failure.empty() || !connection->isConnected()) {
        std::fprintf(stderr, "kestrano-osc: %s\n",
                     failure.empty() ? connection->status().c_str() : failure.c_str());
        return 1;
    }
    // Closing now still delivers what the kernel has taken, before the end of the stream.
    return 0;
}

}  // namespace

int runSend(std::span<char* const> arguments) {
    constexpr std::string_view command = "send";
    if (asksForHelp(arguments)) {
        std::fputs(sendUsage, stdout);
        return 0;
    }
    std::optional<StreamFraming> framing;
    if (!arguments.empty() && std::string_view(arguments[0]) == "--tcp") {
        framing = StreamFraming::slip;
    } else if (!arguments.empty() && std::string_view(arguments[0]) == "--tcp-length") {
        framing = StreamFraming::lengthPrefix;
    }
    if (framing) {
        arguments = arguments.subspan(1);
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

    if (framing) {
        return sendOverTcp(host, *port, *message, *framing);
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
