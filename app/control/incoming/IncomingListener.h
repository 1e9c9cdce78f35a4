#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "app/control/ControllerObserver.h"
#include "app/control/Destination.h"
#include "app/remote/RemoteControl.h"
#include "app/settings/SettingsModel.h"
#include "osc/QVOSCPacket.h"
#include "transport/MainLoop.h"
#include "transport/NetworkEndpoint.h"
#include "transport/udp/QVOSCDatagramDelegate.h"
#include "transport/udp/QVOSCListener.h"

// The listener Zandorex's datagrams arrive on, on the listen address and port of the settings,
// and the once-a-second report of what was dropped or refused on the way in and out. Everything
// runs on the main thread.
class IncomingListener {
  public:
    // `status` receives why nothing listens and the counts of the report.
    IncomingListener(const SettingsModel& settings, MainLoop& mainLoop, const RemoteControl& remote,
                     const Destination& destination, ControllerStatus& status);
    IncomingListener(const IncomingListener&) = delete;
    IncomingListener& operator=(const IncomingListener&) = delete;

    // Where the datagrams of every listener opened from now on go.
    void setDelegate(std::shared_ptr<QVOSCDatagramDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    // Follows the listen port and address: a change opens the listener again.
    void settingChanged(std::string_view key);
    // Stops listening, for good.
    void close();
    // Never opens: a rehearsal on a recording takes no port that the show's instance may need.
    void keepClosed() { keptClosed_ = true; }

    const QVOSCListener* listener() const { return listener_.get(); }
    // Sends a datagram from the listener's socket; false when none is open or it was refused.
    bool sendPacketTo(const QVOSCPacket& packet, const NetworkEndpoint& destination) const;
    // The tick: once a second, the counts into the status.
    void tick();

  private:
    // Replaces the listener by one on the current listen address and port.
    void open();

    const SettingsModel& settings_;
    MainLoop& mainLoop_;
    const RemoteControl& remote_;
    const Destination& destination_;
    ControllerStatus& status_;
    std::shared_ptr<QVOSCDatagramDelegate> delegate_;
    std::shared_ptr<QVOSCListener> listener_;
    int ticksSinceDropReport_ = 0;
    uint64_t droppedSeen_ = 0;
    int quietDropReports_ = 0;
    bool keptClosed_ = false;
};
