#pragma once

#include "ui/UiContext.h"

#include <QWidget>

class QPushButton;

namespace tavrine {

// Logo, name, version, three short sections and two links. shown as a page of the panel.
class AboutView : public QWidget {
    Q_OBJECT
  public:
    explicit AboutView(const UiContext& ctx, QWidget* parent = nullptr);

    // The version compiled in, or "1.0" when the build carries none.
    static QString appVersion();
    // The localized "about_version" with the version filled in.
    static QString versionLine(const UiContext& ctx, const QString& version);

    QPushButton* closeButton() const { return close_; }

  signals:
    void dismissed();

  private:
    QPushButton* close_;
};

} // namespace tavrine
