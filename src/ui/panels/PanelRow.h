#pragma once

#include <QAbstractButton>
#include <QColor>

namespace tavrine {

// One row of the panel: a pictogram in a 20 px column and a label, with a light primary-coloured
// background while the pointer is over it and a ring while it has the keyboard focus. Space or Enter
// activates it.
class PanelRow : public QAbstractButton {
    Q_OBJECT
  public:
    PanelRow(const QString& icon, const QString& label, QColor foreground = QColor(),
             QWidget* parent = nullptr);

    QString iconName() const { return icon_; }
    bool isHovered() const { return hovered_; }
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    QString icon_;
    bool hovered_ = false;
};

} // namespace tavrine
