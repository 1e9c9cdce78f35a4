#pragma once

#include <QColor>

#include "app/control/MappingHue.h"

// The colour that tells a mapping apart in the spectrum and in the list: by its row, the first
// mapping's 0.
inline QColor mappingColour(int row) {
    return QColor::fromHsv(mappingHue(row), 190, 225);
}
