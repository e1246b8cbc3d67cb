#include "CAboutDlg.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "DialogUnits.h"

namespace quillon {
namespace {

QLabel* Label(const QString& text, QRect place, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(place);
    return label;
}

} // namespace

CAboutDlg::CAboutDlg(const std::string& serial, QWidget* parent) : QDialog(parent) {
    setWindowTitle("About");
    const DialogUnits du(fontMetrics());
    setFixedSize(du.Size(319, 157));
    m_anchor = new QWidget(this);
    m_anchor->setGeometry(du(7, 7, 15, 13));
    Label("Quillon ID\nVelmar Video Identification", du(188, 7, 124, 18), this);
    Label("Version:", du(188, 30, 38, 9), this);
    m_version = Label(VersionText(), du(231, 30, 81, 9), this);
    Label("Camera SN:", du(188, 44, 38, 9), this);
    m_serial = Label(QString::fromStdString(serial), du(231, 44, 81, 9), this);
    Label("Finish-line identification video", du(188, 123, 124, 9), this);
    auto* ok = new QPushButton("OK", this);
    ok->setGeometry(du(262, 136, 50, 14));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    m_picture.LoadImageWithPalette("IDB_ABOUT");
}

QString CAboutDlg::VersionText() {
    return QUILLON_VERSION;
}
QString CAboutDlg::ShownVersion() const {
    return m_version->text();
}
QString CAboutDlg::ShownSerial() const {
    return m_serial->text();
}

void CAboutDlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    // The picture is larger than its anchor and reaches beyond it.
    m_picture.DrawTransparent(painter, m_anchor->x(), m_anchor->y(), kTransparent);
}

} // namespace quillon
