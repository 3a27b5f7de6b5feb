#include "platform/linux/settings/StoredText.h"

#include <charconv>
#include <cmath>

namespace tavrine {

StoredValue storedValueFromText(const QString& raw) {
    const QString text = raw.trimmed();
    if (text == QLatin1String("true")) {
        return true;
    }
    if (text == QLatin1String("false")) {
        return false;
    }
    // Only plain decimal forms: no hex, no thousands separators, no locale.
    const QByteArray bytes = text.toLatin1();
    if (!bytes.isEmpty() && QString::fromLatin1(bytes) == text) {
        const char* begin = bytes.constData();
        const char* end = begin + bytes.size();
        if (*begin == '+') {
            ++begin;
        }
        std::int64_t integer = 0;
        auto [ptr, ec] = std::from_chars(begin, end, integer);
        if (ec == std::errc() && ptr == end && begin != end) {
            return integer;
        }
        double real = 0.0;
        auto [dptr, dec] = std::from_chars(begin, end, real, std::chars_format::general);
        // Out-of-range numbers (1e999) and "nan"/"inf" spellings stay text: no field can use them.
        if (dec == std::errc() && dptr == end && begin != end && std::isfinite(real)) {
            return real;
        }
    }
    return raw.toStdString();
}

QString textForInteger(std::int64_t value) {
    return QString::number(value);
}

QString textForBool(bool value) {
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString textForFloat(float value) {
    char buffer[64];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (ec != std::errc()) {
        return QStringLiteral("nan");
    }
    return QString::fromLatin1(buffer, static_cast<qsizetype>(ptr - buffer));
}

} // namespace tavrine
