#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "transport/MainLoop.h"
#include "transport/QVOSCDatagramDelegate.h"

// Receives UDP datagrams on one local port on a detached thread named "OSCListener" and posts
// each one to the main thread, where the delegate gets it.
class QVOSCListener : public std::enable_shared_from_this<QVOSCListener> {
public:
    explicit QVOSCListener(MainLoop& mainLoop);
    // Stops listening if still listening.
    ~QVOSCListener();
    QVOSCListener(const QVOSCListener&) = delete;
    QVOSCListener& operator=(const QVOSCListener&) = delete;

    // A listening listener whose delegate is a new QVOSCDispatcher, or nothing when the socket
    // cannot be opened or bound ("socket: ..." / "bind: ..." on standard error).
    static std::shared_ptr<QVOSCListener> defaultListenerOnPort(int32_t port, MainLoop& mainLoop);

    // Binds the IPv4 wildcard address on the port's low 16 bits and starts the thread.
    bool startListeningOnPort(int32_t port);
    // Closes the socket before returning; the thread leaves at once and never reads again.
    void stopListening();

    std::shared_ptr<QVOSCDatagramDelegate> delegate() const;
    void setDelegate(std::shared_ptr<QVOSCDatagramDelegate> delegate);

    int32_t socketDescriptor() const { return socketDescriptor_.load(); }
};
