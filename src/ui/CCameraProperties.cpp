#include "CCameraProperties.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>
#include <cmath>
#include <vector>

#include "CNumericEdit.h"
#include "DialogUnits.h"
#include "camera/Camera.h"
#include "settings/SettingsFile.h"

namespace quillon {
namespace {

constexpr int kTimerPeriodMs = 1000;
constexpr int kExposureMax = 1000; // tenths of a millisecond
constexpr int kGainMin = 1000;     // thousandths
constexpr int kGainMax = 3875;
constexpr int kSizeMin = 8;
constexpr int kSizeStep = 80;
constexpr const char* kIniFilter = "INI Files (*.ini)";

// Exposure in tenths of a millisecond, truncated, at least 1.
int ExposureTenths(float ms) {
    return std::max(1, int(ms * 10.0f));
}

QLabel* Label(const QString& text, QRect place, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(place);
    return label;
}

QPushButton* Button(const QString& text, QRect place, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setGeometry(place);
    button->setAutoDefault(false);
    return button;
}

} // namespace

CCameraProperties::CCameraProperties(CCamera& camera, CameraSettings& cameraSettings,
                                     AppSettings& appSettings, CameraPropertiesHooks hooks,
                                     QWidget* parent)
    : QDialog(parent), m_camera(camera), m_cameraSettings(cameraSettings),
      m_appSettings(appSettings), m_hooks(std::move(hooks)) {
    setWindowTitle("Camera Properties...");
    const DialogUnits du(fontMetrics());
    setFixedSize(du.Size(280, 146));
    m_camera.ReadGains(m_gain, m_redGain, m_greenGain1, m_greenGain2, m_blueGain);
    BuildControls();
    Initialise();
}

CCameraProperties::~CCameraProperties() {
    m_timer.stop();
}

CNumericEdit* CCameraProperties::MakeEdit(ControlId id, unsigned style, QRect place) {
    auto* edit = new CNumericEdit(id, style, this);
    edit->setGeometry(place);
    connect(edit, &CNumericEdit::changed, this, &CCameraProperties::OnEditChanged);
    m_edits[size_t(id - kExposureId)] = edit;
    return edit;
}

void CCameraProperties::BuildControls() {
    const DialogUnits du(fontMetrics());
    const unsigned spinAndPopup = CNumericEdit::NES_SPIN | CNumericEdit::NES_POPUP;
    auto* ok = Button("OK", du(7, 125, 50, 14), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] {
        m_timer.stop();
        accept();
    });

    // Left column: exposure and gains.
    Label("Exposure:", du(7, 7, 48, 15), this);
    MakeEdit(kExposureId, spinAndPopup, du(53, 7, 57, 15));
    Label("x 0.1 ms", du(112, 7, 34, 15), this);
    Label("Gain:", du(7, 23, 48, 15), this);
    MakeEdit(kGainId, spinAndPopup, du(53, 23, 57, 15));
    Label("x 0.001", du(112, 23, 34, 15), this);
    // The channel gains follow the white balance but are not offered to the operator.
    const char* channels[] = {"Red:", "Green 1:", "Green 2:", "Blue:"};
    for (int i = 0; i < 4; ++i) {
        const int y = 39 + 16 * i;
        Label(channels[i], du(20, y, 29, 15), this)->hide();
        MakeEdit(ControlId(kRedId + i), spinAndPopup, du(53, y, 57, 15))->hide();
        Label("x 0.001", du(112, y, 34, 15), this)->hide();
    }
    m_whiteBalance = Button("Auto White Balance", du(7, 103, 114, 9), this);

    // Right column: size and frame rate.
    Label("Width:", du(152, 7, 40, 15), this);
    MakeEdit(kWidthId, CNumericEdit::NES_SPIN, du(198, 7, 57, 15));
    Label("px", du(258, 7, 15, 15), this);
    Label("Height:", du(152, 23, 40, 15), this);
    MakeEdit(kHeightId, CNumericEdit::NES_SPIN, du(198, 23, 57, 15));
    Label("px", du(258, 23, 15, 15), this);
    Label("Framerate:", du(152, 39, 40, 15), this);
    m_frameRates = new QComboBox(this);
    m_frameRates->setGeometry(du(198, 39, 57, 14));
    Label("fps", du(258, 39, 15, 15), this);

    m_sharpenBox = new QCheckBox("Sharpen", this);
    m_sharpenBox->setGeometry(du(217, 56, 56, 10));
    m_reductionBox = new QCheckBox("Reduction", this);
    m_reductionBox->setGeometry(du(151, 56, 56, 10));
    for (QCheckBox* box : {m_sharpenBox, m_reductionBox}) {
        box->setLayoutDirection(Qt::RightToLeft); // text on the left
        box->hide();
    }
    m_warning = Label("Performance warning", du(153, 68, 120, 8), this);
    QPalette red = m_warning->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    m_warning->setPalette(red);
    m_warning->hide();

    Label("Position:", du(152, 95, 40, 15), this)->hide();
    const struct {
        RegionMove move;
        Qt::ArrowType arrow;
        QRect place;
    } moves[] = {
        {RegionMove::kLeft, Qt::LeftArrow, du(197, 97, 13, 10)},
        {RegionMove::kUp, Qt::UpArrow, du(213, 84, 13, 10)},
        {RegionMove::kRight, Qt::RightArrow, du(229, 97, 13, 10)},
        {RegionMove::kDown, Qt::DownArrow, du(213, 110, 13, 10)},
        {RegionMove::kCentre, Qt::NoArrow, du(213, 97, 13, 10)},
    };
    for (const auto& m : moves) {
        auto* button = new QToolButton(this);
        button->setArrowType(m.arrow);
        button->setGeometry(m.place);
        button->hide();
        const RegionMove move = m.move;
        connect(button, &QToolButton::clicked, this, [this, move] { OnMove(move); });
    }

    m_load = Button("Load Settings", du(171, 125, 50, 14), this);
    m_save = Button("Save Settings", du(223, 125, 50, 14), this);

    connect(m_whiteBalance, &QPushButton::clicked, this, &CCameraProperties::OnAutoWhiteBalance);
    connect(m_load, &QPushButton::clicked, this, &CCameraProperties::OnLoadSettings);
    connect(m_save, &QPushButton::clicked, this, &CCameraProperties::OnSaveSettings);
    connect(m_frameRates, &QComboBox::activated, this, &CCameraProperties::OnFrameRateChosen);
    connect(m_sharpenBox, &QCheckBox::clicked, this, &CCameraProperties::OnSharpen);
    connect(m_reductionBox, &QCheckBox::clicked, this, &CCameraProperties::OnReduction);
    connect(&m_timer, &QTimer::timeout, this, &CCameraProperties::CheckPerformance);
}

void CCameraProperties::Initialise() {
    // The edits' own notifications while they are filled are ignored (not initialised yet).
    Edit(kExposureId).SetRange(1, kExposureMax);
    Edit(kExposureId).SetPos(ExposureTenths(m_cameraSettings.Exposure));
    for (int id = kGainId; id <= kBlueId; ++id)
        Edit(ControlId(id)).SetRange(kGainMin, kGainMax);
    ShowGains(m_gain, m_redGain, m_greenGain1, m_greenGain2, m_blueGain);

    const uint32_t reduction = std::max<uint32_t>(m_cameraSettings.Reduction, 1);
    const auto sizeEdit = [&](ControlId id, float sensor, uint32_t size) {
        Edit(id).SetRange(kSizeMin, int(uint32_t(sensor) / reduction));
        Edit(id).SetPos(int(size / reduction));
        Edit(id).SetStep(kSizeStep);
    };
    sizeEdit(kWidthId, m_camera.MaxWidth(), m_cameraSettings.Width);
    sizeEdit(kHeightId, m_camera.MaxHeight(), m_cameraSettings.Height);

    m_sharpen = m_cameraSettings.Sharpen;
    m_sharpenBox->setChecked(m_sharpen == 2);
    m_reduction = m_cameraSettings.Reduction;
    m_reductionBox->setChecked(m_reduction == 2);
    FillFrameRates(m_cameraSettings.Framerate);
    m_initialised = true;
    m_timer.start(kTimerPeriodMs);
}

void CCameraProperties::ShowGains(int32_t gain, int32_t red, int32_t green1, int32_t green2,
                                  int32_t blue) {
    Edit(kGainId).SetPos(gain);
    Edit(kRedId).SetPos(red);
    Edit(kGreen1Id).SetPos(green1);
    Edit(kGreen2Id).SetPos(green2);
    Edit(kBlueId).SetPos(blue);
}

void CCameraProperties::FillFrameRates(float rate) {
    const uint32_t count = m_camera.FrameRateCount();
    if (count == 0)
        return;
    std::vector<float> rates(count);
    m_camera.ListFrameRates(rates);
    m_frameRates->clear();
    int selected = 0;
    for (uint32_t i = 0; i < count; ++i) {
        // Shown as whole frames per second, rounded up: 7.5 is 8, 29.97 is 30.
        const int whole = int(std::ceil(rates[i]));
        m_frameRates->addItem(QString::number(whole), whole);
        if (float(whole) == rate || rates[i] == m_cameraSettings.Framerate)
            selected = int(i);
    }
    m_frameRates->setCurrentIndex(selected);
}

void CCameraProperties::OnFrameRateChosen(int index) {
    // The camera snaps the whole number to the nearest rate it has and reports that one back.
    m_cameraSettings.Framerate = float(m_frameRates->itemText(index).toInt());
    m_hooks.applySettings();
}

void CCameraProperties::OnEditChanged(int identifier, int value) {
    if (!m_initialised)
        return;
    ICameraApi& api = m_camera.Api();
    const CameraHandle handle = m_camera.Handle();
    switch (identifier) {
    case kExposureId:
        // The stream goes on: exposure needs no restart.
        api.SetProperty(handle, kPropExposure, float(value / 10.0), 0);
        m_cameraSettings.Exposure = float(value / 10.0);
        break;
    case kGainId: {
        if (m_showingLoadedGains)
            break;
        // Master and all four channel gains become equal.
        const auto factor = float(value / 1000.0);
        for (uint32_t property :
             {kPropGain, kPropGainRed, kPropGainGreen1, kPropGainGreen2, kPropGainBlue}) {
            api.SetProperty(handle, property, factor, 0);
        }
        KeepGainsInRecord();
        break;
    }
    case kWidthId:
    case kHeightId:
        OnSizeChanged(ControlId(identifier), value);
        break;
    default:
        break; // the channel edits only show the camera's gains
    }
}

void CCameraProperties::OnSizeChanged(ControlId id, int value) {
    const uint32_t size = uint32_t(value) * std::max<uint32_t>(m_cameraSettings.Reduction, 1);
    if (size % kRegionStep != 0)
        return;
    m_camera.ReadFormat(m_cameraSettings);
    uint32_t& current = id == kWidthId ? m_cameraSettings.Width : m_cameraSettings.Height;
    if (size == current)
        return;
    current = size;
    // The new region is centred on the sensor.
    m_cameraSettings.XOffset = CentredOffset(m_camera.MaxWidth(), m_cameraSettings.Width);
    m_cameraSettings.YOffset = CentredOffset(m_camera.MaxHeight(), m_cameraSettings.Height);
    if (!m_hooks.applySettings())
        return;
    m_hooks.setupPreview();
    FillFrameRates(m_cameraSettings.Framerate);
}

void CCameraProperties::OnAutoWhiteBalance() {
    m_camera.Api().OneShotAutoWhiteBalance(m_camera.Handle(), 0, 0, m_cameraSettings.Width,
                                           m_cameraSettings.Height);
    m_camera.ReadGains(m_gain, m_redGain, m_greenGain1, m_greenGain2, m_blueGain);
    ShowGains(m_gain, m_redGain, m_greenGain1, m_greenGain2, m_blueGain);
    KeepGainsInRecord();
}

void CCameraProperties::KeepGainsInRecord() {
    // Every later ApplySettings sends the record's gains, and the record is what settings.ini
    // keeps: without this a size or frame-rate change, or the next start, would undo the gains
    // set here.
    int32_t gains[5] = {int32_t(m_cameraSettings.Gain), int32_t(m_cameraSettings.RedGain),
                        int32_t(m_cameraSettings.GreenGain1), int32_t(m_cameraSettings.GreenGain2),
                        int32_t(m_cameraSettings.BlueGain)};
    m_camera.ReadGains(gains[0], gains[1], gains[2], gains[3], gains[4]);
    m_cameraSettings.Gain = uint32_t(gains[0]);
    m_cameraSettings.RedGain = uint32_t(gains[1]);
    m_cameraSettings.GreenGain1 = uint32_t(gains[2]);
    m_cameraSettings.GreenGain2 = uint32_t(gains[3]);
    m_cameraSettings.BlueGain = uint32_t(gains[4]);
}

void CCameraProperties::CheckPerformance() {
    const int32_t frameTime = m_cameraSettings.FrameTimeMs;
    const float rate = m_cameraSettings.Framerate;
    if (frameTime == -1 || !(rate > 0.0f))
        return;
    // Whole milliseconds per frame; at least 1, so rates above 1000 fps still give a load.
    const int interval = std::max(1, int(1000.0 / double(rate)));
    const int load = int(double(frameTime) / interval * 100.0);
    if (load > kWarningLoadPercent) {
        m_warning->setText(QString("Performance warning: %1%").arg(load));
        m_warning->show();
    } else {
        m_warning->hide();
    }
}

void CCameraProperties::OnSaveSettings() {
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(kIniFilter);
    dialog.setDefaultSuffix("ini");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().first();
    if (!path.isEmpty())
        SaveSettingsTo(path);
}

bool CCameraProperties::SaveSettingsTo(const QString& path) {
    // The gains the camera has now, and the sharpening as this dialog holds it.
    CameraSettings saved = m_cameraSettings;
    int32_t gains[5] = {int32_t(saved.Gain), int32_t(saved.RedGain), int32_t(saved.GreenGain1),
                        int32_t(saved.GreenGain2), int32_t(saved.BlueGain)};
    m_camera.ReadGains(gains[0], gains[1], gains[2], gains[3], gains[4]);
    saved.Gain = uint32_t(gains[0]);
    saved.RedGain = uint32_t(gains[1]);
    saved.GreenGain1 = uint32_t(gains[2]);
    saved.GreenGain2 = uint32_t(gains[3]);
    saved.BlueGain = uint32_t(gains[4]);
    saved.Sharpen = m_sharpen;
    return SaveSettingsFile(path.toStdString(), m_appSettings, saved);
}

void CCameraProperties::OnLoadSettings() {
    QFileDialog dialog(this);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(kIniFilter);
    dialog.setDefaultSuffix("ini");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().first();
    if (!path.isEmpty())
        LoadSettingsFrom(path);
}

void CCameraProperties::LoadSettingsFrom(const QString& path) {
    GainValues gains;
    if (LoadCameraSettingsFile(path.toStdString(), m_appSettings, m_cameraSettings, gains) !=
        CameraFileLoad::kAll) {
        return;
    }
    if (!m_hooks.applySettings())
        return;
    SendGains(gains);
    KeepGainsInRecord();

    const uint32_t reduction = std::max<uint32_t>(m_cameraSettings.Reduction, 1);
    Edit(kWidthId).SetPos(int(m_cameraSettings.Width / reduction));
    Edit(kHeightId).SetPos(int(m_cameraSettings.Height / reduction));
    Edit(kExposureId).SetPos(ExposureTenths(m_cameraSettings.Exposure));
    // The camera has the loaded channel gains: showing the master gain must not overwrite them.
    m_showingLoadedGains = true;
    ShowGains(int32_t(gains.gain), int32_t(gains.red), int32_t(gains.green1), int32_t(gains.green2),
              int32_t(gains.blue));
    m_showingLoadedGains = false;
    m_hooks.setupPreview();
    FillFrameRates(m_cameraSettings.Framerate);
    m_sharpen = m_cameraSettings.Sharpen;
    m_sharpenBox->setChecked(m_sharpen == 2);
}

void CCameraProperties::SendGains(const GainValues& gains) {
    const struct {
        uint32_t property;
        uint32_t value;
    } order[] = {{kPropGain, gains.gain},
                 {kPropGainRed, gains.red},
                 {kPropGainGreen1, gains.green1},
                 {kPropGainGreen2, gains.green2},
                 {kPropGainBlue, gains.blue}};
    for (const auto& g : order) {
        m_camera.Api().SetProperty(m_camera.Handle(), g.property, float(g.value / 1000.0), 0);
    }
}

// The hidden controls below cannot be reached by the operator; they keep their behaviour for
// a template that shows them.

void CCameraProperties::OnSharpen(bool checked) {
    m_sharpen = checked ? 2 : 1;
    m_cameraSettings.Sharpen = m_sharpen;
    m_hooks.applySettings();
}

void CCameraProperties::OnReduction(bool checked) {
    m_reduction = checked ? 2 : 1;
    const auto sensorWidth = uint32_t(m_camera.MaxWidth());
    const auto sensorHeight = uint32_t(m_camera.MaxHeight());
    const int w = Edit(kWidthId).GetPos();
    const int h = Edit(kHeightId).GetPos();
    for (auto [id, sensor] :
         {std::pair{kWidthId, sensorWidth}, std::pair{kHeightId, sensorHeight}}) {
        const int most = int(sensor / m_reduction);
        Edit(id).SetRange(kSizeMin, most);
        if (Edit(id).GetPos() > most)
            Edit(id).SetPos(most);
    }
    m_cameraSettings.Width = std::min(m_reduction * uint32_t(w), sensorWidth);
    m_cameraSettings.Height = std::min(m_reduction * uint32_t(h), sensorHeight);
    m_cameraSettings.Framerate = 1.0f;
    m_cameraSettings.XOffset = CentredOffset(float(sensorWidth), m_cameraSettings.Width);
    m_cameraSettings.YOffset = CentredOffset(float(sensorHeight), m_cameraSettings.Height);
    m_cameraSettings.Reduction = m_reduction;
    m_hooks.applySettings();
    m_hooks.setupPreview();
}

void CCameraProperties::OnMove(RegionMove move) {
    m_camera.MoveRegion(move, m_cameraSettings);
}

} // namespace quillon
