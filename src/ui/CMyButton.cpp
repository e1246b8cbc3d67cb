#include "CMyButton.h"

#include <QMouseEvent>

namespace quillon {

CMyButton::CMyButton(QWidget* parent) : QToolButton(parent) {
    setText("v");
    setFocusPolicy(Qt::NoFocus);
}

void CMyButton::mousePressEvent(QMouseEvent* event) {
    QToolButton::mousePressEvent(event);
    if (event->button() != Qt::LeftButton)
        return;
    // The slider takes the mouse from here on and the release never reaches this button, so it
    // stays drawn pressed until the numeric edit lets it go.
    setDown(true);
    emit popupRequested();
}

} // namespace quillon
