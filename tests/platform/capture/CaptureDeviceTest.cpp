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
