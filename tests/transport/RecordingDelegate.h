#pragma once

#include <memory>
#include <thread>
#include <vector>

#include "transport/udp/QVOSCDatagramDelegate.h"

// Keeps every datagram it is given, and whether each came on the thread that made it.
class RecordingDelegate : public QVOSCDatagramDelegate {
  public:
    void dispatchRawPacket(std::shared_ptr<const QVOSCData> data) override {
        allOnMainThread = allOnMainThread && std::this_thread::get_id() == mainThread;
        datagrams.push_back(std::move(data));
    }

    std::vector<std::shared_ptr<const QVOSCData>> datagrams;
    bool allOnMainThread = true;

  private:
    const std::thread::id mainThread = std::this_thread::get_id();
};
