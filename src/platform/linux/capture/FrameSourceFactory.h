#pragma once

#include "platform/linux/capture/GstFrameSource.h"

#include <memory>
#include <string>

namespace tavrine {

// The line that documents the option in `tavrine --help`.
inline constexpr const char* kCameraOptionHelp =
    "  --camera SOURCE   where frames come from: /dev/videoN, a video file (played in a loop), or \"demo\"\n"
    "                    for the built-in demonstration clip (default: the built-in webcam, else the first "
    "one)";

// The frame source for a --camera value: "" or "webcam" for the built-in (else first) V4L2 camera,
// "/dev/..." for that device node, "demo" for the demonstration clip, anything else for a video file.
// Never fails: a missing device or file is reported when the camera starts (noCameraAvailable).
std::shared_ptr<GstFrameSource> makeFrameSource(const std::string& spec);

// The installed demonstration clip (share/tavrine/demo/ beside the executable's prefix, else the install
// prefix, else the source tree); empty when none is found.
std::string demoClipPath();

} // namespace tavrine
