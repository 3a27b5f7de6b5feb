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
    dirs.emplace_back(TAVRINE_MODELS_BUILD_DIR);
    dirs.emplace_back(TAVRINE_MODELS_INSTALL_DIR);

    std::string landmarks = TAVRINE_DLIB_LANDMARKS;
    if (const char* env = std::getenv("TAVRINE_LANDMARK_MODEL"); env && *env) {
        landmarks = env;
    }
    for (const std::string& dir : dirs) {
        std::error_code ec;
        if (std::filesystem::is_regular_file(std::filesystem::path(dir) / fullRangeFile, ec)) {
            return inDirectory(dir, landmarks);
        }
    }
    return inDirectory(dirs.front(), landmarks);
}

} // namespace tavrine
