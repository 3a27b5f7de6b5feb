#pragma once

#include "core/util/Subscription.h"
#include "ui/UiContext.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <cstdint>

class QPushButton;
class QMessageBox;

namespace tavrine {

class StatCard;

// The three lifetime counters, with a reset behind a confirmation. Shown as a sheet of the panel;
// `dismissed` asks the presenter to close it.
class StatsView : public QWidget {
    Q_OBJECT
  public:
    explicit StatsView(const UiContext& ctx, QWidget* parent = nullptr);

    // "45m" under an hour, "2h 5m" from an hour on; seconds are never shown.
    static QString formatTime(std::int64_t seconds);

    StatCard* alertsCard() const { return alerts_; }
    StatCard* sessionsCard() const { return sessions_; }
    StatCard* timeCard() const { return time_; }
    StatCard* locksCard() const { return locks_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* resetButton() const { return reset_; }
    // The open confirmation, if any.
    QMessageBox* resetConfirmation() const { return confirm_; }

  signals:
    void dismissed();

  private:
    void askReset();

    const UiContext& ctx_;
    StatCard* alerts_;
    StatCard* sessions_;
    StatCard* time_;
    StatCard* locks_;
    QPushButton* back_;
    QPushButton* reset_;
    QPointer<QMessageBox> confirm_;
    Subscription statsSub_;
};

} // namespace tavrine
