#include "platform/linux/haptics/EvdevHaptics.h"

#include <algorithm>
#include <array>
#include <climits>
#include <filesystem>
#include <vector>

#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tavrine {

namespace {

constexpr std::size_t bitsPerLong = sizeof(unsigned long) * CHAR_BIT;

bool hasRumble(int fd) {
    std::array<unsigned long, (FF_MAX + bitsPerLong) / bitsPerLong> bits{};
    if (ioctl(fd, EVIOCGBIT(EV_FF, sizeof(bits)), bits.data()) < 0) {
        return false;
    }
    return (bits[FF_RUMBLE / bitsPerLong] >> (FF_RUMBLE % bitsPerLong)) & 1UL;
}

} // namespace

EvdevHaptics::EvdevHaptics(std::string deviceDir) : deviceDir_(std::move(deviceDir)) {}

EvdevHaptics::~EvdevHaptics() {
    closeDevice();
}

bool EvdevHaptics::openDevice() {
    std::error_code ec;
    std::vector<std::string> candidates;
    for (const auto& entry : std::filesystem::directory_iterator(deviceDir_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("event", 0) == 0) {
            candidates.push_back(entry.path().string());
        }
    }
    std::sort(candidates.begin(), candidates.end());
    for (const auto& path : candidates) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        if (!hasRumble(fd)) {
            ::close(fd);
            continue;
        }
        ff_effect effect{};
        effect.type = FF_RUMBLE;
        effect.id = -1;
        effect.u.rumble.strong_magnitude = 0x8000;
        effect.u.rumble.weak_magnitude = 0x8000;
        effect.replay.length = pulseLengthMs;
        if (ioctl(fd, EVIOCSFF, &effect) < 0) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
        effectId_ = effect.id;
        devicePath_ = path;
        return true;
    }
    return false;
}

void EvdevHaptics::closeDevice() {
    if (fd_ >= 0) {
        if (effectId_ >= 0) {
            ioctl(fd_, EVIOCRMFF, effectId_);
        }
        ::close(fd_);
    }
    fd_ = -1;
    effectId_ = -1;
    devicePath_.clear();
}

void EvdevHaptics::pulse() {
    if (fd_ < 0 && !openDevice()) {
        return;
    }
    input_event play{};
    play.type = EV_FF;
    play.code = static_cast<unsigned short>(effectId_);
    play.value = 1;
    if (::write(fd_, &play, sizeof(play)) != static_cast<ssize_t>(sizeof(play))) {
        // Unplugged or revoked: look again next time.
        closeDevice();
    }
}

} // namespace tavrine
