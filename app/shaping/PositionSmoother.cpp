#include "app/shaping/PositionSmoother.h"

#include <algorithm>
#include <cmath>

float PositionSmoother::update(float position, MonotonicTime now, std::chrono::milliseconds attack,
                               std::chrono::milliseconds release) {
    const std::chrono::milliseconds timeConstant =
        smoothed_ && position < *smoothed_ ? release : attack;
    // A broken earlier value (not a number) is not carried on.
    if (!smoothed_ || timeConstant.count() <= 0 || !std::isfinite(*smoothed_)) {
        smoothed_ = position;
    } else {
        const double elapsed = std::chrono::duration<double>(now - previousTime_).count();
        const double timeConstantSeconds = std::chrono::duration<double>(timeConstant).count();
        const double weight = 1.0 - std::exp(-std::max(elapsed, 0.0) / timeConstantSeconds);
        smoothed_ = static_cast<float>(*smoothed_ + (position - *smoothed_) * weight);
    }
    previousTime_ = now;
    return *smoothed_;
}
