#include "platform/linux/capture/CaptureDevice.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

using tavrine::CaptureDevice;

namespace {

CaptureDevice camera(int index, std::string card, bool fixedPort = false) {
    CaptureDevice d;
    d.path = "/dev/video" + std::to_string(index);
    d.index = index;
    d.capture = true;
    d.card = std::move(card);
    d.busInfo = "usb-0000:00:14.0-" + std::to_string(index);
    d.fixedPort = fixedPort;
    return d;
}

} // namespace

TEST(CaptureDeviceChoice, PrefersTheBuiltInCameraOverAnEarlierExternalOne) {
    EXPECT_EQ(CaptureDevice::choose(
                  {camera(0, "HD Pro Webcam C920"), camera(2, "Integrated Camera: Integrated C")}),
              "/dev/video2");
    EXPECT_EQ(CaptureDevice::choose({camera(0, "USB Camera"), camera(4, "FRONT CAMERA")}), "/dev/video4");
    // Without a telling name, a camera on a port the firmware marks as built in wins.
    EXPECT_EQ(
        CaptureDevice::choose({camera(0, "USB2.0 HD UVC WebCam"), camera(1, "USB2.0 HD UVC WebCam", true)}),
        "/dev/video1");
    // A name and a fixed port together beat either alone.
    EXPECT_EQ(CaptureDevice::choose({camera(0, "Integrated Webcam"), camera(3, "Integrated Webcam", true),
                                     camera(5, "Other", true)}),
              "/dev/video3");
}

TEST(CaptureDeviceChoice, OtherwiseTakesTheLowestNumberedCaptureNode) {
    CaptureDevice metadata = camera(0, "Integrated Camera");
    metadata.capture = false; // the metadata node of the same camera
    EXPECT_EQ(CaptureDevice::choose({metadata, camera(11, "Cam B"), camera(3, "Cam A")}), "/dev/video3");
}

TEST(CaptureDeviceChoice, NodesThatCannotBeOpenedOnlyCountWhenNothingElseCan) {
    CaptureDevice locked = camera(0, "");
    locked.readable = false;
    locked.capture = false; // unknown: it could not be asked
    EXPECT_EQ(CaptureDevice::choose({locked, camera(1, "USB Camera")}), "/dev/video1");
    CaptureDevice locked2 = locked;
    locked2.index = 7;
    locked2.path = "/dev/video7";
    EXPECT_EQ(CaptureDevice::choose({locked2, locked}), "/dev/video0") << "so the start reports the refusal";
}

TEST(CaptureDeviceChoice, NoCaptureNodeMeansNoCamera) {
    EXPECT_EQ(CaptureDevice::choose({}), std::nullopt);
    CaptureDevice output = camera(0, "loopback");
    output.capture = false;
    EXPECT_EQ(CaptureDevice::choose({output}), std::nullopt);
}

TEST(CaptureDeviceList, ListsOnlyVideoNodesInNumericOrderAndAsksEachWhatItIs) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tavrine-devs-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    for (const char* name : {"video10", "video2", "video0", "videofoo", "video1p", "media0", "vbi0"}) {
        std::ofstream(dir / name) << "not a device";
    }
    const auto devices = CaptureDevice::list(dir.string(), (dir / "sys").string());
    fs::remove_all(dir);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].index, 0);
    EXPECT_EQ(devices[1].index, 2);
    EXPECT_EQ(devices[2].index, 10);
    EXPECT_EQ(devices[2].path, (dir / "video10").string());
    for (const auto& d : devices) {
        EXPECT_TRUE(d.readable);
        EXPECT_FALSE(d.capture) << "a plain file answers no capability query";
    }
    EXPECT_EQ(CaptureDevice::choose(devices), std::nullopt);
    EXPECT_TRUE(CaptureDevice::list((dir / "gone").string()).empty());
}

TEST(CaptureDeviceList, NamesEachNodeByItsPersistentLink) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tavrine-byid-" + std::to_string(::getpid()));
    fs::create_directories(dir / "v4l/by-id");
    for (const char* name : {"video0", "video1", "video4"}) {
        std::ofstream(dir / name) << "not a device";
    }
    fs::create_symlink("../../video4", dir / "v4l/by-id/usb-Acme_Cam_42-video-index0");
    fs::create_symlink("../../video1", dir / "v4l/by-id/usb-Acme_Cam_42-video-index1");
    fs::create_symlink("../../video9", dir / "v4l/by-id/usb-Gone-video-index0"); // dangling
    const auto devices = CaptureDevice::list(dir.string(), (dir / "sys").string());
    fs::remove_all(dir);
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].byId, "") << "video0 has no persistent name (a loopback, say)";
    EXPECT_EQ(devices[1].byId, "usb-Acme_Cam_42-video-index1");
    EXPECT_EQ(devices[2].byId, "usb-Acme_Cam_42-video-index0");
}

// The camera in use was unplugged; which node, if any, is the same camera now?
struct SameCameraCase {
    const char* name;
    const char* what;
    CaptureDevice wanted;
    std::vector<CaptureDevice> now;
    std::optional<std::string> expected;
};

CaptureDevice named(CaptureDevice d, std::string byId) {
    d.byId = std::move(byId);
    return d;
}

class CaptureDeviceSame : public ::testing::TestWithParam<SameCameraCase> {};

TEST_P(CaptureDeviceSame, FollowsTheCameraNotTheNodeNumber) {
    const SameCameraCase& c = GetParam();
    EXPECT_EQ(CaptureDevice::findSame(c.wanted, c.now), c.expected) << c.what;
}

const CaptureDevice usbCam = named(camera(2, "Acme Cam"), "usb-Acme_Cam_42-video-index0");
const CaptureDevice loopback = camera(2, "Dummy video device (0x0000)");

INSTANTIATE_TEST_SUITE_P(
    Cases, CaptureDeviceSame,
    ::testing::Values(SameCameraCase{"BackUnderAnotherNode",
                                     "back under another node",
                                     usbCam,
                                     {loopback, named(camera(5, "Acme Cam"), "usb-Acme_Cam_42-video-index0")},
                                     "/dev/video5"},
                      SameCameraCase{"LoopbackOnItsOldNode",
                                     "its old node taken by a loopback camera while it is away",
                                     usbCam,
                                     {loopback},
                                     std::nullopt},
                      SameCameraCase{"SameModelOtherSerial",
                                     "another camera of the same model is another camera",
                                     usbCam,
                                     {named(camera(2, "Acme Cam"), "usb-Acme_Cam_77-video-index0")},
                                     std::nullopt},
                      SameCameraCase{"NoNameSamePort",
                                     "no persistent name: same name and port",
                                     camera(1, "Integrated Camera"),
                                     {camera(0, "Other"),
                                      [] {
                                          CaptureDevice d = camera(1, "Integrated Camera");
                                          d.path = "/dev/video3";
                                          return d;
                                      }()},
                                     "/dev/video3"},
                      SameCameraCase{"NoNameOtherPort",
                                     "no persistent name: same name on another port is not it",
                                     camera(1, "Integrated Camera"),
                                     {camera(4, "Integrated Camera")},
                                     std::nullopt},
                      SameCameraCase{"NothingTellsItApart",
                                     "no name, no bus position: the same node",
                                     [] {
                                         CaptureDevice d = camera(1, "");
                                         d.busInfo.clear();
                                         return d;
                                     }(),
                                     {camera(0, "Other"), camera(1, "")},
                                     "/dev/video1"},
                      SameCameraCase{"NothingPlugged", "nothing plugged", usbCam, {}, std::nullopt}),
    [](const ::testing::TestParamInfo<SameCameraCase>& info) { return std::string(info.param.name); });
