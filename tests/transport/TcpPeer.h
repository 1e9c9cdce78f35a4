#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "osc/QVOSCTypes.h"
#include "transport/NetworkEndpoint.h"
#include "transport/tcp/StreamFraming.h"

// A show-control peer for the tests: a TCP server on a loopback address that takes one
// connection at a time and cuts what arrives on it into packets. It never blocks; step() does
// whatever is ready, so that a test drives it from the same loop as the connection under test.
class TcpPeer {
  public:
    // On `port`, or one the system picks when 0. A receive buffer, when given, is set before
    // listening so that the connections it accepts take it.
    TcpPeer(const std::string& localAddress, uint16_t port, StreamFraming framing,
            int receiveBuffer = 0);
    ~TcpPeer();
    TcpPeer(const TcpPeer&) = delete;
    TcpPeer& operator=(const TcpPeer&) = delete;

    uint16_t port() const { return port_; }
    const NetworkEndpoint& endpoint() const { return endpoint_; }

    // Accepts a waiting connection (closing the one before) and, while reading, reads what has
    // arrived. Answers whether a connection is open.
    bool step();
    void setReading(bool reading) { reading_ = reading; }
    // Writes all of `bytes` to the open connection; false when there is none or it fails.
    bool sendBytes(QVOSCBytes bytes);

    int acceptedCount() const { return acceptedCount_; }
    // The packets that arrived, over every connection, in order.
    const std::vector<QVOSCData>& packets() const { return packets_; }

  private:
    void closeConnection();

    int listener_ = -1;
    int connection_ = -1;
    uint16_t port_ = 0;
    NetworkEndpoint endpoint_;
    StreamFraming framing_;
    StreamDeframer deframer_;
    bool reading_ = true;
    int acceptedCount_ = 0;
    std::vector<QVOSCData> packets_;
};
