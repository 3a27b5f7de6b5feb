#include "platform/linux/facemodel/FaceLandmarker.h"

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv/cv_image.h>
#include <dlib/serialize.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <malloc.h>

namespace tavrine {

namespace {

constexpr std::size_t kShapeValues = 2 * FaceLandmarker::pointCount;
// A leaf as kept: its values as 16-bit steps of its own scale, the scale (a float in two slots), and two
// slots of padding: 280 bytes.
constexpr std::size_t kScaleSlot = kShapeValues;
constexpr std::size_t kLeafSlots = kShapeValues + 4;
// How many trees ahead a leaf is fetched before it is added.
constexpr std::size_t kPrefetchAhead = 4;

} // namespace

// dlib's shape predictor, read from its own file format and evaluated the same way, with each cascade's
// splits and leaves packed in one array instead of one heap block per leaf, and each leaf kept as 16-bit
// steps of its own scale instead of 32-bit floats. A fit waits on its leaves (one of sixteen per tree,
// picked from 65 MB of floats), not on its arithmetic: halving them took a fit in live analysis from 1.46
// to 0.96 ms, and the process 33 MB smaller. A leaf's values are then within 1/65534 of its largest. The
// trees' pixel tests turn on any change, though: on 600 GENKI portraits the largest move of a point was
// under a tenth of a pixel on 470, and 1.2 pixels or less on 95 % of them. Starting the fit one pixel to
// the side (the least dlib's whole-pixel boxes can move) moves a point by 2.7 pixels on the median
// portrait. The leaf additions, of a length known at compile time, are vectorized.
struct FaceLandmarker::Impl {
    struct Split {
        std::uint32_t idx1;
        std::uint32_t idx2;
        float thresh;
    };
    struct Cascade {
        std::vector<unsigned long> anchorIdx;
        std::vector<dlib::vector<float, 2>> deltas;
        std::size_t trees = 0;
        std::size_t splitsPerTree = 0;
        std::vector<Split> splits;        // trees x splitsPerTree
        std::vector<std::int16_t> leaves; // trees x (splitsPerTree + 1) x kLeafSlots
    };
    dlib::matrix<float, 0, 1> initialShape;
    std::vector<Cascade> cascades;

    // The pixels a cascade's trees test, as dlib's predictor reads them: each feature's offset from its
    // anchor point turned by the similarity that takes the mean shape to the current one, then taken from
    // the unit box to the face's box and rounded to a whole pixel (0 outside the image). The similarity is
    // solved in closed form where dlib takes a singular value decomposition through LAPACK (for a rotation
    // and a scale in the plane both give the same least-squares answer), and the box's mapping is written
    // out where dlib solves it. In the running application's profile, reading the pixels went from 3.6 %
    // of the analysis thread to 1.2 %; a fit alone on one warm image hardly changes (0.64 to 0.63 ms).
    void features(const cv::Mat& gray, const dlib::rectangle& rect, const float* shape,
                  const Cascade& cascade, std::vector<float>& out) const {
        double fromX = 0, fromY = 0, toX = 0, toY = 0;
        const float* from = &initialShape(0);
        for (std::size_t i = 0; i < FaceLandmarker::pointCount; ++i) {
            fromX += from[2 * i];
            fromY += from[2 * i + 1];
            toX += shape[2 * i];
            toY += shape[2 * i + 1];
        }
        fromX /= FaceLandmarker::pointCount;
        fromY /= FaceLandmarker::pointCount;
        toX /= FaceLandmarker::pointCount;
        toY /= FaceLandmarker::pointCount;
        double spread = 0, along = 0, across = 0;
        for (std::size_t i = 0; i < FaceLandmarker::pointCount; ++i) {
            const double fx = from[2 * i] - fromX, fy = from[2 * i + 1] - fromY;
            const double tx = shape[2 * i] - toX, ty = shape[2 * i + 1] - toY;
            spread += fx * fx + fy * fy;
            along += tx * fx + ty * fy;
            across += ty * fx - tx * fy;
        }
        // Scale times rotation: [a -b; b a].
        const float a = spread > 0 ? static_cast<float>(along / spread) : 1.0f;
        const float b = spread > 0 ? static_cast<float>(across / spread) : 0.0f;
        const double left = static_cast<double>(rect.left()), top = static_cast<double>(rect.top());
        const double width = static_cast<double>(rect.right() - rect.left());
        const double height = static_cast<double>(rect.bottom() - rect.top());
        out.resize(cascade.deltas.size());
        for (std::size_t i = 0; i < cascade.deltas.size(); ++i) {
            const dlib::vector<float, 2>& d = cascade.deltas[i];
            const std::size_t anchor = cascade.anchorIdx[i];
            const float x = (a * d.x() + -b * d.y()) + shape[2 * anchor];
            const float y = (b * d.x() + a * d.y()) + shape[2 * anchor + 1];
            const double px = std::floor(left + width * x + 0.5), py = std::floor(top + height * y + 0.5);
            out[i] = px >= 0 && py >= 0 && px < gray.cols && py < gray.rows
                         ? gray.at<unsigned char>(static_cast<int>(py), static_cast<int>(px))
                         : 0.0f;
        }
    }
};

FaceLandmarker::FaceLandmarker(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FaceLandmarker::~FaceLandmarker() = default;

std::unique_ptr<FaceLandmarker> FaceLandmarker::load(const std::string& path, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "landmark model not found: " + path + " (Debian package libdlib-data)";
        return nullptr;
    }
    try {
        std::ifstream in(path, std::ios::binary);
        int version = 0;
        dlib::deserialize(version, in);
        if (version != 1) {
            throw dlib::serialization_error("unknown shape predictor version " + std::to_string(version));
        }
        auto impl = std::make_unique<Impl>();
        std::vector<std::vector<dlib::impl::regression_tree>> forests;
        std::vector<std::vector<unsigned long>> anchorIdx;
        std::vector<std::vector<dlib::vector<float, 2>>> deltas;
        dlib::deserialize(impl->initialShape, in);
        dlib::deserialize(forests, in);
        dlib::deserialize(anchorIdx, in);
        dlib::deserialize(deltas, in);
        if (static_cast<std::size_t>(impl->initialShape.size()) != kShapeValues) {
            error = "landmark model has " + std::to_string(impl->initialShape.size() / 2) +
                    " points, not 68: " + path;
            return nullptr;
        }
        if (forests.size() != anchorIdx.size() || forests.size() != deltas.size()) {
            throw dlib::serialization_error("cascade tables of different lengths");
        }
        for (std::size_t c = 0; c < forests.size(); ++c) {
            Impl::Cascade cascade;
            cascade.anchorIdx = std::move(anchorIdx[c]);
            cascade.deltas = std::move(deltas[c]);
            if (cascade.anchorIdx.size() != cascade.deltas.size()) {
                throw dlib::serialization_error("feature tables of different lengths");
            }
            cascade.trees = forests[c].size();
            cascade.splitsPerTree = forests[c].empty() ? 0 : forests[c].front().splits.size();
            cascade.splits.reserve(cascade.trees * cascade.splitsPerTree);
            cascade.leaves.reserve(cascade.trees * (cascade.splitsPerTree + 1) * kLeafSlots);
            for (const dlib::impl::regression_tree& tree : forests[c]) {
                // Every tree full to the same depth, every index within the features, every leaf a shape.
                if (tree.splits.size() != cascade.splitsPerTree ||
                    tree.leaf_values.size() != tree.splits.size() + 1) {
                    throw dlib::serialization_error("trees of different depths");
                }
                for (const dlib::impl::split_feature& s : tree.splits) {
                    if (s.idx1 >= cascade.deltas.size() || s.idx2 >= cascade.deltas.size()) {
                        throw dlib::serialization_error("split on a feature that does not exist");
                    }
                    cascade.splits.push_back(
                        {static_cast<std::uint32_t>(s.idx1), static_cast<std::uint32_t>(s.idx2), s.thresh});
                }
                for (const dlib::matrix<float, 0, 1>& leaf : tree.leaf_values) {
                    if (static_cast<std::size_t>(leaf.size()) != kShapeValues) {
                        throw dlib::serialization_error("leaf of another shape");
                    }
                    float largest = 0.0f;
                    for (float v : leaf) {
                        if (!std::isfinite(v)) {
                            throw dlib::serialization_error("leaf value that is not a number");
                        }
                        largest = std::max(largest, std::abs(v));
                    }
                    const float scale = largest > 0.0f ? largest / 32767.0f : 1.0f;
                    const std::size_t at = cascade.leaves.size();
                    cascade.leaves.resize(at + kLeafSlots, 0);
                    for (std::size_t k = 0; k < kShapeValues; ++k) {
                        cascade.leaves[at + k] =
                            static_cast<std::int16_t>(std::lround(leaf(static_cast<long>(k)) / scale));
                    }
                    std::memcpy(&cascade.leaves[at + kScaleSlot], &scale, sizeof scale);
                }
            }
            for (unsigned long anchor : cascade.anchorIdx) {
                if (anchor >= FaceLandmarker::pointCount) {
                    throw dlib::serialization_error("feature anchored on a point that does not exist");
                }
            }
            forests[c].clear();
            forests[c].shrink_to_fit();
            impl->cascades.push_back(std::move(cascade));
        }
        forests = {};
        // The trees were read into some 120,000 small blocks, now freed but scattered among live ones, where
        // they would stay resident (about 10 MB): hand those pages back.
        malloc_trim(0);
        return std::unique_ptr<FaceLandmarker>(new FaceLandmarker(std::move(impl)));
    } catch (const std::exception& e) {
        error = "landmark model is corrupt or unreadable: " + path + " (" + e.what() + ")";
    }
    return nullptr;
}

std::vector<cv::Point2f> FaceLandmarker::fit(const cv::Mat& gray, const cv::Rect2f& box,
                                             std::size_t cascades) const {
    CV_Assert(gray.type() == CV_8UC1);
    const dlib::rectangle rect(std::lround(box.x), std::lround(box.y), std::lround(box.x + box.width),
                               std::lround(box.y + box.height));
    dlib::matrix<float, 0, 1> current = impl_->initialShape;
    std::vector<float> features;
    std::vector<std::size_t> leafOffsets;
    for (std::size_t c = 0; c < std::min(cascades, impl_->cascades.size()); ++c) {
        const Impl::Cascade& cascade = impl_->cascades[c];
        float* shape = &current(0);
        impl_->features(gray, rect, shape, cascade, features);
        const float* feature = features.data();
        const std::size_t depth = cascade.splitsPerTree;
        // The features stay fixed within a cascade, so every tree's leaf is known before any is added:
        // find them all first, then add them in tree order while the leaves a few trees ahead are
        // fetched (one leaf is nine cache lines, picked at random among sixteen: the memory, not the
        // arithmetic, is what a fit waits for).
        leafOffsets.resize(cascade.trees);
        for (std::size_t t = 0; t < cascade.trees; ++t) {
            const Impl::Split* split = cascade.splits.data() + t * depth;
            std::size_t node = 0;
            while (node < depth) {
                const Impl::Split& s = split[node];
                node = feature[s.idx1] - feature[s.idx2] > s.thresh ? 2 * node + 1 : 2 * node + 2;
            }
            leafOffsets[t] = (t * (depth + 1) + (node - depth)) * kLeafSlots;
        }
        const std::int16_t* leaves = cascade.leaves.data();
        for (std::size_t t = 0; t < cascade.trees; ++t) {
            if (t + kPrefetchAhead < cascade.trees) {
                const char* ahead = reinterpret_cast<const char*>(leaves + leafOffsets[t + kPrefetchAhead]);
                for (std::size_t line = 0; line < kLeafSlots * sizeof(std::int16_t); line += 64) {
                    __builtin_prefetch(ahead + line);
                }
            }
            const std::int16_t* leaf = leaves + leafOffsets[t];
            float scale;
            std::memcpy(&scale, leaf + kScaleSlot, sizeof scale);
            for (std::size_t k = 0; k < kShapeValues; ++k) {
                shape[k] += static_cast<float>(leaf[k]) * scale;
            }
        }
    }
    const dlib::point_transform_affine toImage = dlib::impl::unnormalizing_tform(rect);
    std::vector<cv::Point2f> points;
    points.reserve(pointCount);
    for (int i = 0; i < pointCount; ++i) {
        // Sub-pixel, unlike dlib's own full_object_detection: a face 100 px wide loses a degree or two of
        // head pose to whole-pixel rounding.
        const dlib::dpoint p =
            toImage(dlib::dpoint(dlib::impl::location(current, static_cast<unsigned long>(i))));
        points.emplace_back(static_cast<float>(p.x()), static_cast<float>(p.y()));
    }
    return points;
}

namespace {

// The square box (origin, side) with side * m + origin nearest the points p, least squares over the pairs:
// model points in box units (0 to 1), points in frame pixels.
cv::Rect2f squareBoxFitting(const cv::Point2f* model, const cv::Point2f* points, std::size_t count) {
    cv::Point2f mc(0, 0), pc(0, 0);
    for (std::size_t i = 0; i < count; ++i) {
        mc += model[i];
        pc += points[i];
    }
    mc /= static_cast<float>(count);
    pc /= static_cast<float>(count);
    float num = 0, den = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const cv::Point2f m = model[i] - mc, p = points[i] - pc;
        num += m.dot(p);
        den += m.dot(m);
    }
    const float side = den > 0 ? num / den : 0.0f;
    const cv::Point2f origin = pc - side * mc;
    return {origin.x, origin.y, side, side};
}

} // namespace

cv::Rect2f FaceLandmarker::boxFor(const std::array<cv::Point2f, 4>& eyesNoseMouth) const {
    // The mean shape in box units (0 to 1): eye centres (36-41, 42-47), nose tip (30), mouth centre
    // (the inner lips' middle, 62 and 66).
    auto at = [&](long i) { return cv::Point2f(impl_->initialShape(2 * i), impl_->initialShape(2 * i + 1)); };
    auto mean = [&](long first, long last) {
        cv::Point2f sum(0, 0);
        for (long i = first; i <= last; ++i) {
            sum += at(i);
        }
        return sum / static_cast<float>(last - first + 1);
    };
    const std::array<cv::Point2f, 4> model = {mean(36, 41), mean(42, 47), at(30), (at(62) + at(66)) * 0.5f};
    return squareBoxFitting(model.data(), eyesNoseMouth.data(), model.size());
}

cv::Rect2f FaceLandmarker::boxForFit(const std::vector<cv::Point2f>& points) const {
    if (points.size() != pointCount) {
        return {};
    }
    std::array<cv::Point2f, pointCount> model;
    for (long i = 0; i < pointCount; ++i) {
        model[static_cast<std::size_t>(i)] =
            cv::Point2f(impl_->initialShape(2 * i), impl_->initialShape(2 * i + 1));
    }
    return squareBoxFitting(model.data(), points.data(), model.size());
}

} // namespace tavrine
