#include "platform/linux/haptics/EvdevHaptics.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/uinput.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tavrine {
namespace {

namespace fs = std::filesystem;

class EvdevHapticsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("tavrine-haptics-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    void file(const std::string& name, const std::string& content = "x") {
        std::ofstream(dir / name) << content;
    }
    fs::path dir;
};

TEST_F(EvdevHapticsTest, NodesWithoutForceFeedbackOrUnreadableAreSkippedUntouched) {
    // Event nodes that are not devices (or lack force feedback) answer the capability query with an error.
    file("event0");
    file("event1");
    file("mouse0");
    file("event3");
    fs::permissions(dir / "event3", fs::perms::none);
    fs::create_directory(dir / "by-id");
    EvdevHaptics haptics(dir.string());
    haptics.pulse();
    EXPECT_TRUE(haptics.devicePath().empty());
    // Nothing was written to them.
    std::ifstream in(dir / "event0");
    std::string content;
    in >> content;
    EXPECT_EQ(content, "x");
}

// A force-feedback device made with uinput: it answers effect uploads and records what it is asked to
// play, as a gamepad's driver would.
class UinputRumbleDevice {
  public:
    UinputRumbleDevice() {
        fd_ = ::open("/dev/uinput", O_RDWR | O_CLOEXEC);
        if (fd_ < 0) {
            why_ = std::string("cannot open /dev/uinput: ") + std::strerror(errno);
            return;
        }
        ::ioctl(fd_, UI_SET_EVBIT, EV_FF);
        ::ioctl(fd_, UI_SET_FFBIT, FF_RUMBLE);
        uinput_setup setup{};
        setup.id.bustype = BUS_VIRTUAL;
        std::snprintf(setup.name, sizeof setup.name, "tavrine test rumble");
        setup.ff_effects_max = 4;
        char name[64] = {};
        if (::ioctl(fd_, UI_DEV_SETUP, &setup) < 0 || ::ioctl(fd_, UI_DEV_CREATE) < 0 ||
            ::ioctl(fd_, UI_GET_SYSNAME(sizeof name), name) < 0) {
            why_ = std::string("uinput refused the device: ") + std::strerror(errno);
            return;
        }
        // The event node of the new device, once udev (or devtmpfs) has made it.
        const fs::path sys = fs::path("/sys/devices/virtual/input") / name;
        for (int i = 0; i < 100 && eventNode_.empty(); ++i) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(sys, ec)) {
                const std::string n = entry.path().filename().string();
                if (n.rfind("event", 0) == 0 && fs::exists("/dev/input/" + n)) {
                    eventNode_ = "/dev/input/" + n;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (eventNode_.empty()) {
            why_ = "the device's event node did not appear under /dev/input";
            return;
        }
        serving_ = std::thread([this] { serve(); });
    }
    ~UinputRumbleDevice() {
        stop_ = true;
        if (serving_.joinable()) {
            serving_.join();
        }
        if (fd_ >= 0) {
            ::ioctl(fd_, UI_DEV_DESTROY);
            ::close(fd_);
        }
    }
    const std::string& unavailable() const { return why_; }
    const std::string& eventNode() const { return eventNode_; }

    struct Record {
        std::vector<ff_effect> uploads;
        std::vector<input_event> plays;
    };
    Record record() {
        std::lock_guard lock(mutex_);
        return record_;
    }

  private:
    void serve() {
        while (!stop_) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            input_event e{};
            if (::read(fd_, &e, sizeof e) != static_cast<ssize_t>(sizeof e)) {
                continue;
            }
            std::lock_guard lock(mutex_);
            if (e.type == EV_UINPUT && e.code == UI_FF_UPLOAD) {
                uinput_ff_upload upload{};
                upload.request_id = static_cast<std::uint32_t>(e.value);
                ::ioctl(fd_, UI_BEGIN_FF_UPLOAD, &upload);
                record_.uploads.push_back(upload.effect);
                upload.retval = 0;
                ::ioctl(fd_, UI_END_FF_UPLOAD, &upload);
            } else if (e.type == EV_UINPUT && e.code == UI_FF_ERASE) {
                uinput_ff_erase erase{};
                erase.request_id = static_cast<std::uint32_t>(e.value);
                ::ioctl(fd_, UI_BEGIN_FF_ERASE, &erase);
                erase.retval = 0;
                ::ioctl(fd_, UI_END_FF_ERASE, &erase);
            } else if (e.type == EV_FF) {
                record_.plays.push_back(e);
            }
        }
    }

    int fd_ = -1;
    std::string why_;
    std::string eventNode_;
    std::thread serving_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    Record record_;
};

TEST_F(EvdevHapticsTest, ARumbleEffectIsUploadedAndPlayedOnAForceFeedbackDevice) {
    UinputRumbleDevice device;
    if (!device.unavailable().empty()) {
        GTEST_SKIP() << "no virtual force-feedback device here (" << device.unavailable()
                     << "): needs the uinput module and the right to use it";
    }
    // The device among nodes without force feedback, under the name the library looks for.
    file("event0");
    fs::create_symlink(device.eventNode(), dir / "event5");
    EvdevHaptics haptics(dir.string());
    haptics.pulse();
    haptics.pulse();
    EXPECT_EQ(haptics.devicePath(), (dir / "event5").string());
    UinputRumbleDevice::Record r;
    for (int i = 0; i < 100; ++i) {
        r = device.record();
        if (r.plays.size() >= 2) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(r.uploads.size(), 1u) << "one effect, uploaded once and played for each pulse";
    const ff_effect& effect = r.uploads.front();
    EXPECT_EQ(effect.type, FF_RUMBLE);
    EXPECT_EQ(effect.replay.length, EvdevHaptics::pulseLengthMs);
    EXPECT_GT(effect.u.rumble.strong_magnitude, 0);
    EXPECT_GT(effect.u.rumble.weak_magnitude, 0);
    ASSERT_EQ(r.plays.size(), 2u);
    for (const input_event& play : r.plays) {
        EXPECT_EQ(play.code, static_cast<unsigned>(effect.id)) << "the uploaded effect is the one played";
        EXPECT_EQ(play.value, 1);
    }
}

} // namespace
} // namespace tavrine
