#include "app/shell/MainThreadProbe.h"

#include <cstdlib>

namespace tavrine {

namespace {
constexpr int beatMs = 5;
constexpr qint64 reportFromMs = 30;
} // namespace

MainThreadProbe::MainThreadProbe(QObject* parent) : QObject(parent) {
    const char* enabled = std::getenv("TAVRINE_MAIN_THREAD_PROBE");
    if (!enabled || !*enabled) {
        return;
    }
    clock_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(beatMs);
    connect(&timer_, &QTimer::timeout, this, [this] { beat(); });
    timer_.start();
}

MainThreadProbe::~MainThreadProbe() {
    if (clock_.isValid()) {
        std::fprintf(out_, "tavrine: longest main-thread block %lld ms over %lld ms\n",
                     static_cast<long long>(longestMs_), static_cast<long long>(clock_.elapsed()));
    }
}

void MainThreadProbe::beat() {
    const qint64 now = clock_.elapsed();
    const qint64 blocked = now - lastMs_ - beatMs;
    lastMs_ = now;
    if (blocked >= reportFromMs) {
        std::fprintf(out_, "tavrine: main thread blocked %lld ms at %lld ms\n",
                     static_cast<long long>(blocked), static_cast<long long>(now));
        std::fflush(out_);
    }
    if (blocked > longestMs_) {
        longestMs_ = blocked;
    }
}

} // namespace tavrine
