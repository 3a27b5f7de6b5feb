#include "platform/linux/facemodel/FaceModelPaths.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace tavrine {

FaceModelPaths FaceModelPaths::inDirectory(const std::string& modelDir, const std::string& landmarks) {
    const std::filesystem::path dir(modelDir);
    return FaceModelPaths{(dir / fullRangeFile).string(), (dir / shortRangeFile).string(), landmarks};
}

FaceModelPaths FaceModelPaths::locate() {
    std::vector<std::string> dirs;
    if (const char* env = std::getenv("TAVRINE_MODEL_DIR"); env && *env) {
        dirs.emplace_back(env);
    }
    // An installed program finds them beside it (<prefix>/bin/../share/tavrine/models), wherever the
    // package put the prefix: the build's own install prefix is only where a plain `cmake --install` goes.
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec && program.parent_path().filename() == "bin") {
        dirs.push_back((program.parent_path().parent_path() / "share/tavrine/models").string());
    }
    dirs.emplace_back(TAVRINE_MODELS_BUILD_DIR);
    dirs.emplace_back(TAVRINE_MODELS_INSTALL_DIR);

    std::string landmarks = TAVRINE_DLIB_LANDMARKS;
    if (const char* env = std::getenv("TAVRINE_LANDMARK_MODEL"); env && *env) {
        landmarks = env;
    }
    for (const std::string& dir : dirs) {
        if (std::filesystem::is_regular_file(std::filesystem::path(dir) / fullRangeFile, ec)) {
            return inDirectory(dir, landmarks);
        }
    }
    return inDirectory(dirs.front(), landmarks);
}

} // namespace tavrine
