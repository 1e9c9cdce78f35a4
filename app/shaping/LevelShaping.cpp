#include "app/shaping/LevelShaping.h"

float LevelShaping::smooth(float position, MonotonicTime now) {
    return smoother_.update(position, now, settings_.attack, settings_.release);
}

void LevelShaping::follow(float position) {
    trigger_.follow(position, settings_.trigger);
}

TriggerGate::Change LevelShaping::turn(float position, MonotonicTime now) {
    return trigger_.update(position, now, settings_.trigger);
}
