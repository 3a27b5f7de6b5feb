#pragma once

#include "core/util/Subscription.h"
#include "ui/UiContext.h"

#include <QWidget>

#include <cstdint>

class QLabel;
class QPushButton;

namespace tavrine {

class StatCard;

// The lifetime counters, with a reset behind a confirmation. shown as a page of the panel;
// `dismissed` asks the presenter to close it. The confirmation is a row of the view itself, in place of
// the toolbar: a separate dialog would take the focus from the popup panel, close it and vanish with it.
class StatsView : public QWidget {
    Q_OBJECT
  public:
    explicit StatsView(const UiContext& ctx, QWidget* parent = nullptr);

    // "45m" under an hour, "2h 5m" from an hour on; seconds are never shown. A negative time shows "0m".
    static QString formatTime(std::int64_t seconds);

    StatCard* alertsCard() const { return alerts_; }
    StatCard* sessionsCard() const { return sessions_; }
    StatCard* timeCard() const { return time_; }
    StatCard* locksCard() const { return locks_; }
    QPushButton* backButton() const { return back_; }
    QPushButton* resetButton() const { return reset_; }
    // The confirmation row (visible while it asks), its question and its two answers.
    QWidget* resetConfirmation() const { return confirm_; }
    QLabel* resetQuestion() const { return question_; }
    QPushButton* confirmResetButton() const { return confirmReset_; }
    QPushButton* cancelResetButton() const { return cancelReset_; }

  signals:
    void dismissed();

  private:
    void askReset();
    void endAsking();

    const UiContext& ctx_;
    StatCard* alerts_;
    StatCard* sessions_;
    StatCard* time_;
    StatCard* locks_;
    QPushButton* back_;
    QPushButton* reset_;
    QWidget* toolbar_;
    QWidget* confirm_;
    QLabel* question_;
    QPushButton* confirmReset_;
    QPushButton* cancelReset_;
    Subscription statsSub_;
};

} // namespace tavrine
