#pragma once

#include <QWidget>

class QLabel;

namespace tavrine {

// One counter: a large value over a small label on a rounded surface. The value stays on one line and
// shrinks down to half its size before it would be cut; past that it ends in an ellipsis.
class StatCard : public QWidget {
    Q_OBJECT
  public:
    StatCard(const QString& value, const QString& label, bool highlight, QWidget* parent = nullptr);

    void setValue(const QString& value);
    QString value() const;
    // The value as drawn: the value itself, or its start and an ellipsis when it does not fit.
    QString shownValue() const;
    QString label() const;
    bool highlight() const { return highlight_; }
    // The point size the value is drawn at after fitting (48 or 36 when it fits).
    int valuePixelSize() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void fitValue();

    QString value_;
    QLabel* valueLabel_;
    QLabel* labelLabel_;
    bool highlight_;
};

} // namespace tavrine
