#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <memory>

#include "PreviewWidget.h"
#include "ProgramOptions.h"
#include "RecorderEngine.h"
#include "core/TickSource.h"

namespace quillon {

// The main window: the host's connection, the race buttons, the elapsed race time. It owns
// the recorder engine and shows it; the race logic itself lives in the engine.
class CQuillonDlg final : public QDialog, public EngineView {
    Q_OBJECT

public:
    CQuillonDlg(const ProgramOptions& options, const TickSource& ticks);
    ~CQuillonDlg() override;

    // False when the window must not run (its frame stores could not be had).
    bool IsUsable() const { return m_bUsable; }
    // Brings the recorder up in its fixed order; false when the program must end.
    bool OnInitDialog();
    bool IsInitialised() const { return m_bInitialised; }

    RecorderEngine& Engine() { return m_engine; }

    // EngineView
    void TakeControlValues() override;
    void RefreshControls() override;
    void EnableRaceButton(RaceButton button, bool enabled) override;
    void EnableSetupCommands(bool enabled) override;
    void ShowElapsedTime(const std::string& text) override;
    void ShowHostStatus(const std::string& status, bool hostConnected) override;
    void ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) override;
    void ShowMessage(const std::string& text) override { ShowMessageBox(QString::fromStdString(text)); }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    QToolButton* MakeRaceButton(const QString& image, const QString& tip);
    void OnSaveButton();
    void ShowMessageBox(const QString& text);
    void SetupPreview();

    const ProgramOptions m_options;
    bool m_bUsable = false;
    bool m_bInitialised = false;
    RecorderEngine m_engine;

    QToolButton* m_saveButton = nullptr;
    QToolButton* m_readyButton = nullptr;
    QToolButton* m_startButton = nullptr;
    QToolButton* m_arrivalButton = nullptr;
    QLabel* m_elapsed = nullptr;
    QLineEdit* m_port = nullptr;
    QLabel* m_status = nullptr;
    QCheckBox* m_sharedMemory = nullptr;
    PreviewWidget* m_preview = nullptr;
};

}  // namespace quillon
