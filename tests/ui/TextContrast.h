#pragma once

#include <QColor>
#include <QHash>
#include <QImage>
#include <QRect>

#include <algorithm>
#include <cmath>

namespace tavrine::testing {

// WCAG relative luminance of an opaque colour.
inline double relativeLuminance(QRgb c) {
    const auto channel = [](int v8) {
        const double v = v8 / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(c)) + 0.7152 * channel(qGreen(c)) + 0.0722 * channel(qBlue(c));
}

inline double contrastRatio(QRgb a, QRgb b) {
    const auto [dark, light] = std::minmax({relativeLuminance(a), relativeLuminance(b)});
    return (light + 0.05) / (dark + 0.05);
}

// The contrast of a piece of text as rendered: its background is the commonest colour of the area (colours
// a few steps apart count as one, so that a gradient behind a button's label is one background), its ink
// the colour farthest from it (glyph stems reach the full text colour; anti-aliased edges lie between).
struct TextReading {
    QRgb background = 0;
    QRgb ink = 0;
    double ratio = 1.0;
};

inline TextReading readText(const QImage& source, const QRect& area) {
    const QImage image = source.convertToFormat(QImage::Format_RGB32).copy(area.intersected(source.rect()));
    QHash<QRgb, int> counts, buckets;
    const auto bucket = [](QRgb c) { return c & 0xfff0f0f0u; };
    for (int i = 0; i < image.width() * image.height(); ++i) {
        const QRgb c = image.pixel(i % image.width(), i / image.width()) | 0xff000000u;
        ++counts[c];
        ++buckets[bucket(c)];
    }
    if (counts.isEmpty()) {
        return {};
    }
    // The first of the highest scores, in the hash's order.
    const auto best = [](const QHash<QRgb, int>& hash, const auto& score) {
        return std::max_element(hash.keyValueBegin(), hash.keyValueEnd(),
                                [&](const auto& a, const auto& b) { return score(a) < score(b); })
            ->first;
    };
    const QRgb commonest = best(buckets, [](const auto& kv) { return kv.second; });
    TextReading reading;
    reading.background =
        best(counts, [&](const auto& kv) { return bucket(kv.first) == commonest ? kv.second : -1; });
    reading.ink = best(counts, [&](const auto& kv) { return contrastRatio(kv.first, reading.background); });
    reading.ratio = contrastRatio(reading.ink, reading.background);
    return reading;
}

} // namespace tavrine::testing
