#pragma once

#include "osc/QVOSCTypes.h"
#include "transport/NetworkEndpoint.h"

enum class DatagramSendResult { sent, busy, failed };

// Sends one datagram from `socket` to `destination` without ever waiting: the main thread sends,
// and its tick must not stall behind a full send buffer. A buffer that is full (EAGAIN) or kernel
// memory that is short (ENOBUFS) gives `busy`, for the caller to count; an interrupted send is
// tried again; anything else gives `failed` with errno set.
DatagramSendResult sendDatagramWithoutWaiting(int socket, QVOSCBytes bytes,
                                              const NetworkEndpoint& destination);
