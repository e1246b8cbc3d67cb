#include "CMyEdit.h"

#include <QApplication>
#include <QKeyEvent>

#include "text/TextNumbers.h"

namespace quillon {
namespace {

// A character that would be typed into the text, as opposed to an editing key (backspace,
// delete, cursor keys) or a shortcut such as Ctrl+C.
bool IsTypedCharacter(const QKeyEvent& event) {
    if (event.modifiers() & Qt::ControlModifier)
        return false;
    const QString text = event.text();
    return !text.isEmpty() && text.front().isPrint();
}

bool IsNumberCharacter(QChar c) {
    return (c >= u'0' && c <= u'9') || c == u'-';
}

} // namespace

CMyEdit::CMyEdit(QWidget* parent) : QLineEdit(parent) {
    setFrame(false);
    // The numeric edit draws the frame; the field paints its own background so that the
    // out-of-range colour fills it.
    setAutoFillBackground(true);
}

int CMyEdit::Number() const {
    return ParseInt(text().toStdString());
}

void CMyEdit::SetOutOfRange(bool outOfRange) {
    if (outOfRange == m_outOfRange)
        return;
    m_outOfRange = outOfRange;
    if (outOfRange) {
        QPalette red = palette();
        red.setColor(QPalette::Base, kOutOfRangeColour);
        setPalette(red);
    } else {
        setPalette(QPalette()); // back to the inherited colours
    }
    update();
}

void CMyEdit::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        // Left unhandled, the key travels on to the numeric edit, which steps its value.
        event->ignore();
        return;
    }
    if (IsTypedCharacter(*event)) {
        const QString text = event->text();
        for (QChar c : text) {
            if (!IsNumberCharacter(c)) {
                QApplication::beep();
                event->accept();
                return;
            }
        }
    }
    QLineEdit::keyPressEvent(event);
}

} // namespace quillon
