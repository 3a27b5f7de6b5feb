#pragma once

#include <QObject>

class QSocketNotifier;

namespace tavrine {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered on the main thread, so the application
// can stop the filter (hide the overlay, release the camera) before it exits.
class TerminationSignals : public QObject {
    Q_OBJECT
  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

  signals:
    void terminationRequested(int signalNumber);

  private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace tavrine
