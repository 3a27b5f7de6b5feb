#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

namespace tavrine {

// Small pictograms for the freedesktop icon names the panels use ("preferences-system", "help-about", ...),
// painted in one colour so they take the tint of their row like the rest of the panel. An unknown name gives
// a dot.
class Symbols {
  public:
    static QPixmap pixmap(const QString& name, const QColor& color, int sizePx, qreal devicePixelRatio = 1.0);
    static QIcon icon(const QString& name, const QColor& color, int sizePx);
    static QStringList knownNames();
};

} // namespace tavrine
