#pragma once

#include "core/detection/FaceDetector.h"
#include "platform/linux/facemodel/BlazeFaceCandidate.h"
#include "platform/linux/facemodel/BlazeFaceModel.h"
#include "platform/linux/facemodel/FaceLandmarker.h"
#include "platform/linux/facemodel/FaceModelPaths.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tavrine {

// The production face detector: the full-range BlazeFace model on the letterboxed frame, each candidate
// confirmed (and its box refined) by the short-range model on a crop around it (framed again on what that
// look half-saw when the crop cut the face), and for the widest face (the user) dlib's 68 landmarks, from
// which the head's yaw and pitch are read (HeadPoseSolver).
//
// Between full-range passes the faces of the previous frame are followed with the short-range model
// alone (about a tenth of the cost); a face that appears is found at the next full-range pass, and a user
// the short-range model misses is searched for with the full-range pass on the same frame.
// Serialized internally: one shared instance may serve several analyzers.
class BlazeFaceDetector final : public FaceDetector {
  public:
    struct Options {
        // The full-range network scores a face 5 % of the frame wide (a person about 2.5 m behind the
        // user) well under the 0.75 it gives near faces, so its candidates are taken from 0.4 on: every
        // one must still pass the short-range re-check, which is what keeps phantoms out.
        float fullRangeMinScore = 0.4f;
        float recheckMinScore = 0.7f;
        // 1: the full-range pass on every frame (stateless, for still images).
        int fullRangeEvery = 1;
        // With no face in view for two frames or more, the full-range pass runs on every searchEvery-th
        // frame; the frames between report no face at no cost. A face that was followed and is lost is
        // searched for at once, on that frame and the next.
        int searchEvery = 1;
        // A face beyond the first counts only once seen in 2 of the last 3 frames, so a single-frame false
        // detection cannot raise an onlooker.
        bool confirmExtraFaces = false;
    };

    struct Loaded {
        std::shared_ptr<BlazeFaceDetector> detector; // null on failure
        std::string error;
    };

    // Blocking (about a second): reads and checks the three models.
    static Loaded load(const FaceModelPaths& paths, Options options);
    static Loaded load(const FaceModelPaths& paths) { return load(paths, Options{}); }

    std::optional<std::vector<FaceObservation>> detect(const VideoFrame& frame) override;

    // Forgets the faces followed so far (the next frame is unrelated to the last).
    void reset();
    void setOptions(const Options& options);

    // Faces of one BGRA frame (CV_8UC4, as the camera gives it) in frame pixels, top-left origin, after the
    // re-check (no landmarks).
    std::vector<BlazeFaceCandidate> findFaces(const cv::Mat& bgra);

    // dlib's 68 points of one face found by findFaces, in frame pixels; gray: the CV_8UC1 frame.
    std::vector<cv::Point2f> fitLandmarks(const cv::Mat& gray, const BlazeFaceCandidate& face) const;

    // How many full-range passes ran so far (benchmarks, tests).
    std::uint64_t fullRangePasses() const { return fullRangePasses_.load(); }
    // How many landmark fits started from the box framed on the last frame's points (benchmarks, tests).
    std::uint64_t followedFits() const { return followedFits_.load(); }

  private:
    BlazeFaceDetector(std::unique_ptr<BlazeFaceModel> fullRange, std::unique_ptr<BlazeFaceModel> shortRange,
                      std::unique_ptr<FaceLandmarker> landmarker, Options options);

    std::vector<BlazeFaceCandidate> fullRangePass(const cv::Mat& bgra);
    std::optional<BlazeFaceCandidate> recheck(const cv::Mat& bgra, const cv::Rect2f& box);
    // The short-range model on a crop framed on `around`: its candidate overlapping `face` most among those
    // at the re-check score. With none, `glimpse` (when given) gets the same among weaker candidates.
    std::optional<BlazeFaceCandidate> look(const cv::Mat& bgra, const cv::Rect2f& around,
                                           const cv::Rect2f& face,
                                           std::optional<BlazeFaceCandidate>* glimpse);
    std::vector<BlazeFaceCandidate> confirm(std::vector<BlazeFaceCandidate> faces);
    // Where the landmark fit of a face starts, and the fit itself: from the box framed on a rough fit, or
    // from `framed` when given.
    cv::Rect2f startBox(const BlazeFaceCandidate& face) const;
    std::vector<cv::Point2f> fitFrom(const cv::Mat& gray, const cv::Rect2f& start,
                                     const std::optional<cv::Rect2f>& framed) const;

    std::mutex mutex_;
    std::unique_ptr<BlazeFaceModel> fullRange_;
    std::unique_ptr<BlazeFaceModel> shortRange_;
    std::unique_ptr<FaceLandmarker> landmarker_;
    Options options_;
    std::vector<BlazeFaceCandidate> tracked_; // faces of the last frame, frame pixels
    // Starts (and restarts) as long ago, so the first frame gets a full-range pass.
    static constexpr int kLongAgo = 1 << 20;
    int framesSinceFullPass_ = kLongAgo;
    // Frames in a row without a face; from kStillGone on, nobody is in view.
    static constexpr int kStillGone = 2;
    int framesWithoutFace_ = kLongAgo;
    std::atomic<std::uint64_t> fullRangePasses_{0};
    std::atomic<std::uint64_t> followedFits_{0};
    std::vector<std::vector<cv::Rect2f>> recentFrames_; // the last frames' raw faces, newest last
    // The user's fit followed from frame to frame (frame pixels): the start box where a rough fit last
    // placed it, and the box framed on the last frame's points.
    struct FollowedFit {
        cv::Rect2f placedAt;
        cv::Rect2f framed;
    };
    std::optional<FollowedFit> followedFit_;
};

} // namespace tavrine
