#pragma once

#include <cmath>

// The meter's reading of an average power in dBFS: 20 at 0 dBFS and amplification 1.
inline float meterForLevel(float averagePowerDb, float amplification) {
    const double linear = std::pow(10.0, averagePowerDb * 0.05);
    return static_cast<float>(linear * 20.0 * amplification);
}

// Where a meter reading lies between the minimum (0) and the maximum (1) of the value sent.
inline float positionForMeter(float meter) {
    return std::fminf(1.0f, meter / 10.0f);
}
