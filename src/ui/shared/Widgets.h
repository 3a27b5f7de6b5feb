#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QRect>
#include <QString>

class QAbstractButton;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QWidget;

namespace tavrine {

// Small builders the panels share.
namespace widgets {

QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
QLabel* label(const QString& text, int pixelSize, QFont::Weight weight = QFont::Normal,
              QColor color = QColor(), QWidget* parent = nullptr);
void setTextColor(QWidget* widget, const QColor& color);
// A hairline between sections: one device pixel at least, whatever the scale.
QWidget* divider(QWidget* parent = nullptr);
// A label showing a link to https://<host>, opened by the desktop's browser.
QLabel* link(const QString& host, int pixelSize, QWidget* parent = nullptr);
// The two web addresses, centred on one line with a dot between them, for the foot of a panel.
QHBoxLayout* websiteFooter(QWidget* parent);
// Makes a button the prominent kind: white text on the primary blue, a ring while it has the focus.
void makeProminent(QPushButton* button);
// A flat button (no frame) with a ring while it has the keyboard focus.
void showFocusRing(QPushButton* button);
// A framed button whose frame turns into a ring in the accent colour while it has the keyboard focus.
void makeBordered(QPushButton* button);
// Enter (and the keypad's) pressed in `view` and left unhandled clicks the button that has the focus, else
// `fallback` (the view's default action), as in a dialog: panels and windows that are no dialogs.
void clickOnEnter(QWidget* view, QAbstractButton* fallback = nullptr);
// Where a window's frame of `frame` size goes, centred in `area` (a screen's available geometry) and inside
// it; larger than the area, it keeps its top-left corner (the title bar) inside.
QPoint centredInside(const QRect& area, const QSize& frame);
// Where a frame wanted at `frame` goes to stay inside `area`: moved in from the edges it crosses; larger than
// the area, it keeps its top-left corner (the title bar) inside.
QPoint keptInside(const QRect& area, const QRect& frame);
// Places a window about to open at the centre of the primary screen's available area, its title bar on
// that screen however small (a low resolution or a large scale).
void centreOnScreen(QWidget* window);

} // namespace widgets
} // namespace tavrine
