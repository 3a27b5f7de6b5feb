#pragma once

#include "core/util/Localizer.h"

#include <QTranslator>

namespace tavrine {

// The French texts of the localization keys, from the translation compiled into the binary. The keys
// are the source texts; a key without an entry comes back unchanged.
class QtLocalizer final : public Localizer {
  public:
    static constexpr const char* context = "tavrine";
    static constexpr const char* resourcePath = ":/i18n/tavrine_fr.qm";

    QtLocalizer();
    // Whether the compiled translation was found (false only in a broken build).
    bool isLoaded() const { return loaded_; }
    std::string text(const std::string& key) const override;

    // Qt's own texts (a scroll bar's menu, the standard buttons) in French too, from the system's Qt
    // translations (qt6-translations-l10n). False when they are not installed: those stay in English.
    bool installQtTranslations();

  private:
    QTranslator translator_;
    QTranslator qtTranslator_;
    bool loaded_ = false;
};

} // namespace tavrine
