#pragma once

namespace tavrine {

// One short haptic pulse, where the machine has a device for it; otherwise nothing.
class Haptics {
  public:
    virtual ~Haptics() = default;
    virtual void pulse() = 0;
};

} // namespace tavrine
