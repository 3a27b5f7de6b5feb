#pragma once

#include "ui/shared/EyeRenderer.h"

#include <QWidget>

namespace tavrine {

// The drawn eye at a fixed square size.
class EyeLogo : public QWidget {
    Q_OBJECT
  public:
    EyeLogo(bool isActive, bool isAlert, int size, double openAmount = 1.0, double pulseScale = 1.0,
            QWidget* parent = nullptr);

    void setState(bool isActive, bool isAlert);
    void setOpenAmount(double openAmount);
    void setPulseScale(double pulseScale);
    const EyeRenderer::Params& params() const { return params_; }
    QSize sizeHint() const override { return QSize(size_, size_); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    EyeRenderer::Params params_;
    int size_;
};

} // namespace tavrine
