#include "transport/udp/QVOSCDispatcher.h"

#include <string>

#include "osc/QVOSCDecoder.h"
#include "transport/SystemLog.h"

void QVOSCDispatcher::dispatchRawPacket(std::shared_ptr<const QVOSCData> data) {
    const auto packet = data ? QVOSCDecoder::decodeData(*data) : nullptr;
    systemLog("DISPATCH: " + (packet ? packet->stringRepresentation() : std::string("(null)")));
}
