#pragma once

#include <cmath>

// The meter's reading of an average power in dBFS: 20 at 0 dBFS and amplification 1.
inline float meterForLevel(float averagePowerDb, float amplification) {
    const double linear = std::pow(10.0, averagePowerDb * 0.05);
    return static_cast<float>(linear * 20.0 * amplification);
}

// Where a meter reading lies between the minimum (0) and the maximum (1) of the value sent. A
// negative amplification gives a negative meter: the value sent stays within the minimum and the
// maximum, so a peer's fader never goes past its end. A meter that is not a number gives 1.
inline float positionForMeter(float meter) {
    return std::fmaxf(0.0f, std::fminf(1.0f, meter / 10.0f));
}
