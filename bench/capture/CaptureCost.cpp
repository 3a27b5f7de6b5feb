// What the capture path costs while the filter runs: frames delivered a second, frames the analyzer
// admits a second, and processor time per frame (decode, conversion to 640x480 BGRA, copy), for any
// --camera source. With FPS, the source drops what an analysis at FPS would not admit, as the application
// does; 0 delivers every frame.
// Usage: tavrine_bench_capture [SECONDS] [SOURCE] [FPS]   (defaults: 10, demo, 10)
// SOURCE is a --camera value, or camera:DESCRIPTION for a simulated webcam, e.g.
//   "camera:videotestsrc is-live=true ! video/x-raw,width=640,height=480,framerate=30/1 ! jpegenc"
// A simulated webcam that lists several modes is asked for one, as a real one is, e.g.
//   "camera:videotestsrc is-live=true !
//   video/x-raw,format=YUY2,width=640,height=480,framerate={30/1,20/1,10/1}"

#include "core/detection/FaceAnalyzer.h"
#include "core/util/VirtualExecutor.h"
#include "platform/linux/capture/FrameSourceFactory.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Counts the frames the analyzer admits and finds nothing in them.
class CountingDetector final : public tavrine::FaceDetector {
  public:
    std::optional<std::vector<tavrine::FaceObservation>> detect(const tavrine::VideoFrame&) override {
        ++frames;
        return std::vector<tavrine::FaceObservation>{};
    }
    std::atomic<long> frames{0};
};

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string spec = argc > 2 ? argv[2] : "demo";
    const int fps = argc > 3 ? std::atoi(argv[3]) : 10;
    // "camera:DESCRIPTION": a simulated webcam, DESCRIPTION followed by the camera pipeline's decoding.
    std::shared_ptr<tavrine::GstFrameSource> source;
    if (spec.rfind("camera:", 0) == 0) {
        tavrine::GstFrameSource::Options options;
        options.kind = tavrine::GstFrameSource::Kind::description;
        options.location = spec.substr(7) + tavrine::GstFrameSource::cameraDecodeStage();
        source = std::make_shared<tavrine::GstFrameSource>(options);
    } else {
        source = tavrine::makeFrameSource(spec);
    }
    source->setFrameRateLimit(fps);
    tavrine::VirtualExecutor executor;
    tavrine::SystemClock clock;
    auto detector = std::make_shared<CountingDetector>();
    auto analyzer = tavrine::FaceAnalyzer::create(fps > 0 ? fps : 10, detector, executor, clock);
    analyzer->onAdmitted = [&source] { source->frameAdmitted(); };
    std::atomic<long> frames{0};
    // Warm up (pipeline start, first decode), then measure a steady stretch.
    if (auto error = source->start([&](const tavrine::VideoFrame& frame) {
            ++frames;
            analyzer->analyze(frame);
        })) {
        std::fprintf(stderr, "%s: cannot start: %s\n", source->describe().c_str(), tavrine::toString(*error));
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long frames0 = frames.load();
    const long admitted0 = detector->frames.load();
    const double cpu0 = cpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long n = frames.load() - frames0;
    const long admitted = detector->frames.load() - admitted0;
    const double cpu = cpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    source->stop();
    std::printf("source %s\n", source->describe().c_str());
    std::printf("frames %ld in %.1f s: %.1f frames/s delivered, %.1f frames/s analysed (limit %d)\n", n, wall,
                n / wall, admitted / wall, fps);
    std::printf("cpu %.1f ms per frame, %.1f %% of one core\n", n > 0 ? cpu * 1000.0 / n : 0.0,
                cpu * 100.0 / wall);
    return 0;
}
