#pragma once

#include <QAbstractButton>
#include <QColor>

namespace tavrine {

// An on-off switch drawn as a pill with a knob. With followsModel set, a click does not move the switch:
// it only emits toggleRequested, and the owner sets the state from the model.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
  public:
    explicit ToggleSwitch(QWidget* parent = nullptr, QColor tint = QColor());

    void setFollowsModel(bool follows) { followsModel_ = follows; }
    QSize sizeHint() const override { return QSize(40, 24); }

  signals:
    void toggleRequested(bool requested);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void nextCheckState() override;

  private:
    QColor tint_;
    bool followsModel_ = false;
};

} // namespace tavrine
