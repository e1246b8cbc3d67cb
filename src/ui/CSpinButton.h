#pragma once

#include <QWidget>

class QToolButton;

namespace quillon {

// A pair of up and down arrows that hold a position in a range, with no text of their own.
// The numeric edit shows the number; the arrows only move it by one.
class CSpinButton final : public QWidget {
    Q_OBJECT

public:
    explicit CSpinButton(QWidget* parent);

    // Positions outside the range are held at its nearest end.
    void SetRange(int minimum, int maximum);
    void SetPos(int position);
    int GetPos() const { return m_pos; }

signals:
    // The operator moved the position with an arrow; not sent for SetPos.
    void scrolled(int position);

private:
    void StepUp();
    void StepDown();
    QToolButton* MakeArrow(Qt::ArrowType arrow, const char* name);

    int m_min = 0;
    int m_max = 100;
    int m_pos = 0;
};

} // namespace quillon
