#pragma once

#include <QDialog>
#include <string>

#include "CCISBitmap.h"

class QLabel;

namespace quillon {

// "About": the product name, the program's version, the connected camera's serial number and
// the program's picture, drawn on the box's own background.
//
// Threads: user-interface thread only.
class CAboutDlg final : public QDialog {
    Q_OBJECT

public:
    // The picture's background, which lets the box show through.
    static constexpr QColor kTransparent{0, 255, 255};

    // `serial` is the camera's serial number as text, empty without a camera.
    explicit CAboutDlg(const std::string& serial, QWidget* parent = nullptr);

    static QString VersionText();
    QString ShownVersion() const;
    QString ShownSerial() const;
    const CCISBitmap& Picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_version = nullptr;
    QLabel* m_serial = nullptr;
    QWidget* m_anchor = nullptr; // the picture's top-left corner
    CCISBitmap m_picture;
};

} // namespace quillon
