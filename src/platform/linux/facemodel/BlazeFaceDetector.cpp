#include "platform/linux/facemodel/BlazeFaceDetector.h"

#include "core/detection/HeadPoseSolver.h"
#include "platform/linux/facemodel/AreaDownscale.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tavrine {

namespace {

constexpr int kFullRangeSize = 256;
constexpr int kShortRangeSize = 128;
// The short-range model sees faces that fill about half of its input: crop 2.2 times the face.
constexpr float kRecheckCropScale = 2.2f;
constexpr float kSameFaceIou = 0.3f;
// What a first re-check look must score on a face for a second, better framed look to be taken.
constexpr float kSecondLookMinScore = 0.5f;
// dlib's regions: image-left eye 36-41, image-right eye 42-47, nose 27-35.
constexpr int kLeftEyeFirst = 36, kRightEyeFirst = 42, kNoseFirst = 27;

// Whether `b` is within a twentieth of `a`'s width of it, in place and in size.
bool closeTo(const cv::Rect2f& a, const cv::Rect2f& b) {
    const cv::Point2f ca(a.x + a.width / 2, a.y + a.height / 2), cb(b.x + b.width / 2, b.y + b.height / 2);
    return a.width > 0 && cv::norm(ca - cb) <= 0.05 * a.width && std::abs(b.width / a.width - 1.0f) <= 0.05f;
}

cv::Rect2f squareAround(const cv::Rect2f& box, float scale) {
    const float side = std::max(box.width, box.height) * scale;
    return {box.x + box.width / 2 - side / 2, box.y + box.height / 2 - side / 2, side, side};
}

// The widest face, taken for the user's.
std::vector<BlazeFaceCandidate>::const_iterator widest(const std::vector<BlazeFaceCandidate>& faces) {
    return std::max_element(faces.begin(), faces.end(),
                            [](const auto& a, const auto& b) { return a.box.width < b.box.width; });
}

std::vector<FaceObservation::Point> region(const std::vector<cv::Point2f>& points, int first, int last,
                                           const cv::Rect2f& box) {
    std::vector<FaceObservation::Point> out;
    for (int i = first; i <= last; ++i) {
        const cv::Point2f& p = points[static_cast<std::size_t>(i)];
        out.push_back({(p.x - box.x) / box.width, 1.0 - (p.y - box.y) / box.height});
    }
    return out;
}

} // namespace

BlazeFaceDetector::BlazeFaceDetector(std::unique_ptr<BlazeFaceModel> fullRange,
                                     std::unique_ptr<BlazeFaceModel> shortRange,
                                     std::unique_ptr<FaceLandmarker> landmarker, Options options)
    : fullRange_(std::move(fullRange)), shortRange_(std::move(shortRange)),
      landmarker_(std::move(landmarker)), options_(options) {}

BlazeFaceDetector::Loaded BlazeFaceDetector::load(const FaceModelPaths& paths, Options options) {
    Loaded loaded;
    auto fullRange = BlazeFaceModel::load(paths.fullRange, kFullRangeSize, loaded.error);
    if (!fullRange) {
        return loaded;
    }
    auto shortRange = BlazeFaceModel::load(paths.shortRange, kShortRangeSize, loaded.error);
    if (!shortRange) {
        return loaded;
    }
    auto landmarker = FaceLandmarker::load(paths.landmarks, loaded.error);
    if (!landmarker) {
        return loaded;
    }
    loaded.detector = std::shared_ptr<BlazeFaceDetector>(
        new BlazeFaceDetector(std::move(fullRange), std::move(shortRange), std::move(landmarker), options));
    return loaded;
}

void BlazeFaceDetector::reset() {
    std::lock_guard lock(mutex_);
    tracked_.clear();
    framesWithoutFace_ = kLongAgo;
    recentFrames_.clear();
    followedFit_.reset();
    framesSinceFullPass_ = kLongAgo;
}

void BlazeFaceDetector::setOptions(const Options& options) {
    std::lock_guard lock(mutex_);
    options_ = options;
}

std::vector<BlazeFaceCandidate> BlazeFaceDetector::fullRangePass(const cv::Mat& bgra) {
    // Letterbox: the frame scaled into the middle of a black square, aspect kept. The scaling works on each
    // channel alone, so the square is turned to RGB after it, on a fifth of the pixels.
    const int side = std::max(bgra.cols, bgra.rows);
    const double scale = static_cast<double>(kFullRangeSize) / side;
    const int w = std::max(1, static_cast<int>(std::lround(bgra.cols * scale)));
    const int h = std::max(1, static_cast<int>(std::lround(bgra.rows * scale)));
    cv::Mat square(kFullRangeSize, kFullRangeSize, CV_8UC4, cv::Scalar::all(0)), rgb;
    const cv::Rect inner((kFullRangeSize - w) / 2, (kFullRangeSize - h) / 2, w, h);
    cv::Mat scaled = square(inner);
    areaDownscale(bgra, scaled);
    cv::cvtColor(square, rgb, cv::COLOR_BGRA2RGB);

    std::vector<BlazeFaceCandidate> found = fullRange_->detect(rgb, options_.fullRangeMinScore);
    // Unit square -> frame pixels: undo the padding and the scale.
    const float toPx = static_cast<float>(kFullRangeSize) / static_cast<float>(scale);
    const float padX = static_cast<float>(inner.x / scale), padY = static_cast<float>(inner.y / scale);
    for (BlazeFaceCandidate& c : found) {
        c.box =
            cv::Rect2f(c.box.x * toPx - padX, c.box.y * toPx - padY, c.box.width * toPx, c.box.height * toPx);
        for (cv::Point2f& p : c.keypoints) {
            p = cv::Point2f(p.x * toPx - padX, p.y * toPx - padY);
        }
    }
    return found;
}

std::optional<BlazeFaceCandidate> BlazeFaceDetector::look(const cv::Mat& bgra, const cv::Rect2f& around,
                                                          const cv::Rect2f& face,
                                                          std::optional<BlazeFaceCandidate>* glimpse) {
    const cv::Rect2f crop = squareAround(around, kRecheckCropScale);
    if (!(crop.width >= 1.0f)) {
        return std::nullopt;
    }
    const double s = kShortRangeSize / static_cast<double>(crop.width);
    // Frame -> crop; outside the frame reads black, as in the letterbox.
    const cv::Matx23d toCrop(s, 0, -crop.x * s, 0, s, -crop.y * s);
    cv::Mat crop4, patch;
    cv::warpAffine(bgra, crop4, toCrop, cv::Size(kShortRangeSize, kShortRangeSize), cv::INTER_LINEAR,
                   cv::BORDER_CONSTANT, cv::Scalar::all(0));
    cv::cvtColor(crop4, patch, cv::COLOR_BGRA2RGB);
    auto overlapping = [&](std::vector<BlazeFaceCandidate> found) {
        std::optional<BlazeFaceCandidate> best;
        float bestIou = kSameFaceIou;
        for (BlazeFaceCandidate c : found) {
            c.box = cv::Rect2f(crop.x + c.box.x * crop.width, crop.y + c.box.y * crop.width,
                               c.box.width * crop.width, c.box.height * crop.width);
            for (cv::Point2f& p : c.keypoints) {
                p = cv::Point2f(crop.x + p.x * crop.width, crop.y + p.y * crop.width);
            }
            const float overlap = BlazeFaceModel::iou(c.box, face);
            if (overlap >= bestIou) {
                bestIou = overlap;
                best = c;
            }
        }
        return best;
    };
    auto confirmed = overlapping(shortRange_->detect(patch, options_.recheckMinScore));
    if (!confirmed && glimpse) {
        *glimpse = overlapping(shortRange_->again(kSecondLookMinScore));
    }
    return confirmed;
}

std::optional<BlazeFaceCandidate> BlazeFaceDetector::recheck(const cv::Mat& bgra, const cv::Rect2f& box) {
    std::optional<BlazeFaceCandidate> glimpse;
    if (auto confirmed = look(bgra, box, box, &glimpse)) {
        return confirmed;
    }
    // A box the full-range model made too small or off-centre leaves the face too large and cut off in the
    // crop, where the short-range model scores it low. When that look still half-saw a face there, a second
    // look framed on what it saw must confirm it at the full score.
    return glimpse ? look(bgra, glimpse->box, box, nullptr) : std::nullopt;
}

std::vector<BlazeFaceCandidate> BlazeFaceDetector::confirm(std::vector<BlazeFaceCandidate> faces) {
    std::vector<cv::Rect2f> boxes;
    for (const BlazeFaceCandidate& f : faces) {
        boxes.push_back(f.box);
    }
    std::vector<BlazeFaceCandidate> kept;
    auto seenBefore = [this](const cv::Rect2f& box) {
        return std::any_of(recentFrames_.begin(), recentFrames_.end(),
                           [&](const std::vector<cv::Rect2f>& frame) {
                               return std::any_of(frame.begin(), frame.end(), [&](const cv::Rect2f& b) {
                                   return BlazeFaceModel::iou(b, box) >= kSameFaceIou;
                               });
                           });
    };
    // The widest face is the user: always reported. Any other needs a second sighting.
    const auto user = widest(faces);
    for (auto it = faces.cbegin(); it != faces.cend(); ++it) {
        if (it == user || seenBefore(it->box)) {
            kept.push_back(*it);
        }
    }
    recentFrames_.push_back(std::move(boxes));
    if (recentFrames_.size() > 2) {
        recentFrames_.erase(recentFrames_.begin());
    }
    return kept;
}

std::vector<BlazeFaceCandidate> BlazeFaceDetector::findFaces(const cv::Mat& bgra) {
    std::vector<BlazeFaceCandidate> faces;
    // Nobody in view for two frames or more: the search skips frames. Right after a face was lost, it
    // runs on every frame.
    const int every = !tracked_.empty()                  ? options_.fullRangeEvery
                      : framesWithoutFace_ >= kStillGone ? options_.searchEvery
                                                         : 1;
    bool fullPass = every <= 1 || framesSinceFullPass_ + 1 >= every;
    if (!fullPass) {
        for (const BlazeFaceCandidate& t : tracked_) {
            if (auto followed = recheck(bgra, t.box)) {
                faces.push_back(*followed);
            }
        }
        // The user's face (the widest followed) missed by its re-check, after a quick move or on a noisy
        // frame: the whole frame is searched now. A frame without the user while they look away counts
        // as an onlooker.
        const auto user = widest(tracked_);
        const bool userFollowed = user == tracked_.end() ||
                                  std::any_of(faces.begin(), faces.end(), [&](const BlazeFaceCandidate& f) {
                                      return BlazeFaceModel::iou(f.box, user->box) >= kSameFaceIou;
                                  });
        if (userFollowed) {
            framesSinceFullPass_ = std::min(framesSinceFullPass_ + 1, kLongAgo);
        } else {
            faces.clear();
            fullPass = true;
        }
    }
    if (fullPass) {
        ++fullRangePasses_;
        for (const BlazeFaceCandidate& c : fullRangePass(bgra)) {
            if (auto confirmed = recheck(bgra, c.box)) {
                faces.push_back(*confirmed);
            }
        }
        framesSinceFullPass_ = 0;
    }
    // Two candidates may settle on the same face.
    faces = BlazeFaceModel::mergeOverlapping(std::move(faces), kSameFaceIou);
    tracked_ = faces;
    framesWithoutFace_ = faces.empty() ? std::min(framesWithoutFace_ + 1, kLongAgo) : 0;
    return options_.confirmExtraFaces ? confirm(std::move(faces)) : faces;
}

cv::Rect2f BlazeFaceDetector::startBox(const BlazeFaceCandidate& face) const {
    // The predictor starts from a box placed on the detector's eye, nose and mouth points rather than on
    // the detector's box, which stays centred on the whole head when it turns: from the latter the fit of a
    // head turned 40 degrees stays close to a frontal face. A degenerate keypoint box (a collapsed face)
    // falls back to the detector's box.
    const cv::Rect2f keypointBox =
        landmarker_->boxFor({face.keypoints[0], face.keypoints[1], face.keypoints[2], face.keypoints[3]});
    return keypointBox.width > 0.3f * face.box.width ? keypointBox : face.box;
}

std::vector<cv::Point2f> BlazeFaceDetector::fitFrom(const cv::Mat& gray, const cv::Rect2f& start,
                                                    const std::optional<cv::Rect2f>& framed) const {
    // Four points still place the start box only roughly, and where they put it moves the whole fit: moving
    // them by a twelfth of the face or scaling them by a tenth spread the head's yaw read over 5 degrees on
    // average. So a rough fit (a quarter of the cost of a full one) places the 68 points, the box is framed
    // again on all of them as the predictor's training boxes were, and the full fit starts from there: the
    // same moves then spread the yaw over 2 degrees. A box framed already (on the last frame's points) saves
    // the rough fit.
    const cv::Rect2f box =
        framed ? *framed
               : landmarker_->boxForFit(landmarker_->fit(gray, start, FaceLandmarker::placingCascades));
    const bool sound = std::isfinite(box.x) && std::isfinite(box.y) && box.width > 0.3f * start.width &&
                       box.width < 3.0f * start.width;
    return landmarker_->fit(gray, sound ? box : start);
}

std::vector<cv::Point2f> BlazeFaceDetector::fitLandmarks(const cv::Mat& gray,
                                                         const BlazeFaceCandidate& face) const {
    return fitFrom(gray, startBox(face), std::nullopt);
}

std::optional<std::vector<FaceObservation>> BlazeFaceDetector::detect(const VideoFrame& frame) {
    if (frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 4 || !frame.pixels ||
        frame.pixels->size() <
            static_cast<std::size_t>(frame.stride) * static_cast<std::size_t>(frame.height)) {
        return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    try {
        const cv::Mat bgra(frame.height, frame.width, CV_8UC4,
                           const_cast<std::uint8_t*>(frame.pixels->data()),
                           static_cast<std::size_t>(frame.stride));
        const std::vector<BlazeFaceCandidate> faces = findFaces(bgra);

        std::vector<FaceObservation> observations;
        const double fw = frame.width, fh = frame.height;
        for (const BlazeFaceCandidate& c : faces) {
            FaceObservation o;
            o.boundingBox = {c.box.x / fw, 1.0 - (c.box.y + c.box.height) / fh, c.box.width / fw,
                             c.box.height / fh};
            observations.push_back(o);
        }
        // Only the widest face (the user) gets landmarks and a head pose: the others only count.
        const auto user = widest(faces);
        if (user != faces.end()) {
            // The fit reads the pixels around its points, which stay within about the face: gray is made
            // for the face and a face's width on every side, and the fit runs in that region's pixels.
            const cv::Rect2f& b = user->box;
            const cv::Rect around = cv::Rect(cv::Point(static_cast<int>(std::floor(b.x - b.width)),
                                                       static_cast<int>(std::floor(b.y - b.height))),
                                             cv::Point(static_cast<int>(std::ceil(b.x + 2 * b.width)),
                                                       static_cast<int>(std::ceil(b.y + 2 * b.height)))) &
                                    cv::Rect(0, 0, bgra.cols, bgra.rows);
            cv::Mat gray;
            cv::cvtColor(bgra(around), gray, cv::COLOR_BGRA2GRAY);
            const cv::Point2f origin(static_cast<float>(around.x), static_cast<float>(around.y));
            BlazeFaceCandidate inRegion = *user;
            inRegion.box -= origin;
            for (cv::Point2f& p : inRegion.keypoints) {
                p -= origin;
            }
            // Between full-range passes the user's last points frame the box of the next fit, as long as the
            // detector's points stay where they were when a rough fit last placed the chain: the fit then
            // follows the face in the pixels. A face that moves or grows by a twentieth is placed afresh,
            // and so is the face of every full-range pass.
            const cv::Rect2f start = startBox(inRegion);
            const cv::Rect2f startInFrame = start + origin;
            std::optional<cv::Rect2f> framed;
            if (framesSinceFullPass_ > 0 && followedFit_ && closeTo(followedFit_->placedAt, startInFrame)) {
                framed = followedFit_->framed - origin;
                ++followedFits_;
            } else {
                followedFit_.reset();
            }
            std::vector<cv::Point2f> points = fitFrom(gray, start, framed);
            if (!followedFit_) {
                followedFit_ = FollowedFit{startInFrame, {}};
            }
            followedFit_->framed = landmarker_->boxForFit(points) + origin;
            for (cv::Point2f& p : points) {
                p += origin;
            }
            const cv::Rect2f& box = user->box;
            FaceObservation& primary = observations[static_cast<std::size_t>(user - faces.begin())];
            FaceObservation::Landmarks marks;
            marks.leftEye = region(points, kLeftEyeFirst, kLeftEyeFirst + 5, box);
            marks.rightEye = region(points, kRightEyeFirst, kRightEyeFirst + 5, box);
            marks.nose = region(points, kNoseFirst, kNoseFirst + 8, box);
            primary.landmarks = marks;
            std::vector<HeadPoseSolver::Point> pixels;
            pixels.reserve(points.size());
            for (const cv::Point2f& p : points) {
                pixels.push_back({p.x, p.y});
            }
            if (const auto pose = HeadPoseSolver::solve(pixels)) {
                primary.yaw = pose->yawDegrees * std::numbers::pi / 180.0;
                primary.pitch = pose->pitchDegrees * std::numbers::pi / 180.0;
            }
        } else {
            followedFit_.reset();
        }
        return observations;
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

} // namespace tavrine
