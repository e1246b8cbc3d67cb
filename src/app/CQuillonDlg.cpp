#include "CQuillonDlg.h"

#include <QApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>

#include "settings/SettingsFile.h"
#include "ui/CAboutDlg.h"
#include "ui/CCameraProperties.h"
#include "ui/CNumericEdit.h"
#include "ui/CPreferencesDlg.h"

// The images live in a static library; the linker keeps them only when they are named.
static void LoadImages() {
    Q_INIT_RESOURCE(quillon);
}

namespace quillon {
namespace {

constexpr const char* kAppTitle = "Quillon ID";
constexpr const char* kWindowCaption = "Velmar Video ID";
constexpr const char* kNoMemoryText = "Could not allocate enough image buffer memory!";
constexpr const char* kNoPortText = "No port available to listen.";

// The window keeps the arrangement of its original dialog template, laid out in dialog units
// of an 8-point dialog font: 1.5 pixels across and 1.625 pixels down per unit.
QRect FromDialogUnits(int x, int y, int width, int height) {
    const auto across = [](int units) { return int(units * 1.5 + 0.5); };
    const auto down = [](int units) { return int(units * 1.625 + 0.5); };
    return {across(x), down(y), across(width), down(height)};
}

constexpr QPoint kPreviewOrigin(5, 70);
constexpr int kMinPreviewSide = 200;

QIcon ButtonIcon(const QString& name) {
    QIcon icon(":/IDB_" + name + "U.png");
    icon.addFile(":/IDB_" + name + "X.png", QSize(), QIcon::Disabled);
    if (name == "SAVE")
        icon.addFile(":/IDB_SAVED.png", QSize(), QIcon::Active, QIcon::On);
    return icon;
}

QLabel* ImageLabel(const QString& resource, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setPixmap(QPixmap(resource));
    return label;
}

} // namespace

CQuillonDlg::CQuillonDlg(const ProgramOptions& options, const TickSource& ticks)
    : m_options(options),
      m_settingsPath(options.settingsPath.empty() ? SettingsPath() : options.settingsPath),
      m_engine(ticks) {
    LoadImages();
    m_engine.SetShareConfig(options.smbConf);
    setWindowTitle(kWindowCaption);
    setWindowIcon(QIcon(":/quillon.png"));
    BuildMenu();
    BuildControls();
    m_engine.SetView(this);
    m_titleTimer.setInterval(1000);
    connect(&m_titleTimer, &QTimer::timeout, this, &CQuillonDlg::UpdateTitle);
    m_endTimer.setInterval(100);
    connect(&m_endTimer, &QTimer::timeout, this, &CQuillonDlg::CloseModalWidgets);
    if (!m_engine.AllocateFrameStores()) {
        ShowMessageBox(kNoMemoryText);
        return;
    }
    m_usable = true;
}

CQuillonDlg::~CQuillonDlg() {
    if (m_engine.HasRecorder() && !m_engine.IsEveryFrame())
        m_engine.StopSaveWorker();
    // An end from outside during start-up still keeps the settings read, as the camera has them.
    m_engine.Shutdown(m_initialised || (m_ending && m_settingsLoaded), m_settingsPath);
    m_engine.SetView(nullptr);
}

void CQuillonDlg::BuildMenu() {
    auto* menuBar = new QMenuBar(this);
    QMenu* file = menuBar->addMenu("&File");
    m_cameraPropertiesAction = file->addAction("&Camera Properties...");
    m_preferencesAction = file->addAction("&Preferences...");
    connect(m_cameraPropertiesAction, &QAction::triggered, this, &CQuillonDlg::OnCameraProperties);
    connect(m_preferencesAction, &QAction::triggered, this, &CQuillonDlg::OnPreferences);
    file->addSeparator();
    connect(file->addAction("&Close"), &QAction::triggered, this, &QDialog::reject);
    QMenu* help = menuBar->addMenu("&Help");
    m_aboutAction = help->addAction("&About Quillon ID...");
    connect(m_aboutAction, &QAction::triggered, this, &CQuillonDlg::OnAbout);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(menuBar);
    m_canvas = new QWidget(this);
    layout->addWidget(m_canvas);
}

QToolButton* CQuillonDlg::MakeRaceButton(const QString& image, const QString& tip) {
    auto* button = new QToolButton(m_canvas);
    button->setIcon(ButtonIcon(image));
    button->setIconSize(QSize(20, 19));
    button->setToolTip(tip);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

void CQuillonDlg::BuildControls() {
    m_saveButton = MakeRaceButton("SAVE", "Save");
    m_readyButton = MakeRaceButton("READY", "Ready");
    m_startButton = MakeRaceButton("START", "Start");
    m_arrivalButton = MakeRaceButton("ARRIVAL", "Arrival");
    m_elapsed = new QLabel("00:00:00", m_canvas);
    m_portLabel = new QLabel("Port:", m_canvas);
    m_port = new QLineEdit(m_canvas);
    m_port->setEnabled(false);
    m_hostLabel = new QLabel("Velmar:", m_canvas);
    m_status = new QLabel("No Velmar connected...", m_canvas);
    m_sharedMemory = new QCheckBox("Shared memory", m_canvas);
    m_sharedMemory->setVisible(false);
    auto* sun = ImageLabel(":/IDB_BRIGHTNESS.png", m_canvas);
    auto* disc = ImageLabel(":/IDB_CONTRAST.png", m_canvas);
    const unsigned style = CNumericEdit::NES_SPIN | CNumericEdit::NES_POPUP;
    m_brightness = new CNumericEdit(kBrightnessId, style, m_canvas);
    m_contrast = new CNumericEdit(kContrastId, style, m_canvas);
    m_auto = new QCheckBox("Auto", m_canvas);
    m_preview = new PreviewWidget(m_canvas);

    // Rectangles of the original template, in dialog units.
    m_saveButton->setGeometry(FromDialogUnits(2, 7, 14, 12));
    m_readyButton->setGeometry(FromDialogUnits(41, 7, 14, 12));
    m_startButton->setGeometry(FromDialogUnits(55, 7, 14, 12));
    m_arrivalButton->setGeometry(FromDialogUnits(69, 7, 14, 12));
    // The elapsed time and the port label sit a little wider apart than in the template so that
    // "00:00:00" fits in common Linux fonts.
    m_elapsed->setGeometry(FromDialogUnits(88, 7, 40, 11));
    m_portLabel->setGeometry(FromDialogUnits(128, 7, 18, 11));
    m_port->setGeometry(FromDialogUnits(147, 7, 34, 12));
    m_hostLabel->setGeometry(FromDialogUnits(188, 7, 34, 11));
    m_status->setGeometry(FromDialogUnits(224, 7, 99, 11));
    m_sharedMemory->setGeometry(FromDialogUnits(315, 7, 67, 11));
    sun->setGeometry(FromDialogUnits(2, 24, 17, 12));
    m_brightness->setGeometry(FromDialogUnits(20, 24, 57, 15));
    m_auto->setGeometry(FromDialogUnits(80, 25, 33, 12));
    disc->setGeometry(FromDialogUnits(142, 24, 17, 12));
    m_contrast->setGeometry(FromDialogUnits(160, 24, 57, 15));
    m_preview->move(kPreviewOrigin);
    m_preview->SetImageSize(0, 0);
    m_canvas->setMinimumSize(FromDialogUnits(0, 0, 330, 40).size());

    RaceStateMachine& race = m_engine.Race();
    connect(m_readyButton, &QToolButton::clicked, this, [&race] { race.OnReadyButton(); });
    connect(m_startButton, &QToolButton::clicked, this, [&race] { race.OnStartButton(); });
    connect(m_arrivalButton, &QToolButton::clicked, this, [&race] { race.OnArrivalButton(); });
    connect(m_saveButton, &QToolButton::clicked, this, &CQuillonDlg::OnSaveButton);
    connect(m_auto, &QCheckBox::clicked, this, &CQuillonDlg::OnAutoClicked);
    connect(m_sharedMemory, &QCheckBox::clicked, this, &CQuillonDlg::OnSharedMemoryClicked);
    connect(m_brightness, &CNumericEdit::changed, this, &CQuillonDlg::OnEditChanged);
    connect(m_contrast, &CNumericEdit::changed, this, &CQuillonDlg::OnEditChanged);
}

bool CQuillonDlg::OnInitDialog() {
    if (!m_usable)
        return false;
    // The camera comes first: without one the recorder has nothing to record.
    // Every step that can show a box ends the start-up when a stop came meanwhile.
    const CameraStartResult camera = m_engine.StartCamera(m_options.camera);
    if (camera == CameraStartResult::kNotConnected || m_ending)
        return false;
    m_engine.LoadSettings(m_settingsPath);
    m_settingsLoaded = true;
    if (m_engine.HasCamera()) {
        if (m_engine.ApplyCameraSettings() && !m_ending)
            SetupPreview();
        if (m_ending)
            return false;
        // Only a recorder with a camera listens for a host.
        if (!m_engine.StartListening())
            ShowMessageBox(kNoPortText);
        if (m_ending)
            return false;
    }
    RefreshControls();
    CreateAdjustControls();
    m_engine.CreatePerformanceLog();
    m_titleTimer.start();
    m_initialised = true;
    if (m_options.sharedMemory)
        m_sharedMemory->click();
    return true;
}

void CQuillonDlg::OnSharedMemoryClicked() {
    TakeControlValues();
    const bool on = m_sharedMemory->isChecked();
    m_engine.SetSharedMemoryMode(on);
    // The TCP link's controls say nothing while the host steers through shared memory.
    for (QWidget* control : {static_cast<QWidget*>(m_portLabel), static_cast<QWidget*>(m_port),
                             static_cast<QWidget*>(m_hostLabel), static_cast<QWidget*>(m_status)}) {
        control->setVisible(!on);
    }
}

void CQuillonDlg::CreateAdjustControls() {
    CameraSettings& camera = m_engine.Camera();
    m_brightness->SetRange(-255, 255);
    m_brightness->SetPos(camera.Brightnes);
    const bool automatic = camera.AutoCorrection != 0;
    m_auto->setChecked(automatic);
    m_brightness->SetReadOnly(automatic);
    if (automatic)
        camera.MeanValue = -1;
    m_engine.Pipeline()->SetAutoBrightness(automatic);
    m_contrast->SetRange(0, 900);
    m_contrast->SetPos(camera.Contrast);
}

void CQuillonDlg::OnAutoClicked() {
    CameraSettings& camera = m_engine.Camera();
    // The check mark follows the recorder's state, not the click by itself.
    const bool automatic = camera.AutoCorrection == 0;
    m_auto->setChecked(automatic);
    m_brightness->SetReadOnly(automatic);
    camera.AutoCorrection = automatic ? 1 : 0;
    if (automatic)
        camera.MeanValue = -1;
    m_engine.Pipeline()->SetAutoBrightness(automatic);
}

void CQuillonDlg::OnEditChanged(int identifier, int position) {
    if (!m_initialised)
        return;
    if (identifier == kBrightnessId)
        m_engine.Camera().Brightnes = position;
    if (identifier == kContrastId)
        m_engine.Camera().Contrast = position;
}

void CQuillonDlg::TakeControlValues() {
    m_engine.App().Port = m_port->text().toInt();
    m_status->setText(QString::fromStdString(m_engine.Status()));
}

void CQuillonDlg::RefreshControls() {
    m_port->setText(QString::number(uint32_t(m_engine.App().Port)));
    m_sharedMemory->setChecked(m_engine.Link().IsSharedMemoryMode());
    m_status->setText(QString::fromStdString(m_engine.Status()));
}

void CQuillonDlg::EnableRaceButton(RaceButton button, bool enabled) {
    switch (button) {
    case RaceButton::Ready:
        m_readyButton->setEnabled(enabled);
        break;
    case RaceButton::Start:
        m_startButton->setEnabled(enabled);
        break;
    case RaceButton::Arrival:
        m_arrivalButton->setEnabled(enabled);
        break;
    }
}

void CQuillonDlg::EnableSetupCommands(bool enabled) {
    m_cameraPropertiesAction->setEnabled(enabled);
    m_preferencesAction->setEnabled(enabled);
}

void CQuillonDlg::ShowElapsedTime(const std::string& text) {
    m_elapsed->setText(QString::fromStdString(text));
}

void CQuillonDlg::ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) {
    m_preview->ShowFrame(bgr, width, height);
}

void CQuillonDlg::ShowBrightness(int32_t brightness) {
    m_brightness->SetPos(brightness);
}

void CQuillonDlg::SetupPreview() {
    // The window fits the screen it opens on: a large image is shown scaled down, keeping its
    // aspect ratio (recordings keep their full size). The room left for the preview is the
    // screen less the controls above it and the window's frame.
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1280, 1024);
    constexpr int kFrameAllowance = 60; // title bar, menu and borders
    const uint32_t scale = PreviewScaleToFit(
        ReducedGeometry(m_engine.Camera()),
        uint32_t(std::max(1, room.width() - 2 * kPreviewOrigin.x() - kFrameAllowance / 3)),
        uint32_t(std::max(1, room.height() - kPreviewOrigin.y() - 5 - kFrameAllowance)));
    m_engine.Pipeline()->SetPreviewScale(scale);
    const ImageGeometry image = PreviewGeometry(m_engine.Camera(), scale);
    m_preview->SetImageSize(image.width, image.height);
    // The preview with a small margin, never narrower than the row of controls above it.
    const int width = std::max({int(image.width), kMinPreviewSide}) + 2 * kPreviewOrigin.x();
    const int height = std::max(int(image.height), kMinPreviewSide) + kPreviewOrigin.y() + 5;
    m_canvas->setFixedSize(std::max(width, m_canvas->minimumWidth()), height);
    adjustSize();
}

void CQuillonDlg::ShowHostStatus(const std::string&, bool hostConnected) {
    m_saveButton->setVisible(!hostConnected);
    RefreshControls();
}

void CQuillonDlg::UpdateTitle() {
    // Frames lost for recording; frames the preview skipped are not counted here.
    const uint64_t dropped = m_engine.DroppedFrames();
    if (dropped == m_shownDropped)
        return;
    m_shownDropped = dropped;
    // A machine too slow for the frame rate shows itself here.
    setWindowTitle(QString("%1 - %2 frames dropped").arg(kWindowCaption).arg(dropped));
}

void CQuillonDlg::OnSaveButton() {
    const QString target = QFileDialog::getSaveFileName(this, QString(), QString(), QString(),
                                                        nullptr, QFileDialog::DontUseNativeDialog);
    // Nothing is copied yet: the operator is told which file it would be (no path without a
    // recording).
    const Recording* recording = m_engine.Saving().Recorder();
    if (!target.isEmpty()) {
        ShowMessageBox("Copy file from " +
                       QString::fromStdString(recording ? recording->Path() : std::string()));
    }
    m_engine.Race().OnIdle();
}

void CQuillonDlg::OnCameraProperties() {
    CCamera* camera = m_engine.Device();
    if (camera == nullptr)
        return;
    const int32_t ringLength = m_engine.App().BufferLenght;
    CameraPropertiesHooks hooks{[this] { return m_engine.ApplyCameraSettings(); },
                                [this] { SetupPreview(); }};
    CCameraProperties dialog(*camera, m_engine.Camera(), m_engine.App(), std::move(hooks), this);
    if (dialog.exec() == QDialog::Accepted)
        SetupPreview();
    // A loaded settings file may bring another ring length: the ring takes it now, between
    // races, rather than a length it was never made with.
    if (m_engine.App().BufferLenght != ringLength)
        m_engine.RebuildRing();
}

void CQuillonDlg::OnPreferences() {
    CPreferencesDlg dialog(m_engine.App(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    dialog.ApplyTo(m_engine.App());
    m_engine.RebuildRing();
}

void CQuillonDlg::OnAbout() {
    CCamera* camera = m_engine.Device();
    CAboutDlg about(camera ? camera->SerialNumberText() : std::string(), this);
    about.exec();
}

void CQuillonDlg::keyPressEvent(QKeyEvent* event) {
    // Enter does nothing in this window; Escape still closes it.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        return;
    QDialog::keyPressEvent(event);
}

void CQuillonDlg::ShowMessageBox(const QString& text) {
    // Every message also goes to the standard error, where a service manager logs it. Without
    // a screen (the offscreen platform) nobody could press OK, so nothing waits for it; nor
    // while the program ends.
    std::fprintf(stderr, "%s: %s\n", kAppTitle, qPrintable(text));
    if (m_ending || QGuiApplication::platformName() == "offscreen")
        return;
    QMessageBox::information(this, kAppTitle, text, QMessageBox::Ok);
}

void CQuillonDlg::EndFromOutside() {
    m_ending = true;
    CloseModalWidgets();
    m_endTimer.start();
    reject();
}

void CQuillonDlg::CloseModalWidgets() {
    // Top box first: once hidden it leaves Qt's modal stack, and the one below comes up. Each
    // closed box's own event loop ends when control returns to it. A widget that refuses to
    // close is hidden; the bound only guards against a box that keeps coming back.
    for (int guard = 0; guard < 100; ++guard) {
        QWidget* top = QApplication::activeModalWidget();
        if (top == nullptr || top == this)
            return;
        if (auto* dialog = qobject_cast<QDialog*>(top)) {
            dialog->reject();
        } else {
            top->close();
        }
        if (QApplication::activeModalWidget() == top)
            top->hide();
    }
}

} // namespace quillon
