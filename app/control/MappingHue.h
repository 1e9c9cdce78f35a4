#pragma once

#include <iterator>

// The hue (0 to 359) that tells a mapping apart wherever it is drawn (the window's spectrum and
// list, the browser page): by its row, the first mapping's 0. Hues far apart, so that each
// stays readable on a light and a dark background at the views' saturation and value.
inline int mappingHue(int row) {
    static constexpr int hues[] = {210, 30, 130, 330, 50, 270, 180, 0};
    return hues[row % static_cast<int>(std::size(hues))];
}
