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

using namespace tavrine;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A force-feedback device made with uinput: it accepts effect uploads and erasures and records the effects
// uploaded and the ones it is asked to play, as a gamepad's driver would.
class UinputRumbleDevice {
  public:
    UinputRumbleDevice() {
        fd_ = ::open("/dev/uinput", O_RDWR | O_CLOEXEC);
        uinput_setup setup{};
        setup.id.bustype = BUS_VIRTUAL;
        std::snprintf(setup.name, sizeof setup.name, "tavrine test rumble");
        setup.ff_effects_max = 4;
        char name[64] = {};
        if (fd_ < 0 || ::ioctl(fd_, UI_SET_EVBIT, EV_FF) < 0 || ::ioctl(fd_, UI_SET_FFBIT, FF_RUMBLE) < 0 ||
            ::ioctl(fd_, UI_DEV_SETUP, &setup) < 0 || ::ioctl(fd_, UI_DEV_CREATE) < 0 ||
            ::ioctl(fd_, UI_GET_SYSNAME(sizeof name), name) < 0) {
            why_ = std::string("uinput: ") + std::strerror(errno);
            return;
        }
        // The event node of the new device, once udev (or devtmpfs) has made it.
        for (int i = 0; i < 100 && eventNode_.empty(); ++i, std::this_thread::sleep_for(20ms)) {
            std::error_code ec;
            for (const auto& entry :
                 fs::directory_iterator(fs::path("/sys/devices/virtual/input") / name, ec)) {
                const std::string n = entry.path().filename().string();
                if (n.rfind("event", 0) == 0 && fs::exists("/dev/input/" + n)) {
                    eventNode_ = "/dev/input/" + n;
                }
            }
        }
        why_ = eventNode_.empty() ? "the device's event node did not appear under /dev/input" : "";
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

    std::mutex mutex;
    std::vector<ff_effect> uploads;
    std::vector<input_event> plays;

  private:
    void serve() {
        for (pollfd p{fd_, POLLIN, 0}; !stop_;) {
            input_event e{};
            if (::poll(&p, 1, 50) <= 0 || ::read(fd_, &e, sizeof e) != static_cast<ssize_t>(sizeof e)) {
                continue;
            }
            std::lock_guard lock(mutex);
            if (e.type == EV_UINPUT && e.code == UI_FF_UPLOAD) {
                uinput_ff_upload upload{};
                upload.request_id = static_cast<std::uint32_t>(e.value);
                ::ioctl(fd_, UI_BEGIN_FF_UPLOAD, &upload);
                uploads.push_back(upload.effect);
                upload.retval = 0;
                ::ioctl(fd_, UI_END_FF_UPLOAD, &upload);
            } else if (e.type == EV_UINPUT && e.code == UI_FF_ERASE) {
                uinput_ff_erase erase{};
                erase.request_id = static_cast<std::uint32_t>(e.value);
                ::ioctl(fd_, UI_BEGIN_FF_ERASE, &erase);
                erase.retval = 0;
                ::ioctl(fd_, UI_END_FF_ERASE, &erase);
            } else if (e.type == EV_FF) {
                plays.push_back(e);
            }
        }
    }

    int fd_ = -1;
    std::string why_;
    std::string eventNode_;
    std::thread serving_;
    std::atomic<bool> stop_{false};
};

// Event nodes that are not devices, lack force feedback or cannot be read are skipped untouched; a
// force-feedback device among them gets one rumble effect, uploaded once and played for each pulse.
TEST(EvdevHaptics, ARumbleIsPlayedOnTheForceFeedbackDeviceAndNothingElseIsTouched) {
    const fs::path dir = fs::temp_directory_path() / ("tavrine-haptics-" + std::to_string(::getpid()));
    fs::create_directories(dir / "by-id");
    for (const char* name : {"event0", "event1", "mouse0", "event3"}) {
        std::ofstream(dir / name) << "x";
    }
    fs::permissions(dir / "event3", fs::perms::none);
    EvdevHaptics none(dir.string());
    none.pulse();
    EXPECT_TRUE(none.devicePath().empty());
    std::string content;
    std::ifstream(dir / "event0") >> content;
    EXPECT_EQ(content, "x") << "nothing is written to a node without force feedback";

    UinputRumbleDevice device;
    if (!device.unavailable().empty()) {
        fs::remove_all(dir);
        GTEST_SKIP() << "no virtual force-feedback device here (" << device.unavailable()
                     << "): needs the uinput module and the right to use it";
    }
    fs::create_symlink(device.eventNode(), dir / "event5");
    EvdevHaptics haptics(dir.string());
    haptics.pulse();
    haptics.pulse();
    EXPECT_EQ(haptics.devicePath(), (dir / "event5").string());
    for (int i = 0; i < 100 &&
                    [&] {
                        std::lock_guard lock(device.mutex);
                        return device.plays.size() < 2;
                    }();
         ++i) {
        std::this_thread::sleep_for(20ms);
    }
    fs::remove_all(dir);
    std::lock_guard lock(device.mutex);
    ASSERT_EQ(device.uploads.size(), 1u);
    const ff_effect& effect = device.uploads.front();
    EXPECT_EQ(effect.type, FF_RUMBLE);
    EXPECT_EQ(effect.replay.length, EvdevHaptics::pulseLengthMs);
    EXPECT_GT(effect.u.rumble.strong_magnitude, 0);
    EXPECT_GT(effect.u.rumble.weak_magnitude, 0);
    ASSERT_EQ(device.plays.size(), 2u);
    for (const input_event& play : device.plays) {
        EXPECT_EQ(play.code, static_cast<unsigned>(effect.id)) << "the uploaded effect is the one played";
        EXPECT_EQ(play.value, 1);
    }
}
