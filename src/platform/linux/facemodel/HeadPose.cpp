#include "platform/linux/facemodel/HeadPose.h"

#include <opencv2/calib3d.hpp>

#include <cmath>
#include <vector>

namespace tavrine {

std::optional<HeadPose>
HeadPose::estimate(const std::array<cv::Point2f, BlazeFaceCandidate::keypointCount>& keypoints,
                   cv::Size frameSize) {
    // A generic adult face in millimetres, x to the image right, y down, z away from the camera, in the
    // keypoint order of the detector (image-left eye first).
    static const std::vector<cv::Point3d> model = {
        {-32.0, -35.0, 30.0}, {32.0, -35.0, 30.0},   {0.0, 0.0, 0.0},
        {0.0, 32.0, 22.0},    {-72.0, -15.0, 100.0}, {72.0, -15.0, 100.0},
    };
    std::vector<cv::Point2d> image;
    for (const cv::Point2f& p : keypoints) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
            return std::nullopt;
        }
        image.emplace_back(p.x, p.y);
    }
    const double f = frameSize.width;
    const cv::Matx33d camera(f, 0, frameSize.width / 2.0, 0, f, frameSize.height / 2.0, 0, 0, 1);
    cv::Mat rvec, tvec;
    try {
        if (!cv::solvePnP(model, image, camera, cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_ITERATIVE)) {
            return std::nullopt;
        }
        cv::Mat rotation;
        cv::Rodrigues(rvec, rotation);
        cv::Mat r, q;
        const cv::Vec3d euler = cv::RQDecomp3x3(rotation, r, q);
        HeadPose pose;
        // RQDecomp3x3 gives the rotations about x, y and z in degrees, in camera axes (y down, z away):
        // a face turning towards the image's right is a negative rotation about y, and one tilting up a
        // negative rotation about x. The yaw sign is checked against labelled portraits.
        pose.pitchDegrees = -euler[0];
        pose.yawDegrees = -euler[1];
        pose.rollDegrees = euler[2];
        if (!std::isfinite(pose.yawDegrees) || !std::isfinite(pose.pitchDegrees)) {
            return std::nullopt;
        }
        return pose;
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

} // namespace tavrine
