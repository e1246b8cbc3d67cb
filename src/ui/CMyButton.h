#pragma once

#include <QToolButton>

namespace quillon {

// The small "v" button of the numeric edit. A press asks for the popup slider and leaves the
// button drawn pressed; the numeric edit releases it when the slider closes. A tool button never
// takes a dialog's default-button look, so Enter in the dialog never opens the slider.
class CMyButton final : public QToolButton {
    Q_OBJECT

public:
    explicit CMyButton(QWidget* parent);

signals:
    void popupRequested();

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

} // namespace quillon
