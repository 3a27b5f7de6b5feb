#include "platform/linux/facemodel/BlazeFaceModel.h"

#include "platform/linux/facemodel/DepthwiseConvolution.h"
#include "platform/linux/facemodel/StemConvolution.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace tavrine {

namespace {

const std::vector<std::string> kOutputNames = {"Identity:0", "Identity_1:0", "Identity_2:0", "Identity_3:0"};
constexpr int kFineCells = 16, kFineAnchors = 2, kCoarseCells = 8, kCoarseAnchors = 6;
constexpr int kFineCount = kFineCells * kFineCells * kFineAnchors;         // 512
constexpr int kCoarseCount = kCoarseCells * kCoarseCells * kCoarseAnchors; // 384
constexpr int kRegressorValues = 16;

std::vector<cv::Point2f> makeAnchors() {
    std::vector<cv::Point2f> anchors;
    anchors.reserve(kFineCount + kCoarseCount);
    for (auto [cells, perCell] :
         {std::pair{kFineCells, kFineAnchors}, std::pair{kCoarseCells, kCoarseAnchors}}) {
        for (int y = 0; y < cells; ++y) {
            for (int x = 0; x < cells; ++x) {
                for (int a = 0; a < perCell; ++a) {
                    anchors.emplace_back((x + 0.5f) / cells, (y + 0.5f) / cells);
                }
            }
        }
    }
    return anchors;
}

bool hasShape(const cv::Mat& m, int count, int values) {
    return m.dims == 3 && m.size[0] == 1 && m.size[1] == count && m.size[2] == values && m.type() == CV_32F;
}

float sigmoid(float logit) {
    return 1.0f / (1.0f + std::exp(-std::clamp(logit, -100.0f, 100.0f)));
}

} // namespace

int BlazeFaceModel::ownDepthwiseLayers() {
    return static_cast<int>(DepthwiseConvolution::layersOf(net_).size());
}

int BlazeFaceModel::wholeBlocks() {
    const auto layers = DepthwiseConvolution::layersOf(net_);
    return static_cast<int>(
        std::count_if(layers.begin(), layers.end(), [](const auto& l) { return l->layersTakenIn() == 3; }));
}

int BlazeFaceModel::stemLayers() {
    return static_cast<int>(DepthwiseConvolution::layersOf<StemConvolutionLayer>(net_).size());
}

BlazeFaceModel::BlazeFaceModel(cv::dnn::Net net, int inputSize)
    : net_(std::move(net)), size_(inputSize), anchors_(makeAnchors()) {
    const int dims[] = {1, size_, size_, 3};
    input_.create(4, dims, CV_32F);
}

std::unique_ptr<BlazeFaceModel> BlazeFaceModel::load(const std::string& path, int inputSize,
                                                     std::string& error) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = "face model not found: " + path + " (run scripts/fetch-models.sh or set TAVRINE_MODEL_DIR)";
        return nullptr;
    }
    try {
        bool agreed = true;
        cv::dnn::Net net =
            DepthwiseConvolution::readChecked([&] { return cv::dnn::readNetFromONNX(path); },
                                              {1, inputSize, inputSize, 3}, kOutputNames, agreed);
        if (net.empty()) {
            error = "face model could not be read: " + path;
            return nullptr;
        }
        if (!agreed) {
            std::fprintf(stderr,
                         "tavrine: %s: the fused layers disagree with OpenCV's own, which run instead\n",
                         path.c_str());
        }
        std::unique_ptr<BlazeFaceModel> model(new BlazeFaceModel(std::move(net), inputSize));
        // A model of another shape would decode into nonsense: check the outputs once.
        const std::vector<cv::Mat> outs =
            model->run(cv::Mat(inputSize, inputSize, CV_8UC3, cv::Scalar::all(0)));
        if (outs.size() != 4 || !hasShape(outs[0], kFineCount, 1) || !hasShape(outs[1], kCoarseCount, 1) ||
            !hasShape(outs[2], kFineCount, kRegressorValues) ||
            !hasShape(outs[3], kCoarseCount, kRegressorValues)) {
            error = "face model has unexpected outputs: " + path;
            return nullptr;
        }
        // Weights that a damaged file turned into NaNs or infinities still parse, and would find no face
        // ever: a blank frame must give finite scores and boxes.
        if (!std::all_of(outs.begin(), outs.end(), [](const cv::Mat& m) { return cv::checkRange(m); })) {
            error = "face model is corrupt or unreadable: " + path + " (its outputs are not numbers)";
            return nullptr;
        }
        return model;
    } catch (const cv::Exception& e) {
        error = "face model is corrupt or unreadable: " + path + " (" + e.err + ")";
    } catch (const std::exception& e) {
        error = "face model is corrupt or unreadable: " + path + " (" + e.what() + ")";
    }
    return nullptr;
}

std::vector<cv::Mat> BlazeFaceModel::run(const cv::Mat& rgbSquare) {
    cv::Mat resized;
    if (rgbSquare.cols != size_ || rgbSquare.rows != size_) {
        cv::resize(rgbSquare, resized, cv::Size(size_, size_), 0, 0, cv::INTER_AREA);
    } else {
        resized = rgbSquare;
    }
    // The models take NHWC floats in [-1, 1]: write the interleaved pixels straight into the tensor.
    cv::Mat hwc(size_, size_, CV_32FC3, input_.ptr<float>());
    resized.convertTo(hwc, CV_32FC3, 1.0 / 127.5, -1.0);
    net_.setInput(input_);
    std::vector<cv::Mat> outs;
    net_.forward(outs, kOutputNames);
    return outs;
}

std::vector<BlazeFaceCandidate> BlazeFaceModel::detect(const cv::Mat& rgbSquare, float minScore) {
    last_ = run(rgbSquare);
    return again(minScore);
}

std::vector<BlazeFaceCandidate> BlazeFaceModel::again(float minScore) const {
    const std::vector<cv::Mat>& outs = last_;
    if (outs.size() < 4) {
        return {};
    }
    std::vector<BlazeFaceCandidate> found;
    const float s = static_cast<float>(size_);
    for (int part = 0; part < 2; ++part) {
        const float* scores = outs[part].ptr<float>();
        const float* regs = outs[part + 2].ptr<float>();
        const int count = part == 0 ? kFineCount : kCoarseCount;
        const int anchorOffset = part == 0 ? 0 : kFineCount;
        for (int i = 0; i < count; ++i) {
            const float score = sigmoid(scores[i]);
            if (score < minScore) {
                continue;
            }
            const float* v = regs + static_cast<std::ptrdiff_t>(i) * kRegressorValues;
            const cv::Point2f anchor = anchors_[static_cast<std::size_t>(anchorOffset + i)];
            const float cx = anchor.x + v[0] / s, cy = anchor.y + v[1] / s;
            const float w = v[2] / s, h = v[3] / s;
            if (!(w > 0.0f && h > 0.0f)) {
                continue;
            }
            BlazeFaceCandidate c;
            c.box = cv::Rect2f(cx - w / 2, cy - h / 2, w, h);
            for (int k = 0; k < BlazeFaceCandidate::keypointCount; ++k) {
                c.keypoints[static_cast<std::size_t>(k)] =
                    cv::Point2f(anchor.x + v[4 + 2 * k] / s, anchor.y + v[5 + 2 * k] / s);
            }
            c.score = score;
            found.push_back(c);
        }
    }
    return mergeOverlapping(std::move(found), 0.3f);
}

float BlazeFaceModel::iou(const cv::Rect2f& a, const cv::Rect2f& b) {
    const float inter = (a & b).area();
    const float uni = a.area() + b.area() - inter;
    return uni > 0.0f ? inter / uni : 0.0f;
}

std::vector<BlazeFaceCandidate> BlazeFaceModel::mergeOverlapping(std::vector<BlazeFaceCandidate> candidates,
                                                                 float minIou) {
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [](const BlazeFaceCandidate& a, const BlazeFaceCandidate& b) { return a.score > b.score; });
    std::vector<BlazeFaceCandidate> merged;
    std::vector<bool> used(candidates.size(), false);
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (used[i]) {
            continue;
        }
        const BlazeFaceCandidate& best = candidates[i];
        float total = 0.0f;
        float x = 0, y = 0, w = 0, h = 0;
        std::array<cv::Point2f, BlazeFaceCandidate::keypointCount> kp{};
        for (std::size_t j = i; j < candidates.size(); ++j) {
            if (used[j] || iou(best.box, candidates[j].box) < minIou) {
                continue;
            }
            used[j] = true;
            const BlazeFaceCandidate& c = candidates[j];
            total += c.score;
            x += c.box.x * c.score;
            y += c.box.y * c.score;
            w += c.box.width * c.score;
            h += c.box.height * c.score;
            for (std::size_t k = 0; k < kp.size(); ++k) {
                kp[k] += c.keypoints[k] * c.score;
            }
        }
        BlazeFaceCandidate out = best;
        if (!(total > 0.0f)) {
            merged.push_back(out);
            continue;
        }
        out.box = cv::Rect2f(x / total, y / total, w / total, h / total);
        for (std::size_t k = 0; k < kp.size(); ++k) {
            out.keypoints[k] = kp[k] / total;
        }
        out.score = best.score;
        merged.push_back(out);
    }
    return merged;
}

} // namespace tavrine
