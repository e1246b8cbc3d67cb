#pragma once

#include <QDialog>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "camera/CameraRegion.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace quillon {

class CCamera;
class CNumericEdit;
struct AppSettings;
struct CameraSettings;
struct GainValues;

// What the dialog asks of the main window.
struct CameraPropertiesHooks {
    // Applies CameraSettings to the camera and reads its format back; true when it streams.
    std::function<bool()> applySettings;
    // Sizes the preview to the current image.
    std::function<void()> setupPreview;
};

// "Camera Properties...": exposure, gain, image size and frame rate of the running camera, a
// one-shot white balance, saving and loading camera settings files, and a red warning while
// frame processing cannot keep up with the frame rate. Every change goes to the camera at
// once; closing undoes nothing. It owns no settings: it works on the main window's records and
// camera, which outlive it.
//
// Threads: user-interface thread only.
class CCameraProperties final : public QDialog {
    Q_OBJECT

public:
    enum ControlId {
        kExposureId = 1032,
        kGainId = 1033,
        kRedId = 1034,
        kGreen1Id = 1035,
        kGreen2Id = 1036,
        kBlueId = 1037,
        kWidthId = 1038,
        kHeightId = 1039,
    };
    // Above this share of the frame interval spent on one frame, the warning shows.
    static constexpr int kWarningLoadPercent = 80;

    CCameraProperties(CCamera& camera, CameraSettings& cameraSettings, AppSettings& appSettings,
                      CameraPropertiesHooks hooks, QWidget* parent = nullptr);
    ~CCameraProperties() override;

    CNumericEdit& Edit(ControlId id) { return *m_edits[size_t(id - kExposureId)]; }
    QComboBox& FrameRates() { return *m_frameRates; }
    QLabel& Warning() { return *m_warning; }
    QPushButton& WhiteBalanceButton() { return *m_whiteBalance; }
    QPushButton& LoadButton() { return *m_load; }
    QPushButton& SaveButton() { return *m_save; }

    // The once-a-second comparison of the last frame's processing time with the frame interval.
    void CheckPerformance();
    // A numeric edit's change (after initialisation only).
    void OnEditChanged(int identifier, int value);
    // What "Save Settings" and "Load Settings" do with the file the operator chose: all 25
    // keys with the camera's gains of the moment; reading puts the file into effect.
    bool SaveSettingsTo(const QString& path);
    void LoadSettingsFrom(const QString& path);

private:
    void BuildControls();
    void Initialise();
    CNumericEdit* MakeEdit(ControlId id, unsigned style, QRect place);
    void FillFrameRates(float rate);
    void OnFrameRateChosen(int index);
    void OnSizeChanged(ControlId id, int value);
    void OnAutoWhiteBalance();
    void OnSaveSettings();
    void OnLoadSettings();
    void SendGains(const GainValues& gains);
    // The record takes the camera's gains of the moment.
    void KeepGainsInRecord();
    void ShowGains(int32_t gain, int32_t red, int32_t green1, int32_t green2, int32_t blue);
    void OnSharpen(bool checked);
    void OnReduction(bool checked);
    void OnMove(RegionMove move);

    CCamera& m_camera;
    CameraSettings& m_cameraSettings;
    AppSettings& m_appSettings;
    CameraPropertiesHooks m_hooks;

    // The camera's gains in thousandths, as last read from it.
    int32_t m_gain = 0;
    int32_t m_redGain = 0;
    int32_t m_greenGain1 = 0;
    int32_t m_greenGain2 = 0;
    int32_t m_blueGain = 0;
    int32_t m_sharpen = 1;
    uint32_t m_reduction = 1;
    bool m_initialised = false;
    // Set while loaded gains are shown: the camera already has them, channel gains included.
    bool m_showingLoadedGains = false;

    std::array<CNumericEdit*, 8> m_edits{};
    QComboBox* m_frameRates = nullptr;
    QLabel* m_warning = nullptr;
    QPushButton* m_whiteBalance = nullptr;
    QPushButton* m_load = nullptr;
    QPushButton* m_save = nullptr;
    QCheckBox* m_sharpenBox = nullptr;
    QCheckBox* m_reductionBox = nullptr;
    QTimer m_timer;
};

} // namespace quillon
