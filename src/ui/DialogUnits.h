#pragma once

#include <QRect>

namespace quillon {

// The dialogs keep the arrangement of their original templates, laid out in dialog units of an
// 8-point dialog font: 1.5 pixels across and 1.625 pixels down per unit.
inline QRect FromDialogUnits(int x, int y, int width, int height) {
    const auto across = [](int units) { return int(units * 1.5 + 0.5); };
    const auto down = [](int units) { return int(units * 1.625 + 0.5); };
    return {across(x), down(y), across(width), down(height)};
}

} // namespace quillon
