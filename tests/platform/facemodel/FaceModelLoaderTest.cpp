#include "FaceDataTest.h"

using namespace tavrine;

// Each missing file is named in the error, the detection models first, then the landmark model.
TEST(FaceModelLoad, MissingFilesAreNamedInTheError) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tavrine-models-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string landmarks = FaceModelPaths::locate().landmarks;
    auto loaded = BlazeFaceDetector::load(FaceModelPaths::inDirectory(dir.string(), landmarks));
    EXPECT_FALSE(loaded.detector);
    EXPECT_NE(loaded.error.find("not found"), std::string::npos) << loaded.error;
    EXPECT_NE(loaded.error.find(FaceModelPaths::fullRangeFile), std::string::npos) << loaded.error;

    fs::copy_file(fs::path(TAVRINE_TEST_MODELS_DIR) / FaceModelPaths::fullRangeFile,
                  dir / FaceModelPaths::fullRangeFile);
    loaded = BlazeFaceDetector::load(FaceModelPaths::inDirectory(dir.string(), landmarks));
    EXPECT_FALSE(loaded.detector);
    EXPECT_NE(loaded.error.find(FaceModelPaths::shortRangeFile), std::string::npos) << loaded.error;

    fs::copy_file(fs::path(TAVRINE_TEST_MODELS_DIR) / FaceModelPaths::shortRangeFile,
                  dir / FaceModelPaths::shortRangeFile);
    loaded = BlazeFaceDetector::load(FaceModelPaths::inDirectory(dir.string(), (dir / "none.dat").string()));
    EXPECT_FALSE(loaded.detector);
    EXPECT_NE(loaded.error.find("landmark model not found"), std::string::npos) << loaded.error;
    fs::remove_all(dir);
}
