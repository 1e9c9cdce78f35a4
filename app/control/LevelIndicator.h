#pragma once

// The window's level meter as the controller sees it: it only ever sets the value.
class LevelIndicator {
  public:
    virtual ~LevelIndicator() = default;
    virtual void setValue(float value) = 0;
};
