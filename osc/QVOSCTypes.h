#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "osc/QVOSCPool.h"

// An owned, growable byte buffer: encoded blocks, packets, blobs. Small ones come from the pool,
// since one is made for every message sent.
using QVOSCData = std::vector<uint8_t, QVOSCPoolAllocator<uint8_t>>;

// A read-only view of bytes that belong to someone else (a received datagram, an element of it).
using QVOSCBytes = std::span<const uint8_t>;

// An instant in UTC.
using QVOSCTimePoint = std::chrono::system_clock::time_point;

// Lies before every instant a time tag can express; stands for the "immediately" time tag.
inline constexpr QVOSCTimePoint distantPast = QVOSCTimePoint::min();
