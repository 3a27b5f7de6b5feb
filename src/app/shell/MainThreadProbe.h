#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdio>

namespace tavrine {

// A measuring aid, on when TAVRINE_MAIN_THREAD_PROBE is set: a 5 ms heartbeat on the main thread that
// prints every late beat of 30 ms or more ("tavrine: main thread blocked N ms at T ms") and, at the
// end, the longest one. Off, it costs nothing.
class MainThreadProbe : public QObject {
  public:
    explicit MainThreadProbe(QObject* parent = nullptr);
    ~MainThreadProbe() override;

  private:
    void beat();

    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastMs_ = 0;
    qint64 longestMs_ = 0;
    std::FILE* out_ = stderr;
};

} // namespace tavrine
