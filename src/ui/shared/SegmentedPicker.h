#pragma once

#include <QWidget>

#include <cstdint>
#include <utility>
#include <vector>

class QButtonGroup;
class QPushButton;

namespace tavrine {

// A row of segments, each carrying a value. The segment equal to the current value is selected; a value
// that no segment carries selects none.
class SegmentedPicker : public QWidget {
    Q_OBJECT
  public:
    using Option = std::pair<QString, std::int64_t>;
    SegmentedPicker(std::vector<Option> options, int maxWidth, QWidget* parent = nullptr);

    void setValue(std::int64_t value);
    // The selected segment's index, or -1.
    int selectedIndex() const;
    QPushButton* segment(int index) const;
    int count() const { return int(options_.size()); }

  signals:
    void valueChosen(std::int64_t value);

  private:
    std::vector<Option> options_;
    QButtonGroup* group_;
    std::vector<QPushButton*> buttons_;
};

} // namespace tavrine
