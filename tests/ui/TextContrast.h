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
    const double la = relativeLuminance(a);
    const double lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
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
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    const QRect r = area.intersected(image.rect());
    QHash<QRgb, int> counts;
    QHash<QRgb, int> buckets;
    const auto bucket = [](QRgb c) { return c & 0xfff0f0f0u; };
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb c = image.pixel(x, y) | 0xff000000u;
            ++counts[c];
            ++buckets[bucket(c)];
        }
    }
    TextReading reading;
    QRgb commonest = 0;
    int best = -1;
    for (auto it = buckets.cbegin(); it != buckets.cend(); ++it) {
        if (it.value() > best) {
            best = it.value();
            commonest = it.key();
        }
    }
    best = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (bucket(it.key()) == commonest && it.value() > best) {
            best = it.value();
            reading.background = it.key();
        }
    }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const double ratio = contrastRatio(it.key(), reading.background);
        if (ratio > reading.ratio) {
            reading.ratio = ratio;
            reading.ink = it.key();
        }
    }
    return reading;
}

} // namespace tavrine::testing
