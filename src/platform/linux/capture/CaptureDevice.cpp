#include "platform/linux/capture/CaptureDevice.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace tavrine {

namespace {

std::optional<int> videoIndex(const std::string& name) {
    constexpr std::string_view prefix = "video";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    int n = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > 100000) {
            return std::nullopt;
        }
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool looksBuiltIn(const CaptureDevice& d) {
    const std::string card = lower(d.card);
    for (const char* word : {"integrated", "front", "built-in", "builtin", "internal"}) {
        if (card.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The USB device above the video interface says "fixed" in `removable` when the port is built in.
bool onFixedPort(const std::filesystem::path& sysNode) {
    std::error_code ec;
    const auto device = std::filesystem::canonical(sysNode / "device", ec);
    if (ec) {
        return false;
    }
    for (const auto& candidate : {device / "removable", device.parent_path() / "removable"}) {
        std::ifstream in(candidate);
        std::string value;
        if (in >> value) {
            return value == "fixed";
        }
    }
    return false;
}

// The persistent names of devDir/v4l/by-id, keyed by the node each points to.
std::vector<std::pair<std::filesystem::path, std::string>> persistentNames(const std::string& devDir) {
    std::vector<std::pair<std::filesystem::path, std::string>> names;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(devDir) / "v4l/by-id", ec)) {
        std::error_code linkEc;
        const auto target = std::filesystem::canonical(entry.path(), linkEc);
        if (!linkEc) {
            names.emplace_back(target, entry.path().filename().string());
        }
    }
    // The first name in order for a node with several, whatever order the directory lists them in.
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    return names;
}

} // namespace

bool CaptureDevice::anyAccessible(const std::string& devDir) {
    bool anyNode = false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(devDir, ec)) {
        if (!videoIndex(entry.path().filename().string())) {
            continue;
        }
        anyNode = true;
        if (::access(entry.path().c_str(), R_OK | W_OK) == 0) {
            return true;
        }
    }
    return !anyNode;
}

std::vector<CaptureDevice> CaptureDevice::list(const std::string& devDir, const std::string& sysDir) {
    std::vector<CaptureDevice> devices;
    std::error_code ec;
    const auto names = persistentNames(devDir);
    const auto nameOf = [&names](const std::filesystem::path& node) {
        std::error_code canonicalEc;
        const auto resolved = std::filesystem::canonical(node, canonicalEc);
        for (const auto& [target, name] : names) {
            if (!canonicalEc && target == resolved) {
                return name;
            }
        }
        return std::string();
    };
    for (const auto& entry : std::filesystem::directory_iterator(devDir, ec)) {
        const auto index = videoIndex(entry.path().filename().string());
        if (!index) {
            continue;
        }
        CaptureDevice d;
        d.path = entry.path().string();
        d.index = *index;
        d.byId = nameOf(entry.path());
        const int fd = ::open(d.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            d.readable = !(errno == EACCES || errno == EPERM);
            devices.push_back(d);
            continue;
        }
        v4l2_capability cap{};
        if (::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
            const std::uint32_t caps =
                (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
            d.capture = (caps & (V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_VIDEO_CAPTURE_MPLANE)) != 0;
            d.card.assign(reinterpret_cast<const char*>(cap.card),
                          strnlen(reinterpret_cast<const char*>(cap.card), sizeof cap.card));
            d.busInfo.assign(reinterpret_cast<const char*>(cap.bus_info),
                             strnlen(reinterpret_cast<const char*>(cap.bus_info), sizeof cap.bus_info));
        }
        ::close(fd);
        d.fixedPort = onFixedPort(std::filesystem::path(sysDir) / entry.path().filename());
        devices.push_back(d);
    }
    std::sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) { return a.index < b.index; });
    return devices;
}

std::optional<std::string> CaptureDevice::choose(const std::vector<CaptureDevice>& devices) {
    const CaptureDevice* best = nullptr;
    int bestScore = -1;
    for (const auto& d : devices) {
        if (!d.readable || !d.capture) {
            continue;
        }
        const int score = (looksBuiltIn(d) ? 2 : 0) + (d.fixedPort ? 1 : 0);
        if (score > bestScore || (score == bestScore && d.index < best->index)) {
            best = &d;
            bestScore = score;
        }
    }
    if (best) {
        return best->path;
    }
    // Nodes we may not open could be the camera: naming one lets the start report refused access.
    const auto locked = std::min_element(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
        return (a.readable ? 1 : 0) < (b.readable ? 1 : 0) || (a.readable == b.readable && a.index < b.index);
    });
    if (locked != devices.end() && !locked->readable) {
        return locked->path;
    }
    return std::nullopt;
}

std::optional<std::string> CaptureDevice::findSame(const CaptureDevice& wanted,
                                                   const std::vector<CaptureDevice>& devices) {
    const auto same = [&wanted](const CaptureDevice& d) {
        if (!wanted.byId.empty()) {
            return d.byId == wanted.byId;
        }
        if (wanted.card.empty() || wanted.busInfo.empty()) {
            // Nothing tells this camera apart: its node is all there is to go by.
            return d.path == wanted.path;
        }
        // Without a persistent name, the driver's name and the bus position must both match.
        return d.card == wanted.card && d.busInfo == wanted.busInfo && d.capture;
    };
    const auto it = std::find_if(devices.begin(), devices.end(), same);
    if (it == devices.end()) {
        return std::nullopt;
    }
    return it->path;
}

} // namespace tavrine
