#pragma once

#include <QColor>
#include <QLineEdit>

namespace quillon {

// The text field of the numeric edit. It lets through only the characters a whole number
// needs, hands the up and down arrow keys to the numeric edit, and turns red while the
// number it shows lies outside the edit's range.
class CMyEdit final : public QLineEdit {
    Q_OBJECT

public:
    static constexpr QColor kOutOfRangeColour{255, 128, 128};

    explicit CMyEdit(QWidget* parent);

    // The text read the way atoi reads it: leading integer part, no digits gives 0.
    int Number() const;

    void SetOutOfRange(bool outOfRange);
    bool IsOutOfRange() const { return m_outOfRange; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool m_outOfRange = false;
};

} // namespace quillon
