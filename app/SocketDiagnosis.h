#pragma once

#include <cstdint>
#include <string>

// Why a sender or listener could not be made, in words, found by retrying the failing step on a
// socket of our own (the transport reports its failures only on standard error).

// E.g. "cannot listen on port 5001: Address already in use".
std::string listenFailure(int32_t port);
// E.g. "cannot send to port 5000: Too many open files".
std::string sendFailure(int32_t port);
