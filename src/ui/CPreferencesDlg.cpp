#include "CPreferencesDlg.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include "DialogUnits.h"
#include "settings/SettingsFile.h"

namespace quillon {
namespace {

constexpr const char* kDefaultFileType = "AVI";

QLabel* Label(const QString& text, QRect place, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(place);
    return label;
}

QLineEdit* LineEdit(const QString& text, QRect place, QWidget* parent) {
    auto* edit = new QLineEdit(text, parent);
    edit->setGeometry(place);
    return edit;
}

// The text the file kind shows with; a number that is no file kind shows as "AVI".
QString FileTypeText(int32_t filetype) {
    if (filetype < kFileVlv || filetype > kFileWmvAll)
        return kDefaultFileType;
    return FiletypeText(filetype);
}

} // namespace

CPreferencesDlg::CPreferencesDlg(const AppSettings& app, QWidget* parent) : QDialog(parent) {
    setWindowTitle("Preferences...");
    const DialogUnits du(fontMetrics());
    setFixedSize(du.Size(180, 118));

    Label("Frames BEFORE arrival:", du(7, 7, 80, 9), this);
    m_framesBefore = LineEdit(QString::number(app.FramesBefore), du(87, 7, 56, 12), this);
    Label("Frames AFTER arrival:", du(7, 21, 80, 9), this);
    m_framesAfter = LineEdit(QString::number(app.FramesAfter), du(87, 21, 56, 12), this);
    Label("Folder:", du(7, 35, 80, 9), this);
    LineEdit(kFolderName, du(87, 35, 56, 12), this)->setEnabled(false);
    auto* group = new QGroupBox("Folder", this);
    group->setGeometry(du(87, 47, 80, 24));
    m_local = new QRadioButton("Local", group);
    m_local->setGeometry(du(91 - 87, 57 - 47, 34, 11));
    m_remote = new QRadioButton("Remote", group);
    m_remote->setGeometry(du(125 - 87, 57 - 47, 40, 11));
    (app.Directory == 1 ? m_remote : m_local)->setChecked(true);
    Label("Filetype:", du(7, 74, 80, 9), this);
    m_fileType = new QComboBox(this);
    m_fileType->setGeometry(du(87, 74, 56, 13));
    m_fileType->setEditable(true);
    m_fileType->setInsertPolicy(QComboBox::NoInsert);
    m_fileType->addItems({"AVI", "VLV", "WMV", "WMV (ALL)"});
    m_fileType->setCurrentText(FileTypeText(app.Filetype));

    // The ring length is not set here: it follows the frame counts.
    Label("Buffer lenght:", du(7, 88, 80, 9), this)->hide();
    LineEdit(QString::number(app.BufferLenght), du(87, 88, 56, 12), this)->hide();

    auto* ok = new QPushButton("OK", this);
    ok->setGeometry(du(73, 97, 50, 14));
    ok->setDefault(true);
    auto* cancel = new QPushButton("Cancel", this);
    cancel->setGeometry(du(123, 97, 50, 14));
    cancel->setAutoDefault(false);
    connect(ok, &QPushButton::clicked, this, &CPreferencesDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CPreferencesDlg::reject);
}

bool CPreferencesDlg::TakeCount(QLineEdit& edit, int32_t& count) {
    bool number = false;
    const int value = edit.text().trimmed().toInt(&number);
    if (number && value >= 0 && value <= kMaxFramesAround) {
        count = value;
        return true;
    }
    // A negative count would make the ring length negative; a larger one than the settings
    // file allows would ask for more ring than it can hold.
    auto* prompt =
        new QMessageBox(QMessageBox::Warning, "Quillon ID",
                        QString("Please enter an integer between 0 and %1.").arg(kMaxFramesAround),
                        QMessageBox::Ok, this);
    prompt->setAttribute(Qt::WA_DeleteOnClose);
    prompt->open();
    edit.setFocus();
    edit.selectAll();
    return false;
}

void CPreferencesDlg::accept() {
    if (!TakeCount(*m_framesBefore, m_framesBeforeValue))
        return;
    if (!TakeCount(*m_framesAfter, m_framesAfterValue))
        return;
    QDialog::accept();
}

void CPreferencesDlg::ApplyTo(AppSettings& app) const {
    app.FramesAfter = m_framesAfterValue;
    app.FramesBefore = m_framesBeforeValue;
    // Ten times the frames around an arrival (never less than three times, which it always is).
    app.BufferLenght = 10 * (m_framesBeforeValue + m_framesAfterValue);
    app.Directory = m_remote->isChecked() ? 1 : 0;
    app.Filetype = FiletypeFromText(m_fileType->currentText().toStdString());
}

} // namespace quillon
