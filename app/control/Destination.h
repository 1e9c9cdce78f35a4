#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/settings/SettingsModel.h"
#include "transport/HostResolver.h"
#include "transport/MainLoop.h"
#include "transport/QVOSCSender.h"

// Where the messages go: the host and send port of the settings, a named host looked up off the
// main thread, and the sender that reaches it. Nothing is sent while the address is unknown.
class Destination {
  public:
    static constexpr double hostRetryInterval = 3.0;

    // `changed` runs on the main thread whenever the sender or the error changed.
    Destination(MainLoop& mainLoop, const SettingsModel& settings, std::function<void()> changed);

    // Takes the host of the settings, without an address yet.
    void takeHost();
    // Looks a named host up (a numeric address answers at once).
    void lookUpHost();
    // Replaces the sender by one for the current destination, when it is known.
    void open();
    // Follows a change of the host or the send port.
    void settingChanged(std::string_view key);

    QVOSCSender* sender() const { return sender_.get(); }
    // Why nothing can be sent, in words; empty when a sender is open.
    const std::string& error() const { return error_; }

  private:
    void hostAnswered(const HostResolver::Answer& answer);

    MainLoop& mainLoop_;
    const SettingsModel& settings_;
    std::function<void()> changed_;
    std::unique_ptr<QVOSCSender> sender_;
    std::optional<std::string> host_;
    std::optional<NetworkEndpoint> hostAddress_;
    // Why the host has no address yet, in words.
    std::string hostProblem_;
    std::string error_;
    HostResolver hostResolver_;
};
