#include "platform/linux/capture/CaptureDevice.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

using tavrine::CaptureDevice;

namespace {

CaptureDevice camera(int index, std::string card, bool fixedPort = false, std::string byId = "") {
    CaptureDevice d;
    d.path = "/dev/video" + std::to_string(index);
    d.index = index;
    d.capture = true;
    d.card = std::move(card);
    d.busInfo = "usb-0000:00:14.0-" + std::to_string(index);
    d.fixedPort = fixedPort;
    d.byId = std::move(byId);
    return d;
}

// A node that could not be opened, so not even asked whether it captures.
CaptureDevice locked(int index) {
    CaptureDevice d = camera(index, "");
    d.readable = false;
    d.capture = false;
    return d;
}

CaptureDevice notCapturing(CaptureDevice d) {
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
         {locked(0), camera(1, "USB Camera")},
         "/dev/video1"},
        {"only locked nodes: the lowest, so the start reports the refusal",
         {locked(7), locked(0)},
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
    const CaptureDevice loopback = camera(2, "Dummy video device (0x0000)");
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
        {"another camera of the same model is another camera",
         usbCam,
         {camera(2, "Acme Cam", false, "usb-Acme_Cam_77-video-index0")},
         std::nullopt},
        {"no persistent name: same name and port",
         camera(1, "Integrated Camera"),
         {camera(0, "Other"), movedTo(camera(1, "Integrated Camera"), 3)},
         "/dev/video3"},
        {"no persistent name: same name on another port is not it",
         camera(1, "Integrated Camera"),
         {camera(4, "Integrated Camera")},
         std::nullopt},
        {"no name, no bus position: the same node",
         anonymous,
         {camera(0, "Other"), camera(1, "")},
         "/dev/video1"},
        {"nothing plugged", usbCam, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CaptureDevice::findSame(c.wanted, c.now), c.expected) << c.what;
    }
}

TEST(CaptureDevice, ListsVideoNodesInNumericOrderWithTheirPersistentNames) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tavrine-devs-" + std::to_string(::getpid()));
    fs::create_directories(dir / "v4l/by-id");
    for (const char* name : {"video10", "video2", "video0", "videofoo", "video1p", "media0", "vbi0"}) {
        std::ofstream(dir / name) << "not a device";
    }
    fs::create_symlink("../../video10", dir / "v4l/by-id/usb-Acme_Cam_42-video-index0");
    fs::create_symlink("../../video2", dir / "v4l/by-id/usb-Acme_Cam_42-video-index1");
    fs::create_symlink("../../video9", dir / "v4l/by-id/usb-Gone-video-index0"); // dangling
    const auto devices = CaptureDevice::list(dir.string(), (dir / "sys").string());
    fs::remove_all(dir);
    ASSERT_EQ(devices.size(), 3u);
    const struct {
        int index;
        const char* byId;
    } expected[] = {{0, ""}, {2, "usb-Acme_Cam_42-video-index1"}, {10, "usb-Acme_Cam_42-video-index0"}};
    for (std::size_t i = 0; i < devices.size(); ++i) {
        EXPECT_EQ(devices[i].index, expected[i].index);
        EXPECT_EQ(devices[i].path, (dir / ("video" + std::to_string(expected[i].index))).string());
        EXPECT_EQ(devices[i].byId, expected[i].byId) << devices[i].path;
        EXPECT_TRUE(devices[i].readable);
        EXPECT_FALSE(devices[i].capture) << "a plain file answers no capability query";
    }
    EXPECT_TRUE(CaptureDevice::list((dir / "gone").string()).empty());
}
