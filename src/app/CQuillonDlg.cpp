#include "CQuillonDlg.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QVBoxLayout>

#include <cstdio>

#include "settings/SettingsFile.h"

// The images live in a static library; the linker keeps them only when they are named.
static void LoadImages() { Q_INIT_RESOURCE(quillon); }

namespace quillon {
namespace {

constexpr const char* kAppTitle = "Quillon ID";
constexpr const char* kWindowCaption = "Velmar Video ID";
constexpr const char* kNoMemoryText = "Could not allocate enough image buffer memory!";
constexpr const char* kNoPortText = "No port available to listen.";

QIcon ButtonIcon(const QString& name) {
    QIcon icon(":/IDB_" + name + "U.png");
    icon.addFile(":/IDB_" + name + "X.png", QSize(), QIcon::Disabled);
    return icon;
}

}  // namespace

CQuillonDlg::CQuillonDlg(const ProgramOptions& options, const TickSource& ticks)
    : m_options(options), m_engine(ticks) {
    LoadImages();
    setWindowTitle(kWindowCaption);
    setWindowIcon(QIcon(":/quillon.png"));
    BuildControls();
    m_engine.SetView(this);
    if (!m_engine.AllocateFrameStores()) {
        ShowMessageBox(kNoMemoryText);
        return;
    }
    m_bUsable = true;
}

CQuillonDlg::~CQuillonDlg() {
    if (m_engine.HasRecorder() && !m_engine.IsEveryFrame()) m_engine.StopSaveWorker();
    m_engine.Shutdown(m_bInitialised, SettingsPath());
    m_engine.SetView(nullptr);
}

QToolButton* CQuillonDlg::MakeRaceButton(const QString& image, const QString& tip) {
    auto* button = new QToolButton(this);
    button->setIcon(ButtonIcon(image));
    button->setIconSize(QSize(20, 19));
    button->setToolTip(tip);
    button->setAutoRaise(false);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

void CQuillonDlg::BuildControls() {
    m_saveButton = MakeRaceButton("SAVE", "Save");
    m_readyButton = MakeRaceButton("READY", "Ready");
    m_startButton = MakeRaceButton("START", "Start");
    m_arrivalButton = MakeRaceButton("ARRIVAL", "Arrival");
    m_elapsed = new QLabel("00:00:00", this);
    m_port = new QLineEdit(this);
    m_port->setEnabled(false);
    m_port->setFixedWidth(60);
    m_status = new QLabel(RecorderEngine::kNoHostText, this);
    m_sharedMemory = new QCheckBox("Shared memory", this);
    m_sharedMemory->setVisible(false);

    auto* row = new QHBoxLayout;
    row->addWidget(m_saveButton);
    row->addSpacing(20);
    row->addWidget(m_readyButton);
    row->addWidget(m_startButton);
    row->addWidget(m_arrivalButton);
    row->addSpacing(8);
    row->addWidget(m_elapsed);
    row->addSpacing(12);
    row->addWidget(new QLabel("Port:", this));
    row->addWidget(m_port);
    row->addSpacing(12);
    row->addWidget(new QLabel("Velmar:", this));
    row->addWidget(m_status, 1);
    row->addWidget(m_sharedMemory);
    m_preview = new PreviewWidget(this);
    auto* column = new QVBoxLayout(this);
    column->addLayout(row);
    column->addWidget(m_preview);
    column->addStretch(1);

    RaceStateMachine& race = m_engine.Race();
    connect(m_readyButton, &QToolButton::clicked, this, [&race] { race.OnReadyButton(); });
    connect(m_startButton, &QToolButton::clicked, this, [&race] { race.OnStartButton(); });
    connect(m_arrivalButton, &QToolButton::clicked, this, [&race] { race.OnArrivalButton(); });
    connect(m_saveButton, &QToolButton::clicked, this, &CQuillonDlg::OnSaveButton);
}

bool CQuillonDlg::OnInitDialog() {
    if (!m_bUsable) return false;
    // The camera comes first: without one the recorder has nothing to record.
    const CameraStartResult camera = m_engine.StartCamera(m_options.camera);
    if (camera == CameraStartResult::kNotConnected) return false;
    m_engine.LoadSettings(SettingsPath());
    if (m_engine.HasCamera()) {
        if (m_engine.ApplyCameraSettings()) SetupPreview();
        // Only a recorder with a camera listens for a host.
        if (!m_engine.StartListening()) ShowMessageBox(kNoPortText);
    }
    RefreshControls();
    m_bInitialised = true;
    return true;
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
        case RaceButton::Ready: m_readyButton->setEnabled(enabled); break;
        case RaceButton::Start: m_startButton->setEnabled(enabled); break;
        case RaceButton::Arrival: m_arrivalButton->setEnabled(enabled); break;
    }
}

void CQuillonDlg::EnableSetupCommands(bool) {
    // The Preferences and Camera Properties menu items come with the full window.
}

void CQuillonDlg::ShowElapsedTime(const std::string& text) {
    m_elapsed->setText(QString::fromStdString(text));
}

void CQuillonDlg::ShowFrame(const uint8_t* bgr, uint32_t width, uint32_t height) {
    m_preview->ShowFrame(bgr, width, height);
}

void CQuillonDlg::SetupPreview() {
    const ImageGeometry image = ReducedGeometry(m_engine.Camera());
    m_preview->SetImageSize(image.width, image.height);
}

void CQuillonDlg::ShowHostStatus(const std::string&, bool hostConnected) {
    m_saveButton->setVisible(!hostConnected);
    RefreshControls();
}

void CQuillonDlg::OnSaveButton() {
    const QString target = QFileDialog::getSaveFileName(this, QString(), QString(), QString(),
                                                        nullptr, QFileDialog::DontUseNativeDialog);
    if (!target.isEmpty()) {
        ShowMessageBox("Copy file from " + QString::fromStdString(m_engine.FileName()));
    }
    m_engine.Race().OnIdle();
}

void CQuillonDlg::keyPressEvent(QKeyEvent* event) {
    // Enter does nothing in this window; Escape still closes it.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    QDialog::keyPressEvent(event);
}

void CQuillonDlg::ShowMessageBox(const QString& text) {
    // Every message also goes to the standard error, where a service manager logs it. Without
    // a screen (the offscreen platform) nobody could press OK, so nothing waits for it.
    std::fprintf(stderr, "%s: %s\n", kAppTitle, qPrintable(text));
    if (QGuiApplication::platformName() == "offscreen") return;
    QMessageBox::information(this, kAppTitle, text, QMessageBox::Ok);
}

}  // namespace quillon
