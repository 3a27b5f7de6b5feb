#pragma once

#include "core/service/Haptics.h"

#include <string>

namespace tavrine {

// One short rumble on the first input device under `deviceDir` (normally /dev/input) that offers
// force feedback (FF_RUMBLE) and that we may open for writing; nothing when there is none. The device
// is looked for at the first pulse and kept open; a device that fails is dropped and looked for again
// at the next pulse.
class EvdevHaptics final : public Haptics {
  public:
    explicit EvdevHaptics(std::string deviceDir = "/dev/input");
    ~EvdevHaptics() override;
    EvdevHaptics(const EvdevHaptics&) = delete;
    EvdevHaptics& operator=(const EvdevHaptics&) = delete;

    void pulse() override;

    // The device in use, empty when none was found (tests, diagnostics).
    const std::string& devicePath() const { return devicePath_; }

    static constexpr int pulseLengthMs = 80;

  private:
    bool openDevice();
    void closeDevice();

    std::string deviceDir_;
    std::string devicePath_;
    int fd_ = -1;
    int effectId_ = -1;
};

} // namespace tavrine
