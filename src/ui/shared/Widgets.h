#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QFrame;
class QHBoxLayout;
class QLabel;
class QWidget;

namespace tavrine {

// Small builders the panels share.
namespace widgets {

QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
QLabel* label(const QString& text, int pixelSize, QFont::Weight weight = QFont::Normal,
              QColor color = QColor(), QWidget* parent = nullptr);
void setTextColor(QWidget* widget, const QColor& color);
QFrame* divider(QWidget* parent = nullptr);
// A label showing a link to https://<host>, opened by the desktop's browser.
QLabel* link(const QString& host, int pixelSize, QWidget* parent = nullptr);
// The two web addresses, centred on one line with a dot between them, for the foot of a panel.
QHBoxLayout* websiteFooter(QWidget* parent);

} // namespace widgets
} // namespace tavrine
