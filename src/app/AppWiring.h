#pragma once

#include "core/util/Localizer.h"
#include "ui/UiContext.h"

#include <QString>

#include <memory>

namespace tavrine {

// Builds the real objects the application runs on and the context its views share.
class AppWiring {
  public:
    // camera: the --camera value ("" for the built-in webcam).
    AppWiring(const QString& camera, const Localizer& localizer);
    ~AppWiring();
    AppWiring(const AppWiring&) = delete;
    AppWiring& operator=(const AppWiring&) = delete;

    const UiContext& context() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tavrine
