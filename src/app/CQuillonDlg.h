#pragma once

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QToolButton>
#include <memory>

#include "PreviewWidget.h"
#include "ProgramOptions.h"
#include "RecorderEngine.h"
#include "core/TickSource.h"

namespace quillon {

class CNumericEdit;

// The main window: host connection and port, race buttons, elapsed race time, brightness and
// contrast with the "Auto" switch, the live preview and the menu. It owns the recorder engine
// and shows it; the race and frame logic live in the engine.
class CQuillonDlg final : public QDialog, public EngineView {
    Q_OBJECT

public:
    // Control identifiers the numeric edits report with their changes.
    static constexpr int kBrightnessId = 1049;
    static constexpr int kContrastId = 1050;

    CQuillonDlg(const ProgramOptions& options, const TickSource& ticks);
    ~CQuillonDlg() override;

    // False when the window must not run (its frame stores could not be had).
    bool IsUsable() const { return m_usable; }
    // Brings the recorder up in its fixed order; false when the program must end.
    bool OnInitDialog();
    bool IsInitialised() const { return m_initialised; }

    // An orderly end asked for from outside (SIGTERM, SIGINT): closes every box or dialog open
    // above the window, then the window, whatever is open; a start-up in progress stops at its
    // next step. The settings are written as at any close once they have been read.
    void EndFromOutside();
    bool IsEnding() const { return m_ending; }

    RecorderEngine& Engine() { return m_engine; }
    PreviewWidget& Preview() { return *m_preview; }
    CNumericEdit& BrightnessEdit() { return *m_brightness; }
    CNumericEdit& ContrastEdit() { return *m_contrast; }
    QCheckBox& AutoBox() { return *m_auto; }
    QAction& CameraPropertiesAction() { return *m_cameraPropertiesAction; }
    QAction& PreferencesAction() { return *m_preferencesAction; }
    QAction& AboutAction() { return *m_aboutAction; }
    // The hidden "Shared memory" box; clicking it (the program option, SIGUSR1) switches the
    // host link between TCP and shared memory.
    QCheckBox& SharedMemoryBox() { return *m_sharedMemory; }

    // EngineView
    void TakeControlValues() override;
    void RefreshControls() override;
    void EnableRaceButton(RaceButton button, bool enabled) override;
    void EnableSetupCommands(bool enabled) override;
    void ShowElapsedTime(const std::string& text) override;
    void ShowHostStatus(const std::string& status, bool hostConnected) override;
    void ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) override;
    void ShowBrightness(int32_t brightness) override;
    void ShowMessage(const std::string& text) override {
        ShowMessageBox(QString::fromStdString(text));
    }

    // Sizes the preview to the reduced camera image and the window around it.
    void SetupPreview();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void BuildMenu();
    void BuildControls();
    void CreateAdjustControls();
    QToolButton* MakeRaceButton(const QString& image, const QString& tip);
    void OnSaveButton();
    void OnCameraProperties();
    void OnPreferences();
    void OnAbout();
    void OnAutoClicked();
    void OnSharedMemoryClicked();
    void OnEditChanged(int identifier, int position);
    void ShowMessageBox(const QString& text);
    void CloseModalWidgets();
    void UpdateTitle();

    const ProgramOptions m_options;
    const std::string m_settingsPath;
    bool m_usable = false;
    bool m_initialised = false;
    bool m_settingsLoaded = false;
    bool m_ending = false;
    QTimer m_endTimer; // while ending: closes boxes that callers of closed ones open next
    RecorderEngine m_engine;

    QWidget* m_canvas = nullptr; // the client area below the menu, controls placed as designed
    QToolButton* m_saveButton = nullptr;
    QToolButton* m_readyButton = nullptr;
    QToolButton* m_startButton = nullptr;
    QToolButton* m_arrivalButton = nullptr;
    QLabel* m_elapsed = nullptr;
    QLabel* m_portLabel = nullptr;
    QLineEdit* m_port = nullptr;
    QLabel* m_hostLabel = nullptr;
    QLabel* m_status = nullptr;
    QCheckBox* m_sharedMemory = nullptr;
    CNumericEdit* m_brightness = nullptr;
    CNumericEdit* m_contrast = nullptr;
    QCheckBox* m_auto = nullptr;
    PreviewWidget* m_preview = nullptr;
    QAction* m_cameraPropertiesAction = nullptr;
    QAction* m_preferencesAction = nullptr;
    QAction* m_aboutAction = nullptr;
    QTimer m_titleTimer;
    uint64_t m_shownDropped = 0;
};

} // namespace quillon
