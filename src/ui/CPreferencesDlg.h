#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLineEdit;
class QRadioButton;

namespace quillon {

struct AppSettings;

// "Preferences...": how many frames are kept before and after an arrival, the local or the
// host's shared folder, and the kind of video file. It works on a copy: only ApplyTo, after OK,
// changes the settings (the owner then rebuilds the ring). Nothing goes to disk before exit.
//
// Threads: user-interface thread only.
class CPreferencesDlg final : public QDialog {
    Q_OBJECT

public:
    static constexpr const char* kFolderName = "QuillonFiles";

    CPreferencesDlg(const AppSettings& app, QWidget* parent = nullptr);

    // The accepted values into `app`: frame counts, a ring of ten times their sum, folder and
    // file kind (any text but "AVI", "WMV" and "WMV (ALL)" is the own container).
    void ApplyTo(AppSettings& app) const;

    QLineEdit& FramesBeforeEdit() { return *m_framesBefore; }
    QLineEdit& FramesAfterEdit() { return *m_framesAfter; }
    QComboBox& FileTypeBox() { return *m_fileType; }
    QRadioButton& LocalButton() { return *m_local; }
    QRadioButton& RemoteButton() { return *m_remote; }

public slots:
    // Stays open with a prompt while a frame count is no whole number from 0 to the most the
    // ring can be sized for.
    void accept() override;

private:
    bool TakeCount(QLineEdit& edit, int32_t& count);

    int32_t m_framesBeforeValue = 0;
    int32_t m_framesAfterValue = 0;
    QLineEdit* m_framesBefore = nullptr;
    QLineEdit* m_framesAfter = nullptr;
    QComboBox* m_fileType = nullptr;
    QRadioButton* m_local = nullptr;
    QRadioButton* m_remote = nullptr;
};

} // namespace quillon
