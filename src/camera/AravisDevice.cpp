#include "camera/AravisDevice.h"

#include "camera/AravisMapping.h"

#include <arv.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>

namespace quillon {

namespace {

constexpr double kMicrosecondsPerMs = 1000.0;
constexpr char kStreamThreadName[] = "quillon-arvcam";
constexpr char kReleaseThreadName[] = "quillon-arvgone";
constexpr int kStreamThreadNice = -10;
constexpr char kControlLostKey[] = "quillon-control-lost";

// The camera's 8-bit Bayer formats in the order we prefer them, with their tiles.
struct BayerFormat {
    ArvPixelFormat format;
    BayerPattern pattern;
};
constexpr BayerFormat kBayerFormats[] = {
    {ARV_PIXEL_FORMAT_BAYER_RG_8, BayerPattern::kRggb},
    {ARV_PIXEL_FORMAT_BAYER_BG_8, BayerPattern::kBggr},
    {ARV_PIXEL_FORMAT_BAYER_GB_8, BayerPattern::kGbrg},
    {ARV_PIXEL_FORMAT_BAYER_GR_8, BayerPattern::kGrbg},
};

std::optional<BayerPattern> PatternOf(ArvPixelFormat format) {
    for (const BayerFormat& bayer : kBayerFormats) {
        if (bayer.format == format) {
            return bayer.pattern;
        }
    }
    return std::nullopt;
}

// An Aravis error out-parameter that frees itself; true when the call went through.
class Status {
public:
    Status() = default;
    ~Status() { Clear(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    GError** Out() {
        Clear();
        return &m_error;
    }
    bool Ok() const { return m_error == nullptr; }
    std::string Text() const { return m_error != nullptr ? m_error->message : std::string(); }

private:
    void Clear() {
        if (m_error != nullptr) {
            g_error_free(m_error);
            m_error = nullptr;
        }
    }
    GError* m_error = nullptr;
};

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

// Aravis keeps one process-wide device list; searching it from two threads at once is not safe.
std::mutex& DeviceListMutex() {
    static std::mutex mutex;
    return mutex;
}

void OnControlLost(ArvDevice* /*device*/, gpointer flag) {
    static_cast<std::atomic<bool>*>(flag)->store(true, std::memory_order_release);
}

} // namespace

std::vector<AravisDeviceInfo> ListAravisDevices() {
    const std::lock_guard lock(DeviceListMutex());
    arv_update_device_list();
    std::vector<AravisDeviceInfo> devices;
    const unsigned count = arv_get_n_devices();
    for (unsigned i = 0; i < count; ++i) {
        devices.push_back({Text(arv_get_device_id(i)), Text(arv_get_device_vendor(i)),
                           Text(arv_get_device_model(i)), Text(arv_get_device_serial_nbr(i)),
                           Text(arv_get_device_protocol(i)), Text(arv_get_device_address(i))});
    }
    return devices;
}

// What the stream callback reads: the stream (set once it exists, cleared only after the stream
// is gone) and where frames go.
struct AravisDevice::StreamContext {
    std::atomic<ArvStream*> stream{nullptr};
    AravisFrameDelivery* delivery = nullptr;

    static void OnEvent(void* user, ArvStreamCallbackType type, ArvBuffer* /*buffer*/) {
        if (type == ARV_STREAM_CALLBACK_TYPE_INIT) {
            pthread_setname_np(pthread_self(), kStreamThreadName);
            // Packets wait for nobody: a receiving thread that is not scheduled in time loses
            // frames. Raising it needs the right to; without it the thread runs as it is.
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kStreamThreadNice);
            return;
        }
        if (type != ARV_STREAM_CALLBACK_TYPE_BUFFER_DONE) {
            return;
        }
        auto* context = static_cast<StreamContext*>(user);
        ArvStream* stream = context->stream.load(std::memory_order_acquire);
        if (stream == nullptr) {
            return;
        }
        // Buffers leave the stream in the order they were filled; the one just done is first.
        ArvBuffer* buffer = arv_stream_try_pop_buffer(stream);
        if (buffer == nullptr) {
            return;
        }
        context->delivery->Deliver(buffer);
        arv_stream_push_buffer(stream, buffer);
    }
};

std::unique_ptr<AravisDevice>
AravisDevice::Open(const std::string& id, AravisFrameDelivery& delivery, std::string& error) {
    // Made before the camera's heartbeat thread starts, so that thread sees it whole.
    auto controlLost = std::make_unique<std::atomic<bool>>(false);
    Status status;
    std::unique_lock lock(DeviceListMutex());
    ArvCamera* camera = arv_camera_new(id.empty() ? nullptr : id.c_str(), status.Out());
    if (camera == nullptr) {
        error = status.Ok() ? "no camera" : status.Text();
        return nullptr;
    }
    lock.unlock();
    std::unique_ptr<AravisDevice> device(new AravisDevice(camera, controlLost.release(), delivery));
    device->m_id = id;
    device->ReadCapabilities();
    return device;
}

AravisDevice::AravisDevice(ArvCamera* camera, std::atomic<bool>* controlLost,
                           AravisFrameDelivery& delivery)
    : m_camera(camera), m_delivery(delivery), m_controlLost(controlLost) {
    ArvDevice* device = arv_camera_get_device(m_camera);
    // Freed when the device object goes, after its heartbeat thread has ended.
    g_object_set_data_full(G_OBJECT(device), kControlLostKey, m_controlLost,
                           [](gpointer flag) { delete static_cast<std::atomic<bool>*>(flag); });
    g_signal_connect(device, "control-lost", G_CALLBACK(OnControlLost), m_controlLost);
    if (arv_camera_is_gv_device(m_camera)) {
        // The largest packet the path carries; a failed test leaves the camera's default.
        Status status;
        arv_camera_gv_auto_packet_size(m_camera, status.Out());
    }
}

AravisDevice::~AravisDevice() {
    StopStream();
    if (!ControlLost()) {
        g_object_unref(m_camera);
        return;
    }
    // Letting go of a camera that no longer answers waits out its control channel's time-outs
    // (seconds). A thread of its own does that, so that neither the next attempt to open the
    // camera nor the recorder's shutdown waits for it; it touches nothing of ours.
    std::thread([camera = m_camera] {
        pthread_setname_np(pthread_self(), kReleaseThreadName);
        g_object_unref(camera);
    }).detach();
}

bool AravisDevice::Feature(const char* name) {
    Status status;
    return arv_camera_is_feature_available(m_camera, name, status.Out()) && status.Ok();
}

void AravisDevice::ReadCapabilities() {
    // A camera left by another program may wait for triggers or run its own exposure and gain
    // control; the recorder wants it free-running on the values it sets. Where a camera lacks
    // these features the calls fail harmlessly.
    {
        Status status;
        arv_camera_clear_triggers(m_camera, status.Out());
        if (Feature("ExposureAuto")) {
            arv_camera_set_exposure_time_auto(m_camera, ARV_AUTO_OFF, status.Out());
        }
        if (Feature("GainAuto")) {
            arv_camera_set_gain_auto(m_camera, ARV_AUTO_OFF, status.Out());
        }
    }
    m_gainInDb = Feature("Gain");
    if (Feature("BalanceRatioSelector")) {
        m_balanceRatio = Feature("BalanceRatio")      ? "BalanceRatio"
                         : Feature("BalanceRatioAbs") ? "BalanceRatioAbs"
                                                      : "";
    }
    Status status;
    guint count = 0;
    gint64* formats = arv_camera_dup_available_pixel_formats(m_camera, &count, status.Out());
    for (const BayerFormat& bayer : kBayerFormats) {
        if (m_bayerFormat == 0 &&
            std::find(formats, formats + count, bayer.format) != formats + count) {
            m_bayerFormat = bayer.format;
        }
    }
    g_free(formats);

    // Sensor size: SensorWidth/SensorHeight, else the largest region.
    if (Feature("SensorWidth") && Feature("SensorHeight")) {
        m_sensorWidth = float(arv_camera_get_integer(m_camera, "SensorWidth", status.Out()));
        m_sensorHeight = float(arv_camera_get_integer(m_camera, "SensorHeight", status.Out()));
    } else {
        gint min = 0;
        gint max = 0;
        arv_camera_get_width_bounds(m_camera, &min, &max, status.Out());
        m_sensorWidth = float(max);
        arv_camera_get_height_bounds(m_camera, &min, &max, status.Out());
        m_sensorHeight = float(max);
    }

    // Only 8-bit frames reach the recorder: a camera left in another format gets one of ours.
    const ArvPixelFormat current = arv_camera_get_pixel_format(m_camera, status.Out());
    if (current != ARV_PIXEL_FORMAT_MONO_8 && !PatternOf(current)) {
        SetPixelFormatCode(kPixelFormatBayerRggb8);
    } else {
        m_pattern = PatternOf(current);
        m_delivery.SetPattern(m_pattern ? int(*m_pattern) : AravisFrameDelivery::kGreyFrames);
    }
}

std::string AravisDevice::SerialNumber() {
    if (!Feature("DeviceSerialNumber")) {
        return {};
    }
    Status status;
    const char* serial = arv_camera_get_string(m_camera, "DeviceSerialNumber", status.Out());
    return status.Ok() && serial != nullptr ? serial : "";
}

bool AravisDevice::GetFormat(FrameFormat& format, float& frameRate) {
    Status status;
    gint x = 0;
    gint y = 0;
    gint width = 0;
    gint height = 0;
    arv_camera_get_region(m_camera, &x, &y, &width, &height, status.Out());
    if (!status.Ok()) {
        return false;
    }
    const ArvPixelFormat pixelFormat = arv_camera_get_pixel_format(m_camera, status.Out());
    const double rate = arv_camera_get_frame_rate(m_camera, status.Out());
    if (!status.Ok()) {
        return false;
    }
    format.xOffset = uint32_t(x);
    format.yOffset = uint32_t(y);
    format.width = uint32_t(width);
    format.height = uint32_t(height);
    format.pixelFormat = PatternOf(pixelFormat) ? kPixelFormatBayerRggb8 : kPixelFormatMono8;
    frameRate = float(rate);
    return true;
}

bool AravisDevice::SetFormat(const FrameFormat& format, float frameRate) {
    bool ok = SetRegion(format);
    ok = SetPixelFormatCode(format.pixelFormat) && ok;
    Status status;
    double min = 0.0;
    double max = 0.0;
    arv_camera_get_frame_rate_bounds(m_camera, &min, &max, status.Out());
    if (!status.Ok()) {
        return false;
    }
    if (Feature("AcquisitionFrameRateEnable")) {
        arv_camera_set_boolean(m_camera, "AcquisitionFrameRateEnable", TRUE, status.Out());
    }
    arv_camera_set_frame_rate(m_camera, std::clamp(double(frameRate), min, max), status.Out());
    return status.Ok() && ok;
}

// Offsets go to their minimum first, so that any width fits; then the size; then the offsets,
// which must leave the region on the sensor (some cameras do not bound them by the size). Each
// value is rounded down to the camera's increment.
bool AravisDevice::SetRegion(const FrameFormat& format) {
    const auto bounds = [this](const char* feature, gint64& min, gint64& max, gint64& increment) {
        Status status;
        arv_camera_get_integer_bounds(m_camera, feature, &min, &max, status.Out());
        increment = arv_camera_get_integer_increment(m_camera, feature, status.Out());
        return status.Ok();
    };
    const auto set = [this, &bounds](const char* feature, int64_t wanted, int64_t limit) {
        gint64 min = 0;
        gint64 max = 0;
        gint64 increment = 1;
        if (!bounds(feature, min, max, increment)) {
            return false;
        }
        Status status;
        arv_camera_set_integer(
            m_camera, feature,
            RoundToIncrement(wanted, min, std::min<int64_t>(max, limit), increment), status.Out());
        return status.Ok();
    };
    constexpr int64_t kNoLimit = INT64_MAX;
    set("OffsetX", 0, kNoLimit);
    set("OffsetY", 0, kNoLimit);
    gint64 min = 0;
    gint64 widest = 0;
    gint64 highest = 0;
    gint64 increment = 1;
    const bool known =
        bounds("Width", min, widest, increment) && bounds("Height", min, highest, increment);
    bool ok = known && set("Width", format.width, kNoLimit);
    ok = set("Height", format.height, kNoLimit) && ok;
    gint x = 0;
    gint y = 0;
    gint width = 0;
    gint height = 0;
    Status status;
    arv_camera_get_region(m_camera, &x, &y, &width, &height, status.Out());
    ok = status.Ok() && ok;
    ok = set("OffsetX", format.xOffset, widest - width) && ok;
    return set("OffsetY", format.yOffset, highest - height) && ok;
}

bool AravisDevice::SetPixelFormatCode(uint32_t code) {
    // 0 is the camera's 8-bit Bayer format, whatever its tile; a grey-only camera sends Mono8.
    const ArvPixelFormat wanted = (code == kPixelFormatBayerRggb8 && m_bayerFormat != 0)
                                      ? ArvPixelFormat(m_bayerFormat)
                                      : ARV_PIXEL_FORMAT_MONO_8;
    Status status;
    if (arv_camera_get_pixel_format(m_camera, status.Out()) != wanted) {
        arv_camera_set_pixel_format(m_camera, wanted, status.Out());
    }
    const ArvPixelFormat now = arv_camera_get_pixel_format(m_camera, status.Out());
    m_pattern = PatternOf(now);
    m_delivery.SetPattern(m_pattern ? int(*m_pattern) : AravisFrameDelivery::kGreyFrames);
    return status.Ok() && now == wanted;
}

bool AravisDevice::GetExposureMs(float& exposureMs) {
    Status status;
    const double microseconds = arv_camera_get_exposure_time(m_camera, status.Out());
    if (!status.Ok()) {
        return false;
    }
    exposureMs = float(microseconds / kMicrosecondsPerMs);
    return true;
}

bool AravisDevice::SetExposureMs(float exposureMs) {
    Status status;
    double min = 0.0;
    double max = 0.0;
    arv_camera_get_exposure_time_bounds(m_camera, &min, &max, status.Out());
    if (!status.Ok() || !std::isfinite(exposureMs)) {
        return false;
    }
    arv_camera_set_exposure_time(m_camera, std::clamp(exposureMs * kMicrosecondsPerMs, min, max),
                                 status.Out());
    return status.Ok();
}

bool AravisDevice::SelectChannel(uint32_t property) {
    const char* channel = property == kPropGainRed    ? "Red"
                          : property == kPropGainBlue ? "Blue"
                                                      : "Green";
    Status status;
    arv_camera_set_string(m_camera, "BalanceRatioSelector", channel, status.Out());
    return status.Ok();
}

bool AravisDevice::GetGain(uint32_t property, float& factor) {
    Status status;
    if (property == kPropGain) {
        if (m_gainInDb) {
            const double db = arv_camera_get_float(m_camera, "Gain", status.Out());
            factor = float(GainDbToFactor(db));
        } else {
            // Without a gain in decibels the raw gain is taken as the factor itself.
            factor = float(arv_camera_get_integer(m_camera, "GainRaw", status.Out()));
        }
        return status.Ok();
    }
    if (m_balanceRatio.empty() || !SelectChannel(property)) {
        return false;
    }
    factor = float(arv_camera_get_float(m_camera, m_balanceRatio.c_str(), status.Out()));
    return status.Ok();
}

bool AravisDevice::SetGain(uint32_t property, float factor) {
    if (!std::isfinite(factor) || factor <= 0.0f) {
        return false;
    }
    const auto setFloat = [this](const char* feature, double value) {
        Status status;
        double min = 0.0;
        double max = 0.0;
        arv_camera_get_float_bounds(m_camera, feature, &min, &max, status.Out());
        if (!status.Ok()) {
            return false;
        }
        arv_camera_set_float(m_camera, feature, std::clamp(value, min, max), status.Out());
        return status.Ok();
    };
    if (property == kPropGain) {
        if (m_gainInDb) {
            return setFloat("Gain", GainFactorToDb(factor));
        }
        Status status;
        gint64 min = 0;
        gint64 max = 0;
        arv_camera_get_integer_bounds(m_camera, "GainRaw", &min, &max, status.Out());
        const gint64 increment =
            arv_camera_get_integer_increment(m_camera, "GainRaw", status.Out());
        if (!status.Ok()) {
            return false;
        }
        const auto raw = RoundToIncrement(std::llround(factor), min, max, increment);
        arv_camera_set_integer(m_camera, "GainRaw", raw, status.Out());
        return status.Ok();
    }
    return !m_balanceRatio.empty() && SelectChannel(property) &&
           setFloat(m_balanceRatio.c_str(), factor);
}

std::vector<float> AravisDevice::FrameRates() {
    Status status;
    double min = 0.0;
    double max = 0.0;
    arv_camera_get_frame_rate_bounds(m_camera, &min, &max, status.Out());
    return status.Ok() ? OfferedFrameRates(min, max) : std::vector<float>{};
}

bool AravisDevice::WhiteBalanceOnce() {
    Status status;
    if (!Feature("BalanceWhiteAuto") || !arv_camera_is_enumeration_entry_available(
                                            m_camera, "BalanceWhiteAuto", "Once", status.Out())) {
        return false;
    }
    arv_camera_set_string(m_camera, "BalanceWhiteAuto", "Once", status.Out());
    return status.Ok();
}

bool AravisDevice::SelectOutputs(uint8_t mask) {
    if (!Feature("LineSelector") || !Feature("LineMode") || !Feature("UserOutputValue")) {
        return false;
    }
    Status status;
    guint count = 0;
    const char** lines = arv_camera_dup_available_enumerations_as_strings(m_camera, "LineSelector",
                                                                          &count, status.Out());
    for (guint i = 0; i < count && i < 8; ++i) {
        if ((mask & (1u << i)) != 0) {
            // Lines that are inputs only refuse this; the others become outputs.
            Status lineStatus;
            arv_camera_set_string(m_camera, "LineSelector", lines[i], lineStatus.Out());
            arv_camera_set_string(m_camera, "LineMode", "Output", lineStatus.Out());
        }
    }
    g_free(lines);
    return true;
}

bool AravisDevice::WriteOutputs(uint8_t mask, uint8_t values) {
    if (!Feature("UserOutputValue")) {
        return false;
    }
    const bool selectable = Feature("UserOutputSelector");
    Status status;
    guint count = 1;
    const char** outputs = selectable ? arv_camera_dup_available_enumerations_as_strings(
                                            m_camera, "UserOutputSelector", &count, status.Out())
                                      : nullptr;
    bool ok = true;
    for (guint i = 0; i < count && i < 8; ++i) {
        if ((mask & (1u << i)) == 0) {
            continue;
        }
        Status outputStatus;
        if (outputs != nullptr) {
            arv_camera_set_string(m_camera, "UserOutputSelector", outputs[i], outputStatus.Out());
        }
        arv_camera_set_boolean(m_camera, "UserOutputValue", (values & (1u << i)) != 0,
                               outputStatus.Out());
        ok = outputStatus.Ok() && ok;
    }
    g_free(outputs);
    return ok;
}

bool AravisDevice::StartStream() {
    if (m_stream != nullptr) {
        return true;
    }
    Status status;
    const double rate = arv_camera_get_frame_rate(m_camera, status.Out());
    const guint payload = arv_camera_get_payload(m_camera, status.Out());
    if (!status.Ok() || payload == 0) {
        return false;
    }
    auto context = std::make_unique<StreamContext>();
    context->delivery = &m_delivery;
    ArvStream* stream =
        arv_camera_create_stream(m_camera, &StreamContext::OnEvent, context.get(), status.Out());
    if (stream == nullptr) {
        return false;
    }
    if (ARV_IS_GV_STREAM(stream)) {
        g_object_set(stream, "packet-resend", ARV_GV_STREAM_PACKET_RESEND_ALWAYS, nullptr);
    }
    // Published before the first buffer goes in: some cameras fill buffers at once.
    context->stream.store(stream, std::memory_order_release);
    const uint32_t buffers = StreamBufferCount(rate);
    for (uint32_t i = 0; i < buffers; ++i) {
        arv_stream_push_buffer(stream, arv_buffer_new(payload, nullptr));
    }
    m_stream = stream;
    m_streamContext = std::move(context);
    m_delivery.StreamStarting();
    arv_camera_set_acquisition_mode(m_camera, ARV_ACQUISITION_MODE_CONTINUOUS, status.Out());
    arv_camera_start_acquisition(m_camera, status.Out());
    if (!status.Ok()) {
        StopStream();
        return false;
    }
    return true;
}

void AravisDevice::StopStream() {
    if (m_stream == nullptr) {
        return;
    }
    // A camera that no longer answers would only make the stop wait for its time-outs.
    if (!ControlLost()) {
        Status status;
        arv_camera_stop_acquisition(m_camera, status.Out());
    }
    // Unreferencing ends the stream's thread; only then may its context go.
    g_object_unref(m_stream);
    m_stream = nullptr;
    m_streamContext.reset();
}

void AravisDevice::MarkLost() {
    m_controlLost->store(true, std::memory_order_release);
}

} // namespace quillon
