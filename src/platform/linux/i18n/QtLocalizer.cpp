#include "platform/linux/i18n/QtLocalizer.h"

namespace tavrine {

QtLocalizer::QtLocalizer() {
    loaded_ = translator_.load(QString::fromLatin1(resourcePath));
}

std::string QtLocalizer::text(const std::string& key) const {
    const QString translated = translator_.translate(context, key.c_str());
    return translated.isEmpty() ? key : translated.toStdString();
}

} // namespace tavrine
