#include "FaceDataTest.h"

#include "core/util/VirtualExecutor.h"
#include "platform/linux/facemodel/FaceModelLoader.h"

#include <fstream>
#include <iterator>

using namespace tavrine;

namespace {

namespace fs = std::filesystem;

class ModelDir {
  public:
    ModelDir()
        : dir_(fs::temp_directory_path() /
               ("tavrine-models-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    ~ModelDir() { fs::remove_all(dir_); }
    fs::path path(const std::string& name) const { return dir_ / name; }
    void copyReal(const std::string& name) const {
        fs::copy_file(fs::path(TAVRINE_TEST_MODELS_DIR) / name, dir_ / name,
                      fs::copy_options::overwrite_existing);
    }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    void truncateCopy(const std::string& name) const {
        std::ifstream in(fs::path(TAVRINE_TEST_MODELS_DIR) / name, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        write(name, bytes.substr(0, bytes.size() / 2));
    }
    FaceModelPaths paths(const std::string& landmarks) const {
        return FaceModelPaths::inDirectory(dir_.string(), landmarks);
    }

  private:
    fs::path dir_;
};

std::string realLandmarks() {
    return FaceModelPaths::locate().landmarks;
}

} // namespace

TEST(FaceModelLoad, MissingFilesAreNamedInTheError) {
    ModelDir dir;
    auto loaded = BlazeFaceDetector::load(dir.paths(realLandmarks()));
    EXPECT_FALSE(loaded.detector);
    EXPECT_NE(loaded.error.find("not found"), std::string::npos) << loaded.error;
    EXPECT_NE(loaded.error.find(FaceModelPaths::fullRangeFile), std::string::npos) << loaded.error;

    dir.copyReal(FaceModelPaths::fullRangeFile);
    loaded = BlazeFaceDetector::load(dir.paths(realLandmarks()));
    EXPECT_FALSE(loaded.detector);
    EXPECT_NE(loaded.error.find(FaceModelPaths::shortRangeFile), std::string::npos) << loaded.error;

    dir.copyReal(FaceModelPaths::shortRangeFile);
    loaded = BlazeFaceDetector::load(dir.paths(dir.path("no-landmarks.dat").string()));
    EXPECT_FALSE(loaded.detector);
    EXPECT_NE(loaded.error.find("landmark model not found"), std::string::npos) << loaded.error;
}
