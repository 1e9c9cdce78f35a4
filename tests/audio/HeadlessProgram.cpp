#include "tests/audio/HeadlessProgram.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "osc/QVOSCAddress.h"
#include "osc/QVOSCArgument.h"
#include "osc/QVOSCMessage.h"
#include "tests/support/ChildProcess.h"

bool storeLevelSettings(uint16_t sendPort, const std::vector<std::string>& options,
                        uint16_t listenPort, const std::string& program) {
    const uint16_t listen = listenPort != 0 ? listenPort : freeUdpPort();
    const std::vector<std::string> settings{"zandorexSendPort=" + std::to_string(sendPort),
                                            "zandorexListenPort=" + std::to_string(listen),
                                            "active=true",
                                            "type=continuous",
                                            "minValue=0",
                                            "maxValue=10",
                                            "address=level"};
    for (const std::string& setting : settings) {
        std::vector<std::string> arguments{program};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.insert(arguments.end(), {"--set", setting});
        if (runProgram(arguments).status != 0) {
            return false;
        }
    }
    return true;
}

std::unique_ptr<ChildProcess> startHeadless(const std::vector<std::string>& settings) {
    for (const std::string& setting : settings) {
        if (runProgram({KESTRANO_PATH, "--set", setting}).status != 0) {
            std::fprintf(stderr, "kestrano --set refused %s\n", setting.c_str());
            return nullptr;
        }
    }
    return std::make_unique<ChildProcess>(std::vector<std::string>{KESTRANO_PATH, "--headless"});
}

QVOSCData remoteCommand(const std::string& address, const std::optional<std::string>& text) {
    QVOSCMessage message(QVOSCAddress::addressWithString(address));
    if (text) {
        message.attachArgument(QVOSCArgument::argumentWithString(*text));
    }
    return message.packetizedData();
}

std::optional<float> levelValue(const QVOSCData& datagram) {
    static constexpr unsigned char header[] = "/zandorex/level\0,f\0";  // and the final zero
    if (datagram.size() != 24 || std::memcmp(datagram.data(), header, 20) != 0) {
        return std::nullopt;
    }
    const uint32_t bits = uint32_t{datagram[20]} << 24 | uint32_t{datagram[21]} << 16 |
                          uint32_t{datagram[22]} << 8 | uint32_t{datagram[23]};
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

bool receiveSteadyTone(UdpReceiver& receiver, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int steady = 0;
    while (steady < 5 && std::chrono::steady_clock::now() < deadline) {
        const auto datagram = receiver.receive(std::chrono::milliseconds(500));
        const auto value = datagram ? levelValue(*datagram) : std::nullopt;
        steady = value && *value > 6.0f ? steady + 1 : 0;
    }
    return steady == 5;
}
