#include "CSpinButton.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace quillon {

CSpinButton::CSpinButton(QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    QToolButton* up = MakeArrow(Qt::UpArrow, "up");
    QToolButton* down = MakeArrow(Qt::DownArrow, "down");
    column->addWidget(up);
    column->addWidget(down);
    connect(up, &QToolButton::clicked, this, &CSpinButton::StepUp);
    connect(down, &QToolButton::clicked, this, &CSpinButton::StepDown);
}

QToolButton* CSpinButton::MakeArrow(Qt::ArrowType arrow, const char* name) {
    auto* button = new QToolButton(this);
    button->setObjectName(name);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    // Focus stays in the text field, as with a spin that has no text of its own.
    button->setFocusPolicy(Qt::NoFocus);
    // The pair must fit into the height of one text line.
    button->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    return button;
}

void CSpinButton::SetRange(int minimum, int maximum) {
    m_min = minimum;
    m_max = maximum;
    SetPos(m_pos);
}

void CSpinButton::SetPos(int position) {
    if (position > m_max)
        position = m_max;
    if (position < m_min)
        position = m_min;
    m_pos = position;
}

void CSpinButton::StepUp() {
    if (m_pos >= m_max)
        return;
    ++m_pos;
    emit scrolled(m_pos);
}

void CSpinButton::StepDown() {
    if (m_pos <= m_min)
        return;
    --m_pos;
    emit scrolled(m_pos);
}

} // namespace quillon
