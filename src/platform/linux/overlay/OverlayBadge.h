#pragma once

#include <QFont>
#include <QRect>
#include <QString>

class QPainter;

namespace tavrine {

// The faint badge in the top-right corner of every overlay window: an eye pictogram and the shortcut
// text, white at 0.3 opacity, 8 px from the edges, 4 px between the eye and the text.
class OverlayBadge {
  public:
    static constexpr double kOpacity = 0.3;
    static constexpr int kPadding = 8;
    static constexpr int kSpacing = 4;
    static constexpr double kEyePointSize = 14.0;
    static constexpr double kTextPointSize = 11.0;

    explicit OverlayBadge(QString text);

    // Where the badge row (without its padding) sits in a window of `windowRect`.
    QRect rowRect(const QRect& windowRect) const;
    void paint(QPainter& painter, const QRect& windowRect) const;

    const QString& text() const { return text_; }

  private:
    static void paintEye(QPainter& painter, const QRectF& box);

    QString text_;
    QFont textFont_;
    QFont eyeFont_;
};

} // namespace tavrine
