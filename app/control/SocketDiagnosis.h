#pragma once

#include <cstdint>
#include <string>

// Why a sender or listener could not be made, in words.

// E.g. "cannot listen on port 5001: Address already in use", from the failing call's errno;
// "cannot listen on 10.0.0.7: Cannot assign requested address (port 5001)" for a listener bound
// to one address.
std::string listenFailure(int32_t port, int error);
std::string listenFailure(const std::string& localAddress, int32_t port, const std::string& reason);
// The sender reports its failures only on standard error, so this retries opening a socket.
// E.g. "cannot send to port 5000: Too many open files".
std::string sendFailure(int32_t port);
