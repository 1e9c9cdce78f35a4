#pragma once

#include <QColor>

// The colour that tells a mapping apart in the spectrum and in the list: by its row, the first
// mapping's 0. Hues far apart, each readable on a light and a dark background.
inline QColor mappingColour(int row) {
    static constexpr int hues[] = {210, 30, 130, 330, 50, 270, 180, 0};
    return QColor::fromHsv(hues[row % static_cast<int>(std::size(hues))], 190, 225);
}
