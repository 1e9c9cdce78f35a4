#include "tests/app/support/ControllerTestFixture.h"

#include <cstring>

#include "tests/app/support/AppTestEnvironment.h"

ControllerTest::ControllerTest() {
    clearStoredSettings();
}

QVOSCData ControllerTest::nextDatagram() {
    return receiver.receive(std::chrono::seconds(1)).value_or(QVOSCData());
}

bool ControllerTest::nothingSent() {
    return !receiver.receive(std::chrono::milliseconds(100));
}

QVOSCData levelDatagram(const std::string& addressText, float value) {
    QVOSCData bytes(addressText.begin(), addressText.end());
    do {
        bytes.push_back(0);
    } while (bytes.size() % 4 != 0);
    bytes.insert(bytes.end(), {',', 'f', 0, 0});
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    for (int shift = 24; shift >= 0; shift -= 8) {
        bytes.push_back(static_cast<uint8_t>(bits >> shift));
    }
    return bytes;
}
