// tavrine-analyze: runs the production face analysis on images and videos and prints one row per
// analysed frame. The output format is relied on by the evaluation scripts: keep it stable.
#include "core/detection/FaceAnalyzer.h"
#include "core/detection/PitchBaseline.h"
#include "platform/linux/facemodel/BlazeFaceDetector.h"
#include "platform/linux/facemodel/FaceModelLoader.h"
#include "platform/linux/facemodel/FaceModelPaths.h"
#include "platform/linux/facemodel/LetterboxedFrame.h"

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

using namespace tavrine;

namespace {

// The analyzer's rate at the default capture setting.
constexpr double kAnalysisIntervalMs = 100.0;

const char* kUsage =
    "Usage: tavrine-analyze [--csv] INPUT...\n"
    "Runs Tavrine's face analysis on each image, or on each video at 10 analysed frames per\n"
    "second, letterboxed into a 640x480 camera frame. In a video the pitch is read relative to\n"
    "the pitch at which the person faces the camera, as the live analysis does.\n"
    "  --csv   print CSV: input,frame,faceCount,eulerY,eulerX,boundingBoxRatio,boxes\n"
    "          boxes: every kept face as x;y;w;h in the input's pixels (top-left origin),\n"
    "          widest first, separated by |\n"
    "Models: $TAVRINE_MODEL_DIR, else the build tree's models/, else the installed ones.\n";

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

std::string number(double value, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, value);
    return buf;
}

class Printer {
  public:
    explicit Printer(bool csv) : csv_(csv) {
        if (csv_) {
            std::cout << "input,frame,faceCount,eulerY,eulerX,boundingBoxRatio,boxes\n";
        }
    }

    void row(const std::string& input, long frameIndex, const FaceAnalyzer::Result& result,
             const LetterboxedFrame& frame) {
        std::string boxes;
        for (const FaceObservation::Rect& box : result.keptBoxes) {
            const cv::Rect2d r = frame.toImage(box);
            // Appended piece by piece: `"|" + std::string` makes GCC 12 at -O3 warn of an overlapping copy
            // that cannot happen (-Wrestrict).
            if (!boxes.empty()) {
                boxes += '|';
            }
            for (const double v : {r.x, r.y, r.width, r.height}) {
                boxes += number(v, 0);
                boxes += ';';
            }
            boxes.pop_back();
        }
        const auto& face = result.primaryFace;
        if (csv_) {
            std::cout << csvField(input) << ',' << frameIndex << ',' << result.faceCount << ','
                      << (face ? number(face->eulerY, 2) : "") << ',' << (face ? number(face->eulerX, 2) : "")
                      << ',' << (face ? number(face->boundingBoxRatio, 4) : "") << ',' << boxes << '\n';
        } else {
            std::cout << input << " frame " << frameIndex << ": " << result.faceCount << " face(s)";
            if (face) {
                std::cout << ", yaw " << number(face->eulerY, 1) << ", pitch " << number(face->eulerX, 1)
                          << ", width " << number(face->boundingBoxRatio, 3) << ", boxes " << boxes;
            }
            std::cout << '\n';
        }
    }

  private:
    bool csv_;
};

// FFmpeg renders plain text as a video (its "tty" format): a file without any control byte in its first
// kilobytes is text, not a picture.
bool looksLikeText(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        return false;
    }
    unsigned char buf[4096];
    const std::size_t n = std::fread(buf, 1, sizeof buf, file);
    std::fclose(file);
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = buf[i];
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t' && c != '\f') {
            return false;
        }
    }
    return true;
}

// False when the frame could not be analysed. A video's frames read their pitch relative to the user's
// own, as the live analysis does; a still image keeps the camera's.
bool analyzeOne(BlazeFaceDetector& detector, const cv::Mat& image, const std::string& input, long frameIndex,
                Printer& printer, PitchBaseline* baseline = nullptr) {
    const LetterboxedFrame frame = LetterboxedFrame::make(image);
    const auto faces = detector.detect(frame.frame);
    if (!faces) {
        std::cerr << "tavrine-analyze: " << input << " frame " << frameIndex << ": analysis failed\n";
        return false;
    }
    FaceAnalyzer::Result result = FaceAnalyzer::processResults(*faces);
    if (baseline) {
        FaceAnalyzer::relativeToBaseline(result, *baseline);
    }
    printer.row(input, frameIndex, result, frame);
    return true;
}

bool analyzeVideo(BlazeFaceDetector& detector, cv::VideoCapture& video, const std::string& input,
                  Printer& printer) {
    detector.setOptions(FaceModelLoader::liveOptions());
    detector.reset();
    bool ok = true;
    long analysed = 0;
    double nextMs = 0.0;
    PitchBaseline baseline;
    const double fps = video.get(cv::CAP_PROP_FPS);
    cv::Mat image;
    for (long index = 0; video.read(image); ++index) {
        if (image.empty()) {
            continue;
        }
        // The position property is unreliable on some containers: derive time from the index and rate.
        const double ms = fps > 0 ? index * 1000.0 / fps : index * kAnalysisIntervalMs;
        if (ms + 1e-6 < nextMs) {
            continue;
        }
        nextMs += kAnalysisIntervalMs * std::max(1.0, std::floor((ms - nextMs) / kAnalysisIntervalMs) + 1);
        ok = analyzeOne(detector, image, input, index, printer, &baseline) && ok;
        ++analysed;
    }
    if (analysed == 0) {
        std::cerr << "tavrine-analyze: " << input << ": no frame could be decoded\n";
        return false;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    bool csv = false;
    std::vector<std::string> inputs;
    bool optionsEnded = false; // after "--" every argument is an input, even one that starts with '-'
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded) {
            inputs.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--csv") {
            csv = true;
        } else if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::cerr << "tavrine-analyze: unknown option " << arg << "\n" << kUsage;
            return 2;
        } else {
            inputs.push_back(arg);
        }
    }
    if (inputs.empty()) {
        std::cerr << kUsage;
        return 2;
    }

    const FaceModelPaths paths = FaceModelPaths::locate();
    BlazeFaceDetector::Loaded loaded = BlazeFaceDetector::load(paths);
    if (!loaded.detector) {
        std::cerr << "tavrine-analyze: " << loaded.error << "\n";
        return 3;
    }
    BlazeFaceDetector& detector = *loaded.detector;
    Printer printer(csv);

    bool ok = true;
    for (const std::string& input : inputs) {
        std::error_code ec;
        const auto status = std::filesystem::status(input, ec);
        if (!std::filesystem::is_regular_file(status)) {
            // A path that cannot be followed (a folder on the way not readable, a loop of links) says why.
            const std::string why = ec && ec != std::errc::no_such_file_or_directory ? ec.message()
                                    : !std::filesystem::exists(status)               ? "no such file"
                                    : std::filesystem::is_directory(status)          ? "is a directory"
                                                                                     : "not a regular file";
            std::cerr << "tavrine-analyze: " << input << ": " << why << "\n";
            ok = false;
            continue;
        }
        if (!std::ifstream(input, std::ios::binary)) {
            std::cerr << "tavrine-analyze: " << input << ": cannot be read\n";
            ok = false;
            continue;
        }
        cv::Mat image;
        try {
            image = cv::imread(input, cv::IMREAD_COLOR);
        } catch (const cv::Exception&) {
            image.release();
        }
        if (!image.empty()) {
            // Each image stands alone: full-range pass, nothing carried over.
            detector.setOptions(BlazeFaceDetector::Options{});
            detector.reset();
            ok = analyzeOne(detector, image, input, 0, printer) && ok;
            continue;
        }
        cv::VideoCapture video;
        try {
            if (!looksLikeText(input)) {
                video.open(input, cv::CAP_FFMPEG);
            }
        } catch (const cv::Exception&) {
        }
        if (!video.isOpened()) {
            std::cerr << "tavrine-analyze: " << input << ": not an image or video that can be decoded\n";
            ok = false;
            continue;
        }
        ok = analyzeVideo(detector, video, input, printer) && ok;
    }
    std::cout.flush();
    return ok ? 0 : 1;
}
