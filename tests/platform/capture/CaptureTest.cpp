// The camera as the application opens it: which node, the GStreamer pipeline that turns it (or a clip)
// into frames for the analysis, and the errors it reports.
#include "platform/linux/capture/CaptureDevice.h"
#include "platform/linux/capture/FrameSourceFactory.h"
#include "platform/linux/capture/GstFrameSource.h"

#include "core/detection/CameraSession.h"
#include "platform/PlatformTestSupport.h"

#include <gst/gst.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using namespace tavrine;
using namespace tavrine::testing;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

CaptureDevice camera(int index, std::string card, bool fixedPort = false, std::string byId = "") {
    const std::string n = std::to_string(index);
    const std::string bus = "usb-0000:00:14.0-" + n;
    return {"/dev/video" + n, index, true, true, std::move(card), bus, fixedPort, std::move(byId)};
}

// A node that could not be opened (so not even asked whether it captures), or one that does not capture.
CaptureDevice notCapturing(CaptureDevice d, bool readable = true) {
    d.readable = readable;
    d.capture = false;
    return d;
}

CaptureDevice movedTo(CaptureDevice d, int index) {
    d.path = "/dev/video" + std::to_string(index);
    return d;
}

} // namespace

TEST(CaptureDevice, ChoosesTheBuiltInCameraElseTheLowestNumberedCaptureNode) {
    const struct {
        const char* what;
        std::vector<CaptureDevice> devices;
        std::optional<std::string> expected;
    } cases[] = {
        {"built in by name over an earlier external one",
         {camera(0, "HD Pro Webcam C920"), camera(2, "Integrated Camera: Integrated C")},
         "/dev/video2"},
        {"a front camera", {camera(0, "USB Camera"), camera(4, "FRONT CAMERA")}, "/dev/video4"},
        {"same names: the port the firmware marks as built in",
         {camera(0, "USB2.0 HD UVC WebCam"), camera(1, "USB2.0 HD UVC WebCam", true)},
         "/dev/video1"},
        {"a name and a fixed port beat either alone",
         {camera(0, "Integrated Webcam"), camera(3, "Integrated Webcam", true), camera(5, "Other", true)},
         "/dev/video3"},
        {"no telling name: the lowest capture node, not a metadata node",
         {notCapturing(camera(0, "Integrated Camera")), camera(11, "Cam B"), camera(3, "Cam A")},
         "/dev/video3"},
        {"a node that cannot be opened loses to one that can",
         {notCapturing(camera(0, ""), false), camera(1, "USB Camera")},
         "/dev/video1"},
        {"only locked nodes: the lowest, so the start reports the refusal",
         {notCapturing(camera(7, ""), false), notCapturing(camera(0, ""), false)},
         "/dev/video0"},
        {"no node", {}, std::nullopt},
        {"an output node only", {notCapturing(camera(0, "loopback"))}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CaptureDevice::choose(c.devices), c.expected) << c.what;
    }
}

// The camera in use was unplugged; which node, if any, is the same camera now?
TEST(CaptureDevice, FindsTheSameCameraNotTheSameNodeNumber) {
    const CaptureDevice usbCam = camera(2, "Acme Cam", false, "usb-Acme_Cam_42-video-index0");
    const CaptureDevice sameModel = camera(2, "Acme Cam", false, "usb-Acme_Cam_77-video-index0");
    const CaptureDevice loopback = camera(2, "Dummy video device (0x0000)");
    const CaptureDevice integrated = camera(1, "Integrated Camera");
    const CaptureDevice other = camera(0, "Other");
    CaptureDevice anonymous = camera(1, "");
    anonymous.busInfo.clear();
    const struct {
        const char* what;
        CaptureDevice wanted;
        std::vector<CaptureDevice> now;
        std::optional<std::string> expected;
    } cases[] = {
        {"back under another node", usbCam, {loopback, movedTo(usbCam, 5)}, "/dev/video5"},
        {"its old node taken by a loopback camera while it is away", usbCam, {loopback}, std::nullopt},
        {"another camera of the same model is another camera", usbCam, {sameModel}, std::nullopt},
        {"no persistent name: its name and port", integrated, {other, movedTo(integrated, 3)}, "/dev/video3"},
        {"no persistent name: same name, another port", integrated, {camera(4, "Integrated Camera")}, {}},
        {"no name, no bus position: the same node", anonymous, {other, camera(1, "")}, "/dev/video1"},
        {"nothing plugged", usbCam, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CaptureDevice::findSame(c.wanted, c.now), c.expected) << c.what;
    }
}

TEST(CaptureDevice, ListsVideoNodesInNumericOrderWithTheirPersistentNames) {
    const fs::path dir = fs::temp_directory_path() / ("tavrine-devs-" + std::to_string(::getpid()));
    fs::create_directories(dir / "v4l/by-id");
    for (const char* name : {"video10", "video2", "video0", "videofoo", "video1p", "media0", "vbi0"}) {
        std::ofstream(dir / name) << "not a device";
    }
    fs::create_symlink("../../video10", dir / "v4l/by-id/usb-Acme_Cam_42-video-index0");
    fs::create_symlink("../../video2", dir / "v4l/by-id/usb-Acme_Cam_42-video-index1");
    fs::create_symlink("../../video9", dir / "v4l/by-id/usb-Gone-video-index0"); // dangling
    // A plain file answers no capability query: readable, not capturing.
    std::vector<std::tuple<std::string, std::string, int, bool, bool>> got, expected;
    for (const CaptureDevice& d : CaptureDevice::list(dir.string(), (dir / "sys").string())) {
        got.emplace_back(d.path, d.byId, d.index, d.readable, d.capture);
    }
    for (const auto& [index, byId] :
         {std::pair{0, ""}, {2, "usb-Acme_Cam_42-video-index1"}, {10, "usb-Acme_Cam_42-video-index0"}}) {
        expected.emplace_back((dir / ("video" + std::to_string(index))).string(), byId, index, true, false);
    }
    fs::remove_all(dir);
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(CaptureDevice::list((dir / "gone").string()).empty());
}

TEST(FrameSourceFactory, ReadsTheCameraOption) {
    const std::string demo = demoClipPath();
    EXPECT_TRUE(fs::is_regular_file(demo)) << "the demonstration clip ships with the application";
    // Only the bare word names the demonstration clip; no word at all is the webcam.
    for (const std::string option : {"webcam", "/dev/video3", "clips/office.webm", "./demo"}) {
        EXPECT_EQ(makeFrameSource(option)->describe(), option);
    }
    EXPECT_EQ(makeFrameSource("")->describe(), "webcam");
    EXPECT_EQ(makeFrameSource("demo")->describe(), demo);
}

namespace {

// Encodes a VP8/WebM clip of solid colour (ARGB) with GStreamer's own tool, so no clip is kept in the tree.
bool makeClip(const fs::path& path, int width, int height, int fps, int frames, std::uint32_t argb) {
    const std::string command =
        "gst-launch-1.0 -q videotestsrc pattern=solid-color foreground-color=" + std::to_string(argb) +
        " num-buffers=" + std::to_string(frames) + " ! video/x-raw,width=" + std::to_string(width) +
        ",height=" + std::to_string(height) + ",framerate=" + std::to_string(fps) +
        "/1 ! vp8enc deadline=1 ! webmmux ! filesink location=" + path.string();
    return std::system(command.c_str()) == 0 && fs::file_size(path) > 0;
}

class GstFrameSourceTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        gst_init(nullptr, nullptr);
        dir = fs::temp_directory_path() / ("tavrine-capture-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    static void TearDownTestSuite() { fs::remove_all(dir); }

    static inline const FrameSource::FrameHandler ignore = [](const VideoFrame&) {};
    static inline fs::path dir;
};

// One pixel of a BGRA frame, {B, G, R, A}, to within the encoder's loss.
void expectPixel(const VideoFrame& f, int x, int y, std::array<int, 4> want, const char* where) {
    const std::uint8_t* p = f.pixels->data() + static_cast<std::size_t>(y) * f.stride + x * 4;
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(p[i], want[i], 14) << where << " channel " << i;
    }
}

} // namespace

// A wide clip is letterboxed into 640x480 BGRA, not stretched, and played in a loop.
TEST_F(GstFrameSourceTest, FileFramesArriveLetterboxedIn640x480BgraAndLoop) {
    const fs::path clip = dir / "wide.webm";
    // A 1-second 16:9 clip: R=0xe0, G=0x80, B=0x20.
    ASSERT_TRUE(makeClip(clip, 320, 180, 10, 10, 0xffe08020));
    GstFrameSource source({.kind = GstFrameSource::Kind::file, .location = clip});
    ASSERT_EQ(source.accessStatus(), FrameSource::Access::authorized);
    std::atomic<int> frames = 0;
    VideoFrame first; // written before the count leaves 0
    ASSERT_EQ(source.start([&](const VideoFrame& f) {
        first = frames == 0 ? f : first;
        ++frames;
    }),
              std::nullopt);
    // Past the end of the 10-frame clip: only a looping source keeps delivering.
    for (int i = 0; i < 400 && frames < 25; ++i) {
        std::this_thread::sleep_for(50ms);
    }
    source.stop();
    EXPECT_GE(frames, 25);
    ASSERT_TRUE(first.pixels);
    ASSERT_EQ(std::tuple(first.width, first.height, first.stride, first.pixels->size()),
              std::tuple(640, 480, 640 * 4, std::size_t(640 * 480 * 4)));
    // A 360-row picture between two 60-row black bands.
    expectPixel(first, 320, 10, {0, 0, 0, 0xff}, "top band");
    expectPixel(first, 320, 470, {0, 0, 0, 0xff}, "bottom band");
    expectPixel(first, 320, 240, {0x20, 0x80, 0xe0, 0xff}, "picture");
    expectPixel(first, 5, 80, {0x20, 0x80, 0xe0, 0xff}, "picture edge");
}

// What is no camera or video is a configuration failure; a node that cannot be read is a permission refusal,
// told without a prompt (checked as an unprivileged user: the number of the first check that fails).
TEST_F(GstFrameSourceTest, WhatCannotBePlayedIsRefusedWithItsReason) {
    const fs::path text = dir / "notes.txt";
    const fs::path node = dir / "video-locked";
    std::ofstream(text) << "this is not a video\n";
    std::ofstream(node) << "";
    ::chmod(text.c_str(), 0666);
    ::chmod(node.c_str(), 0);
    const auto refusals = [&] {
        using enum GstFrameSource::Kind;
        const auto start = [](GstFrameSource::Kind kind, const fs::path& location) {
            return GstFrameSource({.kind = kind, .location = location}).start(ignore);
        };
        GstFrameSource locked({.kind = camera, .location = node});
        const bool checks[] = {start(camera, text) == CameraError::configurationFailed,
                               start(file, text) == CameraError::configurationFailed,
                               start(file, dir) == CameraError::configurationFailed,
                               locked.accessStatus() == FrameSource::Access::denied &&
                                   !locked.requestAccess(),
                               locked.start(ignore) == CameraError::permissionDenied,
                               start(file, node) == CameraError::permissionDenied};
        const auto failed = std::find(std::begin(checks), std::end(checks), false);
        return failed == std::end(checks) ? 0 : 1 + static_cast<int>(failed - std::begin(checks));
    };
    EXPECT_EQ(asUnprivilegedUser(refusals), 0) << "the first check that failed (99: no unprivileged user)";
}

// Counts the buffers crossing a pad whose timestamps fall in [from, to) of stream time, so rates are read
// from the stream itself, however fast or slow the machine runs it.
struct PtsCounter {
    static constexpr GstClockTime from = 300 * GST_MSECOND;
    static constexpr GstClockTime to = 1800 * GST_MSECOND;
    std::atomic<int> inWindow{0};
    std::atomic<bool> passed{false}; // a buffer at or past `to` went by

    static GstPadProbeReturn onBuffer(GstPad*, GstPadProbeInfo* info, gpointer data) {
        auto* self = static_cast<PtsCounter*>(data);
        const GstClockTime pts = GST_BUFFER_PTS(GST_PAD_PROBE_INFO_BUFFER(info));
        if (GST_CLOCK_TIME_IS_VALID(pts) && pts >= to) {
            self->passed = true;
        } else if (GST_CLOCK_TIME_IS_VALID(pts) && pts >= from) {
            ++self->inWindow;
        }
        return GST_PAD_PROBE_OK;
    }
    // Watches the sink pad of the pipeline's first element made by `factory` or named so; false when there
    // is none.
    bool watch(GstElement* pipeline, const char* factory) {
        GstIterator* it = gst_bin_iterate_recurse(GST_BIN(pipeline));
        GValue item = G_VALUE_INIT;
        bool found = false;
        while (!found && gst_iterator_next(it, &item) == GST_ITERATOR_OK) {
            auto* element = GST_ELEMENT(g_value_get_object(&item));
            GstElementFactory* made = gst_element_get_factory(element);
            if ((made && std::string(GST_OBJECT_NAME(made)) == factory) ||
                std::string(GST_OBJECT_NAME(element)) == factory) {
                GstPad* pad = gst_element_get_static_pad(element, "sink");
                gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &PtsCounter::onBuffer, this, nullptr);
                gst_object_unref(pad);
                found = true;
            }
            g_value_reset(&item);
        }
        g_value_unset(&item);
        gst_iterator_free(it);
        return found;
    }
};

// A 30 fps source with the analysis at 10 (or 15) frames a second: the frames the analyzer would not admit
// are dropped before the conversion to BGRA, and for a Motion-JPEG camera before the JPEG decoding. Counted
// over 1.5 s of stream time: 15 frames at 10 fps (every third frame), 22 or 23 at 15 fps, 45 unlimited. A
// consumer that turns every frame away (a suspended analyzer) gets the frame after each one let through at
// first, then, idle after five, one frame a second: 2 in the window; taking frames again from the seventh
// (at 1.3 s), it is back to the analysis rate at once: 6. A camera that offers slower
// modes is asked for one, counted where its frames come in: 10 fps for an analysis at 5 (15 frames; 7 or 8
// analysed), 20 when it offers 15, 20 and 30 for one at 10 (30 frames); one that lists a mode it then
// refuses is started again in a mode of its own (30 fps) and the gate still thins it.
TEST_F(GstFrameSourceTest, FramesBeyondTheAnalysisRateAreDroppedBeforeDecodingAndConversion) {
    const fs::path clip = dir / "thirty.webm";
    ASSERT_TRUE(makeClip(clip, 320, 240, 30, 90, 0xff808080));
    const std::string small = "videotestsrc is-live=true ! video/x-raw,width=320,height=240";
    const std::string live = small + ",framerate=30/1";
    const std::string simulated = "videotestsrc is-live=true ! video/x-raw,width=640,height=480";
    const std::string decode = GstFrameSource::cameraDecodeStage();
    struct Case {
        std::string location; // the clip, else a pipeline description
        int limit;
        int turnsAway;       // frames the consumer turns away before it takes every one (-1: all)
        const char* watched; // the element whose input is counted
        int expected;
        int delivered;
    };
    const Case cases[] = {
        {live, 10, 0, "videoconvert", 15, 15},
        {live + " ! jpegenc" + decode, 10, 0, "decodebin", 15, 15},
        {clip.string(), 15, 0, "videoconvert", 22, 22},
        {live, 0, 0, "videoconvert", 45, 45},
        {live, 10, -1, "videoconvert", 2, 2},
        {live, 10, 6, "videoconvert", 6, 6},
        {simulated + ",format=YUY2,framerate={30/1,15/1,10/1,5/1}" + decode, 5, 0, "cameramode", 15, 8},
        {simulated + " ! jpegenc ! image/jpeg,framerate={30/1,20/1,15/1}" + decode, 10, 0, "cameramode", 30,
         15},
        {small + ",framerate={30/1,15/1} ! jpegenc" + decode, 10, 0, "cameramode", 45, 15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location + " at " + std::to_string(c.limit) + " fps, " + std::to_string(c.turnsAway) +
                     " turned away");
        using Kind = GstFrameSource::Kind;
        GstFrameSource source({.kind = c.location == clip ? Kind::file : Kind::description,
                               .location = c.location,
                               .frameRateLimit = c.limit});
        int seen = 0;
        ASSERT_EQ(source.start([&](const VideoFrame&) {
            if (c.turnsAway >= 0 && ++seen > c.turnsAway) {
                source.frameAdmitted();
            }
        }),
                  std::nullopt);
        PtsCounter watched, delivered;
        GstElement* pipeline = source.pipelineForTests();
        ASSERT_NE(pipeline, nullptr);
        const bool found = watched.watch(pipeline, c.watched) && delivered.watch(pipeline, "sink");
        gst_object_unref(pipeline);
        ASSERT_TRUE(found);
        for (int i = 0; i < 400 && !(watched.passed && delivered.passed); ++i) {
            std::this_thread::sleep_for(50ms);
        }
        const bool past = watched.passed && delivered.passed;
        source.stop(); // removes the probes with the pipeline
        ASSERT_TRUE(past) << "the stream never reached 1.8 s";
        EXPECT_NEAR(watched.inWindow, c.expected, 1) << "frames into " << c.watched;
        EXPECT_NEAR(delivered.inWindow, c.delivered, 1) << "frames delivered";
    }
}

// The mode asked of a camera, from the modes it lists (as v4l2src reports them), at an analysis rate.
TEST(CameraModeChoice, TheCameraSendsNoMoreThanTheAnalysisTakesAtTheFrameItNeeds) {
    // A mode as v4l2src lists it: raw YUYV or Motion-JPEG frames of one size at these rates.
    const auto yuyv = [](const std::string& rates, int width = 640, int height = 480) {
        return "video/x-raw,format=YUY2,width=" + std::to_string(width) +
               ",height=" + std::to_string(height) + ",framerate=" + rates;
    };
    const auto mjpeg = [](const std::string& rates, int width = 640, int height = 480) {
        return "image/jpeg,width=" + std::to_string(width) + ",height=" + std::to_string(height) +
               ",framerate=" + rates;
    };
    struct Case {
        const char* what;
        std::string offered;
        int fps;
        std::string expected; // empty: the camera picks its own
    };
    const Case cases[] = {
        {"two frames an analysis interval, not exactly its rate",
         yuyv("{30/1,20/1,15/1,10/1,5/1}") + ";" + mjpeg("{30/1,15/1}"), 10, yuyv("20/1")},
        {"15 would give 7.5: 30", mjpeg("{30/1,15/1}") + ";" + mjpeg("15/1", 1280, 720), 10, mjpeg("30/1")},
        {"a range: twice the analysis rate", yuyv("[1/1,30/1]"), 10, yuyv("20/1")},
        {"a range starting above it: its lowest multiple", yuyv("[15/1,30/1]"), 10, yuyv("20/1")},
        {"NTSC rates", yuyv("{30000/1001,15000/1001}"), 10, yuyv("30000/1001")},
        {"another analysis rate", yuyv("{30/1,25/1,20/1,15/1}"), 15, yuyv("30/1")},
        {"raw before JPEG at the same size and rate", mjpeg("30/1") + ";" + yuyv("30/1"), 10, yuyv("30/1")},
        {"a full analysis rate before raw", yuyv("5/1") + ";" + mjpeg("30/1"), 10, mjpeg("30/1")},
        {"the smallest picture that fills the frame",
         yuyv("30/1", 320, 240) + ";" + yuyv("30/1") + ";" + yuyv("10/1", 1280, 720), 10, yuyv("30/1")},
        {"a wide camera: the width fills it",
         mjpeg("{30/1,10/1}", 1920, 1080) + ";" + mjpeg("{30/1,10/1}", 640, 360) + ";" +
             mjpeg("{30/1,10/1}", 1280, 720),
         10, mjpeg("30/1", 640, 360)},
        {"only small pictures: the largest", yuyv("30/1", 320, 240) + ";" + yuyv("30/1", 352, 288), 10,
         yuyv("30/1", 352, 288)},
        {"a slow camera: its fastest", yuyv("{5/1,8/1}", 1280, 720), 10, yuyv("8/1", 1280, 720)},
        {"sizes as ranges", "video/x-raw,format=YUY2,width=[160,1920],height=[120,1080],framerate=30/1", 10,
         yuyv("30/1")},
        {"nothing we decode",
         "video/x-h264,width=640,height=480,framerate=30/1;video/x-bayer,width=640,height=480", 10, ""},
        {"no rate limit", yuyv("{30/1,10/1}"), 0, ""},
        {"not caps", "((", 10, ""},
        {"anything", "ANY", 10, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GstFrameSource::chooseCameraMode(c.offered, c.fps), c.expected) << c.what;
    }
}

// The message does not matter; the system error in the debug text does.
TEST(GstErrorMapping, DeviceErrorsBecomeTheCameraErrorCases) {
    using enum CameraError;
    const GQuark resource = GST_RESOURCE_ERROR;
    const struct {
        GQuark domain;
        int code;
        const char* debug;
        CameraError expected;
    } cases[] = {
        {resource, GST_RESOURCE_ERROR_NOT_FOUND, nullptr, noCameraAvailable},
        {resource, GST_RESOURCE_ERROR_NOT_AUTHORIZED, nullptr, permissionDenied},
        {resource, GST_RESOURCE_ERROR_OPEN_READ_WRITE, "system error: Permission denied", permissionDenied},
        {resource, GST_RESOURCE_ERROR_OPEN_READ_WRITE, "system error: No such device", configurationFailed},
        {resource, GST_RESOURCE_ERROR_SETTINGS, nullptr, configurationFailed},
        {GST_STREAM_ERROR, GST_STREAM_ERROR_NOT_IMPLEMENTED, nullptr, configurationFailed},
    };
    for (const auto& c : cases) {
        GError* error = g_error_new_literal(c.domain, c.code, "Could not open device '/dev/video0'.");
        EXPECT_EQ(cameraErrorForGstError(error, c.debug), c.expected)
            << g_quark_to_string(c.domain) << " " << c.code << " " << (c.debug ? c.debug : "");
        g_error_free(error);
    }
}
