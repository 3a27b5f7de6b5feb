#include "platform/linux/capture/FrameSourceFactory.h"

#include <filesystem>
#include <system_error>

namespace tavrine {

namespace {
constexpr const char* kDemoFileName = "tavrine-demo.webm";
}

std::string demoClipPath() {
    namespace fs = std::filesystem;
    std::vector<fs::path> candidates;
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        candidates.push_back(exe.parent_path().parent_path() / "share/tavrine/demo" / kDemoFileName);
    }
    candidates.push_back(fs::path(TAVRINE_DEMO_INSTALL_DIR) / kDemoFileName);
    candidates.push_back(fs::path(TAVRINE_DEMO_SOURCE_DIR) / kDemoFileName);
    for (const auto& path : candidates) {
        if (fs::is_regular_file(path, ec)) {
            return path.string();
        }
    }
    return {};
}

std::shared_ptr<GstFrameSource> makeFrameSource(const std::string& spec) {
    GstFrameSource::Options options;
    if (spec.empty() || spec == "webcam") {
        options.kind = GstFrameSource::Kind::camera;
    } else if (spec == "demo") {
        options.kind = GstFrameSource::Kind::file;
        options.location = demoClipPath();
        if (options.location.empty()) {
            // Reported as a missing camera at start, like any absent file.
            options.location = std::string(TAVRINE_DEMO_INSTALL_DIR) + "/" + kDemoFileName;
        }
    } else if (spec.rfind("/dev/", 0) == 0) {
        options.kind = GstFrameSource::Kind::camera;
        options.location = spec;
    } else {
        options.kind = GstFrameSource::Kind::file;
        options.location = spec;
    }
    return std::make_shared<GstFrameSource>(std::move(options));
}

} // namespace tavrine
