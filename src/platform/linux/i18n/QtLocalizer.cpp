#include "platform/linux/i18n/QtLocalizer.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace tavrine {

QtLocalizer::QtLocalizer() {
    loaded_ = translator_.load(QString::fromLatin1(resourcePath));
}

bool QtLocalizer::installQtTranslations() {
    if (!qtTranslator_.isEmpty()) {
        return true;
    }
    if (!qtTranslator_.load(QStringLiteral("qtbase_fr"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    return QCoreApplication::installTranslator(&qtTranslator_);
}

std::string QtLocalizer::text(const std::string& key) const {
    const QString translated = translator_.translate(context, key.c_str());
    return translated.isEmpty() ? key : translated.toStdString();
}

} // namespace tavrine
