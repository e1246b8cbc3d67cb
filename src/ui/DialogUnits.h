#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QString>

namespace quillon {

// The dialogs keep the arrangement of their original templates, given in dialog units: a
// quarter of the dialog font's average character width across and an eighth of its height
// down. Measured on the font the dialog really uses, captions fit whatever font the desktop
// has.
class DialogUnits {
public:
    explicit DialogUnits(const QFontMetrics& font)
        : m_across(font.horizontalAdvance(kAlphabet) / double(kAlphabet.size()) / 4.0),
          m_down(font.height() / 8.0) {}

    QRect operator()(int x, int y, int width, int height) const {
        return {Across(x), Down(y), Across(width), Down(height)};
    }
    QSize Size(int width, int height) const { return {Across(width), Down(height)}; }

private:
    static inline const QString kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    int Across(int units) const { return int(units * m_across + 0.5); }
    int Down(int units) const { return int(units * m_down + 0.5); }

    double m_across;
    double m_down;
};

} // namespace quillon
