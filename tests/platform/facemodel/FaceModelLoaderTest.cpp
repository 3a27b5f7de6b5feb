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

TEST(FaceModelLoad, CorruptFilesGiveAnErrorNotACrash) {
    ModelDir dir;
    dir.copyReal(FaceModelPaths::shortRangeFile);
    dir.write(FaceModelPaths::fullRangeFile, "this is not a network");
    auto loaded = BlazeFaceDetector::load(dir.paths(realLandmarks()));
    EXPECT_FALSE(loaded.detector);
    EXPECT_NE(loaded.error.find("corrupt"), std::string::npos) << loaded.error;

    dir.truncateCopy(FaceModelPaths::fullRangeFile);
    loaded = BlazeFaceDetector::load(dir.paths(realLandmarks()));
    EXPECT_FALSE(loaded.detector);
    EXPECT_NE(loaded.error.find(FaceModelPaths::fullRangeFile), std::string::npos) << loaded.error;

    // The two models swapped: each loads, but not with the outputs of its size.
    fs::copy_file(fs::path(TAVRINE_TEST_MODELS_DIR) / FaceModelPaths::shortRangeFile,
                  dir.path(FaceModelPaths::fullRangeFile), fs::copy_options::overwrite_existing);
    loaded = BlazeFaceDetector::load(dir.paths(realLandmarks()));
    EXPECT_FALSE(loaded.detector);
    EXPECT_FALSE(loaded.error.empty());

    dir.copyReal(FaceModelPaths::fullRangeFile);
    dir.write("landmarks.dat", std::string(1000, '\x07'));
    loaded = BlazeFaceDetector::load(dir.paths(dir.path("landmarks.dat").string()));
    EXPECT_FALSE(loaded.detector);
    EXPECT_NE(loaded.error.find("landmark model is corrupt"), std::string::npos) << loaded.error;
}

TEST(FaceModelLoader, FailedLoadIsReportedAndTheFactoryGivesNoAnalyzer) {
    ModelDir dir;
    VirtualExecutor executor;
    FaceModelLoader loader(executor, dir.paths(realLandmarks()));
    std::string reported = "unset";
    loader.whenReady([&](const BlazeFaceDetector::Loaded& loaded) { reported = loaded.error; });
    EXPECT_FALSE(loader.wait().detector);
    // The callback runs on the main thread only.
    EXPECT_EQ(reported, "unset");
    executor.runPending();
    EXPECT_NE(reported.find("not found"), std::string::npos) << reported;

    auto factory = loader.analyzerFactory(executor, executor);
    EXPECT_EQ(factory(10), nullptr);
}

TEST(FaceModelLoader, SharesOneDetectorAcrossAnalyzers) {
    VirtualExecutor executor;
    FaceModelLoader loader(executor, FaceModelPaths::inDirectory(TAVRINE_TEST_MODELS_DIR, realLandmarks()));
    auto factory = loader.analyzerFactory(executor, executor);
    // Made while loading or after: either way a working analyzer at the asked rate.
    auto early = factory(15);
    ASSERT_TRUE(early);
    EXPECT_EQ(early->minIntervalMs(), 66);
    const BlazeFaceDetector::Loaded& loaded = loader.wait();
    ASSERT_TRUE(loaded.detector) << loaded.error;
    bool ready = false;
    loader.whenReady([&](const BlazeFaceDetector::Loaded& l) { ready = l.detector == loaded.detector; });
    executor.runPending();
    EXPECT_TRUE(ready);

    auto late = factory(10);
    ASSERT_TRUE(late);
    int results = 0;
    for (auto& analyzer : {early, late}) {
        analyzer->onResult = [&](const DetectionInput& in) {
            ++results;
            EXPECT_EQ(in.faceCount, 0);
        };
        analyzer->analyze(
            VideoFrame{640, 480, 2560, std::make_shared<const std::vector<std::uint8_t>>(2560 * 480)});
        analyzer->drainForTests();
    }
    executor.runPending();
    EXPECT_EQ(results, 2);
}
