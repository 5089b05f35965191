// Fonts of the windows, with near stand-ins where the named face is not on the machine.
#pragma once

#include <QFont>
#include <QStringList>

namespace rendle::ui {

/// "MS Sans Serif" at a point size, or the nearest face the machine has: a narrow sans serif
/// keeps the windows' captions inside their fixed places.
inline QFont SansSerifFont(double pointSize, bool bold) {
    QFont font;
    font.setFamilies(
        {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial", "Helvetica"});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

}  // namespace rendle::ui
