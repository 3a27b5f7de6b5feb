#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tavrine {

// What the system tells about one video device node, enough to pick the camera the user expects.
struct CaptureDevice {
    std::string path;       // e.g. /dev/video2
    int index = 0;          // the N of /dev/videoN
    bool readable = true;   // the node opens for reading and writing
    bool capture = false;   // offers video capture (not only metadata or output)
    std::string card;       // driver's name for it, e.g. "Integrated Camera: Integrated C"
    std::string busInfo;    // e.g. "usb-0000:00:14.0-6"
    bool fixedPort = false; // on a USB port the firmware marks as built in
    std::string byId;       // its persistent name under /dev/v4l/by-id, e.g. "usb-Acme_Cam_1234-video-index0"

    // Lists the /dev/videoN nodes of devDir, asking each for its capabilities (this opens every node:
    // never on the main thread); sysfs tells built-in ports, devDir/v4l/by-id the persistent names.
    static std::vector<CaptureDevice> list(const std::string& devDir = "/dev",
                                           const std::string& sysDir = "/sys/class/video4linux");
    // Whether some video node of devDir may be opened, or none exists, without opening any.
    static bool anyAccessible(const std::string& devDir = "/dev");

    // The built-in (integrated or front) camera when it can be told apart, else the first capture device.
    // When no node can be opened, the first node, so that the caller reports the refused access. Nothing
    // when there is no video node at all.
    static std::optional<std::string> choose(const std::vector<CaptureDevice>& devices);

    // The node that is now the same camera as `wanted`: the one with its persistent name, or without one
    // the one with the same name and bus position (with neither, the same node). Nothing when it is
    // absent: another camera (a virtual loopback that took its node number, say) is never taken for it.
    static std::optional<std::string> findSame(const CaptureDevice& wanted,
                                               const std::vector<CaptureDevice>& devices);
};

} // namespace tavrine
