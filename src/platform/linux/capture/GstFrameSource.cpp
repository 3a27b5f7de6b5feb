#include "platform/linux/capture/GstFrameSource.h"

#include "platform/linux/capture/CaptureDevice.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace tavrine {

namespace {

constexpr const char* kFrameCaps = "video/x-raw,format=BGRA,width=640,height=480,pixel-aspect-ratio=1/1";
// What a webcam may send that we can use: raw frames or Motion-JPEG (the only 640x480 or 30 fps format
// of some cameras). H.264 from some UVC cameras is left out: its decoder may not be installed. The
// "cameramode" filter is set, once the device is open, to the mode chosen among those it offers
// (chooseCameraMode); left open, v4l2src picks its own. The rate gate drops frames before the JPEG
// decoding, for a camera that cannot send as slowly as the analysis.
constexpr const char* kCameraDecode =
    " ! capsfilter name=cameramode ! capsfilter caps=\"video/x-raw;image/jpeg\""
    " ! identity name=rategate silent=true ! decodebin";
constexpr const char* kCameraMode = "cameramode";
constexpr const char* kRateGate = "rategate";
constexpr int kFrameWidth = 640;
constexpr int kFrameHeight = 480;
constexpr auto kPollInterval = std::chrono::milliseconds(100);

void initGstreamerOnce() {
    static std::once_flag once;
    std::call_once(once, [] { gst_init(nullptr, nullptr); });
}

bool mentionsPermission(const GError* error, const char* debug) {
    const char* needle = "ermission denied";
    return (error->message && std::strstr(error->message, needle)) || (debug && std::strstr(debug, needle));
}

} // namespace

CameraError cameraErrorForGstError(const GError* error, const char* debug) {
    if (error->domain != GST_RESOURCE_ERROR) {
        return CameraError::configurationFailed;
    }
    switch (error->code) {
    case GST_RESOURCE_ERROR_NOT_FOUND:
        return CameraError::noCameraAvailable;
    case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
        return CameraError::permissionDenied;
    case GST_RESOURCE_ERROR_OPEN_READ:
    case GST_RESOURCE_ERROR_OPEN_WRITE:
    case GST_RESOURCE_ERROR_OPEN_READ_WRITE:
        return mentionsPermission(error, debug) ? CameraError::permissionDenied
                                                : CameraError::configurationFailed;
    default:
        return CameraError::configurationFailed;
    }
}

namespace {

// Checks a node or file before GStreamer opens it, so the three failures read the same for every source.
std::optional<CameraError> checkPath(const std::string& path, bool device) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return (errno == EACCES) ? CameraError::permissionDenied : CameraError::noCameraAvailable;
    }
    if (::access(path.c_str(), device ? (R_OK | W_OK) : R_OK) != 0) {
        return (errno == EACCES || errno == EPERM || errno == EROFS) ? CameraError::permissionDenied
                                                                     : CameraError::configurationFailed;
    }
    if (device ? !S_ISCHR(st.st_mode) : S_ISDIR(st.st_mode)) {
        return CameraError::configurationFailed;
    }
    return std::nullopt;
}

// A frame rate in frames a second, as the fraction the device states it in.
struct Rate {
    int num = 0;
    int den = 1;
    double value() const { return den > 0 ? static_cast<double>(num) / den : 0.0; }
};

// The frames a second the analysis can count on from a camera sending `rate`. The analyzer admits a frame
// a whole interval after the last one by the wall clock: from a camera at exactly the analysis rate, the
// frames that arrive a few ms early are turned away and the next comes an interval later (measured: 7.3 to
// 7.6 frames analysed a second from a camera at 10 fps, 9 from one at 20 or 30). With two frames or more
// per interval, the next one comes soon after and the analysis keeps its rate; between one and two, about
// one frame in two is analysed; below the analysis rate, every frame is.
double analysedRate(double rate, int framesPerSecond) {
    if (rate >= 1.94 * framesPerSecond) {
        return framesPerSecond;
    }
    if (rate < 0.97 * framesPerSecond) {
        return std::max(rate, 0.0);
    }
    return rate / 2;
}

// The rate to ask of one mode among those it offers (one, a list, or a range of which the bounds and the
// multiples of the analysis rate are tried): the one that gives the analysis the most frames, and of those
// the lowest. For an analysis at 10 a second: 20 rather than 10 or 15, 30 when 20 is not offered.
// Nothing when the mode states no usable rate.
std::optional<Rate> pickRate(const GValue* offered, int framesPerSecond) {
    if (!offered) {
        return std::nullopt;
    }
    std::vector<Rate> rates;
    const auto add = [&rates](const GValue* fraction) {
        rates.push_back(
            {gst_value_get_fraction_numerator(fraction), gst_value_get_fraction_denominator(fraction)});
    };
    if (GST_VALUE_HOLDS_FRACTION(offered)) {
        add(offered);
    } else if (GST_VALUE_HOLDS_LIST(offered)) {
        for (guint i = 0; i < gst_value_list_get_size(offered); ++i) {
            const GValue* item = gst_value_list_get_value(offered, i);
            if (GST_VALUE_HOLDS_FRACTION(item)) {
                add(item);
            }
        }
    } else if (GST_VALUE_HOLDS_FRACTION_RANGE(offered)) {
        add(gst_value_get_fraction_range_min(offered));
        add(gst_value_get_fraction_range_max(offered));
        const double low = rates[0].value();
        const double high = rates[1].value();
        for (int k = 1; k <= 8 && k * framesPerSecond <= high; ++k) {
            if (k * framesPerSecond >= low) {
                rates.push_back({k * framesPerSecond, 1});
            }
        }
    }
    std::optional<Rate> best;
    double bestAnalysed = 0.0;
    for (const Rate& rate : rates) {
        const double analysed = analysedRate(rate.value(), framesPerSecond);
        if (analysed <= 0.0) {
            continue;
        }
        if (!best || analysed > bestAnalysed + 1e-6 ||
            (analysed > bestAnalysed - 1e-6 && rate.value() < best->value())) {
            best = rate;
            bestAnalysed = analysed;
        }
    }
    return best;
}

// One mode of a camera with the rate we would ask of it, and how it ranks against the others.
struct Mode {
    std::string caps;
    double analysed = 0.0; // frames a second the analysis would get from it
    bool small = false;    // smaller than the analysed frame both ways: the picture would be enlarged
    long pixels = 0;
    bool jpeg = false; // must be decoded: costs more than a raw frame of the same size
    double rate = 0.0;

    // The analysis at its full rate first (its schedule counts in frames), then a picture as detailed as the
    // analysed frame, then the fewest pixels to convert, raw before Motion-JPEG, and the fewest frames sent.
    bool betterThan(const Mode& other, int framesPerSecond) const {
        const auto key = [framesPerSecond](const Mode& m) {
            const bool full = m.analysed >= 0.97 * framesPerSecond;
            return std::tuple(!full, full ? 0.0 : -m.analysed, m.small, m.small ? -m.pixels : m.pixels,
                              m.jpeg, m.rate);
        };
        return key(*this) < key(other);
    }
};

std::optional<Mode> describeMode(const GstStructure* offered, int framesPerSecond) {
    const bool jpeg = gst_structure_has_name(offered, "image/jpeg");
    if (!jpeg && !gst_structure_has_name(offered, "video/x-raw")) {
        return std::nullopt;
    }
    // Sizes and formats given as ranges or lists are settled the way the pipeline would settle them.
    GstStructure* s = gst_structure_copy(offered);
    gst_structure_fixate_field_nearest_int(s, "width", kFrameWidth);
    gst_structure_fixate_field_nearest_int(s, "height", kFrameHeight);
    gst_structure_fixate_field(s, "format");
    int width = 0;
    int height = 0;
    const char* named = jpeg ? nullptr : gst_structure_get_string(s, "format");
    const std::string format = named ? named : "";
    const bool sized = gst_structure_get_int(s, "width", &width) &&
                       gst_structure_get_int(s, "height", &height) && width > 0 && height > 0;
    const bool decodable = jpeg || gst_video_format_from_string(format.c_str()) != GST_VIDEO_FORMAT_UNKNOWN;
    const auto rate = pickRate(gst_structure_get_value(s, "framerate"), framesPerSecond);
    gst_structure_free(s);
    if (!sized || !decodable) {
        return std::nullopt;
    }
    Mode mode;
    mode.jpeg = jpeg;
    mode.caps = jpeg ? std::string("image/jpeg") : std::string("video/x-raw,format=") + format;
    mode.caps += ",width=" + std::to_string(width) + ",height=" + std::to_string(height);
    if (rate) {
        mode.caps += ",framerate=" + std::to_string(rate->num) + "/" + std::to_string(rate->den);
        mode.rate = rate->value();
        mode.analysed = analysedRate(mode.rate, framesPerSecond);
    }
    mode.small = width < kFrameWidth && height < kFrameHeight;
    mode.pixels = static_cast<long>(width) * height;
    return mode;
}

std::string chooseMode(const GstCaps* offered, int framesPerSecond) {
    std::optional<Mode> best;
    if (offered && !gst_caps_is_any(offered)) {
        for (guint i = 0; i < gst_caps_get_size(offered); ++i) {
            const auto mode = describeMode(gst_caps_get_structure(offered, i), framesPerSecond);
            if (mode && (!best || mode->betterThan(*best, framesPerSecond))) {
                best = mode;
            }
        }
    }
    return best ? best->caps : std::string();
}

} // namespace

std::string GstFrameSource::chooseCameraMode(const std::string& offered, int framesPerSecond) {
    if (framesPerSecond <= 0) {
        return {};
    }
    initGstreamerOnce();
    GstCaps* caps = gst_caps_from_string(offered.c_str());
    std::string chosen = chooseMode(caps, framesPerSecond);
    if (caps) {
        gst_caps_unref(caps);
    }
    return chosen;
}

bool GstFrameSource::applyCameraMode(GstElement* pipeline) {
    const int framesPerSecond = frameRateLimit_.load();
    GstElement* filter = gst_bin_get_by_name(GST_BIN(pipeline), kCameraMode);
    if (!filter) {
        return false;
    }
    std::string chosen;
    GstPad* pad = gst_element_get_static_pad(filter, "sink");
    if (pad && framesPerSecond > 0) {
        // What the open device offers: every format, size and rate of it.
        GstCaps* offered = gst_pad_peer_query_caps(pad, nullptr);
        chosen = chooseMode(offered, framesPerSecond);
        if (offered) {
            gst_caps_unref(offered);
        }
    }
    if (!chosen.empty()) {
        GstCaps* caps = gst_caps_from_string(chosen.c_str());
        g_object_set(filter, "caps", caps, nullptr);
        gst_caps_unref(caps);
    }
    if (pad) {
        gst_object_unref(pad);
    }
    gst_object_unref(filter);
    return !chosen.empty();
}

// Lets through a buffer that comes at least minSpacing of stream time after the last one let through, and
// drops the others, with one exception: when the consumer did not take the last frame let through (the
// analyzer's wall-clock admission can turn away a frame that comes exactly one interval after the last),
// the next buffer goes through too, so the analysis keeps its rate. A consumer that turned away the last
// few frames in a row is idle (a suspended analyzer, in a pause): it then gets one frame a second, enough to
// show the camera is alive, until it takes one again. A timestamp that goes back (a looped file, a
// restarted camera) starts again from that buffer.
struct GstFrameSource::RateGate {
    static constexpr int idleAfter = 5;                     // frames turned away in a row
    static constexpr GstClockTime idleSpacing = GST_SECOND; // between frames for an idle consumer

    explicit RateGate(GstClockTime spacing) : minSpacing(spacing) {}
    const GstClockTime minSpacing;
    GstClockTime lastKept = GST_CLOCK_TIME_NONE; // streaming thread only
    bool secondChance = false;                   // streaming thread only
    int turnedAway = 0;                          // streaming thread only
    // The timestamp of the last frame the consumer took (frameAdmitted()).
    std::atomic<GstClockTime> admitted{GST_CLOCK_TIME_NONE};

    GstPadProbeReturn letThrough(GstClockTime pts, bool again) {
        // The consumer has had its say on the previous frame by now: the handler runs before the next buffer.
        if (GST_CLOCK_TIME_IS_VALID(lastKept)) {
            turnedAway = admitted.load() == lastKept ? 0 : turnedAway + 1;
        }
        lastKept = pts;
        secondChance = again;
        return GST_PAD_PROBE_OK;
    }

    static GstPadProbeReturn onBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
        RateGate* gate = static_cast<std::shared_ptr<RateGate>*>(data)->get();
        const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
        if (!GST_CLOCK_TIME_IS_VALID(pts)) {
            return GST_PAD_PROBE_OK;
        }
        if (!GST_CLOCK_TIME_IS_VALID(gate->lastKept) || pts < gate->lastKept) {
            return gate->letThrough(pts, true);
        }
        const bool lastTaken = gate->admitted.load() == gate->lastKept;
        const bool idle = gate->turnedAway >= idleAfter && !lastTaken;
        if (pts - gate->lastKept >= (idle ? idleSpacing : gate->minSpacing)) {
            return gate->letThrough(pts, !idle);
        }
        if (gate->secondChance && !lastTaken) {
            return gate->letThrough(pts, false);
        }
        return GST_PAD_PROBE_DROP;
    }
};

void GstFrameSource::installRateGate(GstElement* pipeline) {
    gate_.reset();
    const int framesPerSecond = frameRateLimit_.load();
    if (framesPerSecond <= 0) {
        return;
    }
    GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline), kRateGate);
    if (!element) {
        return;
    }
    if (GstPad* pad = gst_element_get_static_pad(element, "sink")) {
        gate_ = std::make_shared<RateGate>(minFrameSpacingNs(framesPerSecond));
        // The probe holds the gate too, so it outlives a pipeline torn down after the source forgot it.
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &RateGate::onBuffer,
                          new std::shared_ptr<RateGate>(gate_),
                          [](gpointer data) { delete static_cast<std::shared_ptr<RateGate>*>(data); });
        gst_object_unref(pad);
    }
    gst_object_unref(element);
}

void GstFrameSource::frameAdmitted() {
    if (gate_) {
        gate_->admitted = deliveringPts_.load();
    }
}

std::uint64_t GstFrameSource::minFrameSpacingNs(int framesPerSecond) {
    if (framesPerSecond <= 0) {
        return 0;
    }
    const std::uint64_t intervalMs = 1000 / static_cast<std::uint64_t>(framesPerSecond);
    return intervalMs * GST_MSECOND / 10 * 9;
}

GstFrameSource::GstFrameSource(Options options)
    : options_(std::move(options)), frameRateLimit_(options_.frameRateLimit) {
    initGstreamerOnce();
}

GstFrameSource::~GstFrameSource() {
    stop();
}

GstFrameSource::Target GstFrameSource::resolve(bool sameCamera) const {
    switch (options_.kind) {
    case Kind::camera: {
        if (sameCamera) {
            if (auto camera = cameraInUse()) {
                // The camera found again under whatever node it has now, or no camera at all.
                const auto node = CaptureDevice::findSame(*camera, CaptureDevice::list(options_.devDir));
                if (!node) {
                    return {{}, CameraError::noCameraAvailable};
                }
                return {*node, checkPath(*node, true)};
            }
        }
        std::string node = options_.location;
        if (node.empty()) {
            auto chosen = CaptureDevice::choose(CaptureDevice::list(options_.devDir));
            if (!chosen) {
                return {{}, CameraError::noCameraAvailable};
            }
            node = *chosen;
        }
        return {node, checkPath(node, true)};
    }
    case Kind::file:
        return {options_.location, checkPath(options_.location, false)};
    case Kind::description:
        return {options_.location, std::nullopt};
    }
    return {{}, CameraError::configurationFailed};
}

FrameSource::Access GstFrameSource::accessStatus() {
    // Asked on the main thread: looks at the nodes' permissions without opening any.
    switch (options_.kind) {
    case Kind::camera:
        if (options_.location.empty()) {
            return CaptureDevice::anyAccessible(options_.devDir) ? Access::authorized : Access::denied;
        }
        return checkPath(options_.location, true) == CameraError::permissionDenied ? Access::denied
                                                                                   : Access::authorized;
    case Kind::file:
    case Kind::description:
        return resolve(false).error == CameraError::permissionDenied ? Access::denied : Access::authorized;
    }
    return Access::authorized;
}

bool GstFrameSource::requestAccess() {
    // Access to a camera node comes from the `video` group: there is nothing to ask at run time.
    return accessStatus() == Access::authorized;
}

std::optional<CaptureDevice> GstFrameSource::cameraInUse() const {
    std::lock_guard lock(cameraMutex_);
    return cameraInUse_;
}

std::string GstFrameSource::describe() const {
    switch (options_.kind) {
    case Kind::camera:
        return options_.location.empty() ? "webcam" : options_.location;
    case Kind::file:
        return options_.location;
    case Kind::description:
        return "pipeline: " + options_.location;
    }
    return {};
}

std::string GstFrameSource::cameraDecodeStage() {
    return kCameraDecode;
}

std::string GstFrameSource::pipelineDescription(const std::string& location) const {
    const std::string tail = std::string(" ! videoconvert ! videoscale ! ") + kFrameCaps +
                             " ! appsink name=sink drop=true max-buffers=1";
    const std::string gate = std::string(" ! identity name=") + kRateGate + " silent=true";
    switch (options_.kind) {
    case Kind::camera:
        // A live source: frames are taken as they come, never paced again by the sink.
        return std::string("v4l2src name=src") + kCameraDecode + tail + " sync=false";
    case Kind::file:
        return "filesrc name=src ! decodebin" + gate + tail + " sync=true";
    case Kind::description:
        // A description that ends in the camera stage already holds the gate.
        return location + (location.find(kRateGate) == std::string::npos ? gate : std::string()) + tail +
               " sync=true";
    }
    return {};
}

namespace {
const char* describeFailure(CameraError error) {
    switch (error) {
    case CameraError::permissionDenied:
        return "accès refusé";
    case CameraError::noCameraAvailable:
        return "introuvable";
    case CameraError::configurationFailed:
        return "occupée ou illisible";
    case CameraError::interrupted:
        return "interrompue";
    }
    return "";
}
} // namespace

std::optional<CameraError> GstFrameSource::start(FrameHandler onFrame) {
    return startLogged(std::move(onFrame), false);
}

std::optional<CameraError> GstFrameSource::restart(FrameHandler onFrame) {
    return startLogged(std::move(onFrame), true);
}

std::optional<CameraError> GstFrameSource::startLogged(FrameHandler onFrame, bool sameCamera) {
    const auto error = startPlaying(std::move(onFrame), sameCamera);
    // A running filter retries every few seconds, each cause said once until frames come again; a start
    // is not retried: the user starts again once the camera is free.
    if (error) {
        say("tavrine\u00a0: caméra indisponible (" + describe() + "\u00a0: " + describeFailure(*error) +
            (sameCamera ? ")\u202f; nouvel essai toutes les 5\u00a0s."
                        : ")\u202f; réactivez la protection une fois la caméra branchée, "
                          "accessible et libre."));
    }
    return error;
}

void GstFrameSource::say(const std::string& line) {
    std::lock_guard lock(sayMutex_);
    if (line == lastSaid_) {
        return;
    }
    lastSaid_ = line;
    lossSaid_ = true;
    std::fprintf(stderr, "%s\n", line.c_str());
}

std::optional<CameraError> GstFrameSource::startPlaying(FrameHandler onFrame, bool sameCamera) {
    stop();
    const Target target = resolve(sameCamera);
    if (target.error) {
        return target.error;
    }
    onFrame_ = std::move(onFrame);
    interrupted_ = false;
    if (auto error = play(target.location, true)) {
        onFrame_ = nullptr;
        return error;
    }
    if (options_.kind == Kind::camera && !(sameCamera && cameraInUse())) {
        // Remember which camera this is, so that a restart after an unplug finds the same one.
        for (const auto& device : CaptureDevice::list(options_.devDir)) {
            std::error_code ec;
            if (std::filesystem::equivalent(device.path, target.location, ec)) {
                std::lock_guard lock(cameraMutex_);
                cameraInUse_ = device;
                break;
            }
        }
    }
    lastFrameMs_ = steadyNowMs();
    stopping_ = false;
    watcher_ = std::thread([this] { watch(); });
    return std::nullopt;
}

std::optional<CameraError> GstFrameSource::play(const std::string& location, bool withMode) {
    GError* parseError = nullptr;
    GstElement* pipeline = gst_parse_launch(pipelineDescription(location).c_str(), &parseError);
    if (parseError || !pipeline) {
        g_clear_error(&parseError);
        if (pipeline) {
            gst_object_unref(pipeline);
        }
        return CameraError::configurationFailed;
    }
    // Paths are set as properties, never spliced into the description, so no name can alter the pipeline.
    if (GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src")) {
        g_object_set(src, options_.kind == Kind::camera ? "device" : "location", location.c_str(), nullptr);
        gst_object_unref(src);
    }
    installRateGate(pipeline);
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* appsink, gpointer self) -> GstFlowReturn {
        static_cast<GstFrameSource*>(self)->onSample(appsink);
        return GST_FLOW_OK;
    };
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
    gst_object_unref(sink);

    // A camera opens on the way to READY; from there it tells its modes, and one is chosen before it plays.
    GstStateChangeReturn result = gst_element_set_state(pipeline, GST_STATE_READY);
    const bool modeChosen = result != GST_STATE_CHANGE_FAILURE && withMode && applyCameraMode(pipeline);
    if (result != GST_STATE_CHANGE_FAILURE) {
        result = gst_element_set_state(pipeline, GST_STATE_PLAYING);
    }
    if (result == GST_STATE_CHANGE_ASYNC) {
        const auto timeoutNs = static_cast<GstClockTime>(options_.startTimeout.count()) * GST_MSECOND;
        result = gst_element_get_state(pipeline, nullptr, nullptr, timeoutNs);
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* message = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (result == GST_STATE_CHANGE_FAILURE || message) {
        CameraError error = CameraError::configurationFailed;
        if (message) {
            GError* gerror = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message, &gerror, &debug);
            error = cameraErrorForGstError(gerror, debug);
            g_clear_error(&gerror);
            g_free(debug);
            gst_message_unref(message);
        }
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
        if (modeChosen && error == CameraError::configurationFailed) {
            // A device that lists a mode it then refuses: let it pick its own, the rate gate thins it.
            return play(location, false);
        }
        return error;
    }
    std::lock_guard lock(pipelineMutex_);
    pipeline_ = pipeline;
    playing_ = location;
    return std::nullopt;
}

void GstFrameSource::teardown() {
    GstElement* pipeline = nullptr;
    {
        std::lock_guard lock(pipelineMutex_);
        std::swap(pipeline, pipeline_);
    }
    if (pipeline) {
        // Returns once the streaming thread has left the sink callback.
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
}

void GstFrameSource::stop() {
    stopping_ = true;
    if (watcher_.joinable()) {
        watcher_.join();
    }
    teardown();
    onFrame_ = nullptr;
    interrupted_ = false;
}

void GstFrameSource::setInterruptionHandler(InterruptionHandler handler) {
    std::lock_guard lock(handlerMutex_);
    onInterruption_ = std::move(handler);
}

GstElement* GstFrameSource::pipelineForTests() {
    std::lock_guard lock(pipelineMutex_);
    return pipeline_ ? GST_ELEMENT(gst_object_ref(pipeline_)) : nullptr;
}

std::int64_t GstFrameSource::steadyNowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void GstFrameSource::report(bool interrupted) {
    // Changes only, and under the lock, so the listener never hears "back" before the matching "lost".
    std::lock_guard lock(handlerMutex_);
    if (interrupted_.exchange(interrupted) == interrupted) {
        return;
    }
    if (onInterruption_) {
        onInterruption_(interrupted);
    }
}

void GstFrameSource::watch() {
    while (!stopping_) {
        GstBus* bus = nullptr;
        {
            std::lock_guard lock(pipelineMutex_);
            if (pipeline_) {
                bus = gst_element_get_bus(pipeline_);
            }
        }
        if (!bus) {
            // Torn down after a failure: the owner restarts the source when it sees fit.
            std::this_thread::sleep_for(kPollInterval);
            continue;
        }
        GstMessage* message =
            gst_bus_timed_pop_filtered(bus, static_cast<GstClockTime>(kPollInterval.count()) * GST_MSECOND,
                                       static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_EOS));
        gst_object_unref(bus);
        if (message) {
            const bool loopFile = GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS && options_.kind == Kind::file;
            gst_message_unref(message);
            if (loopFile) {
                std::lock_guard lock(pipelineMutex_);
                gst_element_seek_simple(
                    pipeline_, GST_FORMAT_TIME,
                    static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0);
            } else {
                // A device unplugged or failing.
                say("tavrine\u00a0: la caméra (" + describe() + ") a cessé de fonctionner.");
                report(true);
                teardown();
                continue;
            }
        }
        if (steadyNowMs() - lastFrameMs_.load() > options_.stallTimeout.count() && !interrupted_) {
            say("tavrine\u00a0: la caméra (" + describe() + ") ne donne plus d’images.");
            report(true);
        }
    }
}

void GstFrameSource::onSample(GstAppSink* sink) {
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample) {
        return;
    }
    GstVideoInfo info;
    GstVideoFrame mapped;
    if (gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
        gst_video_frame_map(&mapped, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        const int width = GST_VIDEO_FRAME_WIDTH(&mapped);
        const int height = GST_VIDEO_FRAME_HEIGHT(&mapped);
        const int srcStride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0);
        const auto* src = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0));
        const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
        const std::size_t bytes = rowBytes * static_cast<std::size_t>(height);

        // Reuse a buffer nobody holds any more; the analyzer keeps at most a few frames at a time.
        std::shared_ptr<std::vector<std::uint8_t>> pixels;
        for (auto& candidate : pool_) {
            if (candidate.use_count() == 1) {
                pixels = candidate;
                break;
            }
        }
        if (!pixels) {
            pixels = std::make_shared<std::vector<std::uint8_t>>();
            if (pool_.size() < 4) {
                pool_.push_back(pixels);
            }
        }
        pixels->resize(bytes);
        for (int y = 0; y < height; ++y) {
            std::memcpy(pixels->data() + rowBytes * static_cast<std::size_t>(y),
                        src + static_cast<std::ptrdiff_t>(srcStride) * y, rowBytes);
        }
        gst_video_frame_unmap(&mapped);

        lastFrameMs_ = steadyNowMs();
        ++framesDelivered_;
        if (interrupted_) {
            report(false);
        }
        if (lossSaid_.exchange(false)) {
            say("tavrine\u00a0: la caméra (" + describe() + ") donne de nouveau des images.");
            lossSaid_ = false;
        }
        if (onFrame_) {
            deliveringPts_ = GST_BUFFER_PTS(gst_sample_get_buffer(sample));
            onFrame_(VideoFrame{width, height, static_cast<int>(rowBytes), std::move(pixels)});
        }
    }
    gst_sample_unref(sample);
}

} // namespace tavrine
