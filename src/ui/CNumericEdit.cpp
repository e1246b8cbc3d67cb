#include "CNumericEdit.h"

#include <QCursor>
#include <QKeyEvent>
#include <QStyle>

#include <algorithm>

#include "CMyButton.h"
#include "CMyEdit.h"
#include "CMyTrackPopup.h"
#include "CSpinButton.h"

namespace quillon {
namespace {

// The slider opens this far below the "v" button.
constexpr int kPopupGap = 4;
// About 57 x 15 dialog units, the size the dialogs give the edit.
constexpr QSize kPreferredSize{100, 24};

} // namespace

CNumericEdit::CNumericEdit(int identifier, unsigned style, QWidget* parent)
    : QFrame(parent), m_id(identifier), m_style(style) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);

    m_popupButton = new CMyButton(this);
    m_popupButton->setObjectName("popup");
    m_text = new CMyEdit(this);
    m_text->setObjectName("text");
    m_text->setText("0");
    m_spin = new CSpinButton(this);
    m_spin->setObjectName("spin");
    m_spin->SetRange(m_min, m_max);

    setFocusProxy(m_text);
    setFocusPolicy(m_text->focusPolicy());

    connect(m_text, &QLineEdit::textChanged, this, &CNumericEdit::OnTextChanged);
    connect(m_spin, &CSpinButton::scrolled, this, &CNumericEdit::SetPos);
    connect(m_popupButton, &CMyButton::popupRequested, this, &CNumericEdit::ShowPopup);
    LayoutChildren();
}

CNumericEdit::~CNumericEdit() {
    // The slider must not report its closing to an edit that is half destroyed.
    if (m_popup) {
        m_popup->disconnect(this);
        delete m_popup;
    }
}

void CNumericEdit::SetPos(int value) {
    if (m_settingPos || value == m_pos)
        return;
    const int oldPos = m_pos;
    const qint64 snapped = Snap(value);
    m_settingPos = true;
    m_pos = ClampToRange(snapped);
    // The text shows the value before clamping, so a typed number beyond the range stays in
    // view (on red) while the position is held at the end of the range.
    PutText(snapped);
    m_spin->SetPos(m_pos);
    // Cleared before the parent hears of the change, so that it may set this edit again.
    m_settingPos = false;
    if (!m_popupOpen && m_pos != oldPos)
        emit changed(m_id, m_pos);
}

void CNumericEdit::SetPosAndAnnounce(int value) {
    SetPos(value);
    emit changed(m_id, m_pos);
}

// Between the old position and the next step either way the value goes to that step, so a
// single arrow press or a small drag always moves; further out it is cut down to a multiple of
// the step, toward zero.
qint64 CNumericEdit::Snap(int value) const {
    const qint64 pos = m_pos;
    const qint64 step = m_step;
    if (pos < value && value < pos + step)
        return pos + step;
    if (pos - step < value && value < pos)
        return pos - step;
    return value / step * step;
}

int CNumericEdit::ClampToRange(qint64 value) const {
    if (value < m_min)
        return m_min;
    if (value > m_max)
        return m_max;
    return int(value);
}

void CNumericEdit::PutText(qint64 value) {
    m_text->setText(QString::number(value));
    m_text->end(false);
}

void CNumericEdit::SetRange(int minimum, int maximum) {
    if (minimum == m_min && maximum == m_max)
        return;
    m_min = minimum;
    m_max = maximum;
    m_spin->SetRange(minimum, maximum);
    m_pos = ClampToRange(m_pos);
    m_spin->SetPos(m_pos);
    m_settingPos = true;
    PutText(m_pos);
    m_settingPos = false;
    UpdateOutOfRange();
}

void CNumericEdit::SetStep(int step) {
    if (step >= 1 && step < qint64(m_max) - m_min)
        m_step = step;
}

void CNumericEdit::SetReadOnly(bool readOnly) {
    m_text->setReadOnly(readOnly);
    m_popupButton->setEnabled(!readOnly);
    m_spin->setEnabled(!readOnly);
}

bool CNumericEdit::GetReadOnly() const {
    return m_text->isReadOnly();
}

// Every change of the text, typed or written by the edit itself, refreshes the red state; only
// a change the edit did not make itself is taken as a new value.
void CNumericEdit::OnTextChanged() {
    UpdateOutOfRange();
    if (m_settingPos)
        return;
    SetPosAndAnnounce(m_text->Number());
}

void CNumericEdit::UpdateOutOfRange() {
    const int number = m_text->Number();
    m_text->SetOutOfRange(number < m_min || number > m_max);
}

void CNumericEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key != Qt::Key_Up && key != Qt::Key_Down) {
        QFrame::keyPressEvent(event);
        return;
    }
    event->accept();
    if (GetReadOnly())
        return;
    if (key == Qt::Key_Up && m_pos < m_max)
        SetPos(m_pos + 1);
    if (key == Qt::Key_Down && m_pos > m_min)
        SetPos(m_pos - 1);
}

void CNumericEdit::ShowPopup() {
    if (m_popup || GetReadOnly()) {
        m_popupButton->setDown(false);
        return;
    }
    const QPoint cursor = QCursor::pos();
    const int buttonBottom = m_popupButton->mapToGlobal(QPoint(0, m_popupButton->height())).y();
    m_popup = new CMyTrackPopup(this);
    connect(m_popup, &CMyTrackPopup::stateChanged, this, &CNumericEdit::SetPopupOpen);
    connect(m_popup, &CMyTrackPopup::positionPicked, this, &CNumericEdit::SetPosAndAnnounce);
    m_popup->Popup(cursor.x(), buttonBottom + kPopupGap, m_min, m_max, m_pos);
}

void CNumericEdit::SetPopupOpen(bool open) {
    m_popupOpen = open;
    if (open)
        return;
    m_popupButton->setDown(false);
    m_text->setFocus();
}

QSize CNumericEdit::sizeHint() const {
    return kPreferredSize;
}

void CNumericEdit::SetStyle(unsigned style) {
    m_style = style;
    LayoutChildren();
}

void CNumericEdit::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    LayoutChildren();
}

// The buttons stand at the right edge, each as wide as a scroll bar, the "v" button outermost;
// the text field takes the rest. A button whose style bit is off gets no room.
void CNumericEdit::LayoutChildren() {
    const QRect client = contentsRect();
    const int buttonWidth = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    int right = client.right() + 1;
    auto place = [&](QWidget* child, bool shown) {
        child->setVisible(shown);
        if (!shown) {
            child->setGeometry(QRect());
            return;
        }
        right -= buttonWidth;
        child->setGeometry(right, client.top(), buttonWidth, client.height());
    };
    place(m_popupButton, m_style & NES_POPUP);
    place(m_spin, m_style & NES_SPIN);
    m_text->setGeometry(client.left(), client.top(), std::max(0, right - client.left()),
                        client.height());
}

} // namespace quillon
