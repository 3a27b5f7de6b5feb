#include "ui/shared/ColorScheme.h"

#include "ui/shared/AppColors.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QRegularExpression>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <vector>

namespace tavrine {
namespace {

QPalette makePalette(QColor window, QColor text, QColor base, QColor button, QColor mid,
                     QColor disabledText) {
    QPalette p;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const QColor fg = group == QPalette::Disabled ? disabledText : text;
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, fg);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, button);
        p.setColor(group, QPalette::Text, fg);
        p.setColor(group, QPalette::Button, button);
        p.setColor(group, QPalette::ButtonText, fg);
        p.setColor(group, QPalette::BrightText, Qt::white);
        p.setColor(group, QPalette::Mid, mid);
        p.setColor(group, QPalette::Midlight, button.lighter(110));
        p.setColor(group, QPalette::Light, button.lighter(130));
        p.setColor(group, QPalette::Dark, mid.darker(130));
        p.setColor(group, QPalette::Shadow, Qt::black);
        p.setColor(group, QPalette::Highlight, AppColors::primaryButton());
        p.setColor(group, QPalette::HighlightedText, Qt::white);
        p.setColor(group, QPalette::ToolTipBase, base);
        p.setColor(group, QPalette::ToolTipText, text);
        p.setColor(group, QPalette::PlaceholderText, disabledText);
        p.setColor(group, QPalette::Link, AppColors::readableOn(AppColors::primary(), {window, base}));
    }
    return p;
}

// The colours the views take from AppColors under the palette in force, in a fixed order: the colours at
// the same place under two schemes stand for the same thing.
std::vector<QColor> viewColors() {
    return {AppColors::textPrimary(), AppColors::textSecondary(), AppColors::accent(), AppColors::success(),
            AppColors::error(),       AppColors::warning(),       AppColors::surface()};
}

// What a colour of the views under the old scheme is under the new one (its alpha kept); invalid for a
// colour of neither.
QColor counterpart(const QColor& color, const std::vector<QColor>& before, const std::vector<QColor>& after) {
    for (std::size_t i = 0; i < before.size(); ++i) {
        if (before[i].rgb() == color.rgb()) {
            QColor c = after[i];
            c.setAlpha(color.alpha());
            return c;
        }
    }
    return {};
}

// Every "#rrggbb" of a style sheet or rich text replaced by its counterpart.
QString recoloured(const QString& text, const std::vector<QColor>& before, const std::vector<QColor>& after) {
    static const QRegularExpression hex(QStringLiteral("#[0-9a-fA-F]{6}\\b"));
    QString out;
    qsizetype done = 0;
    for (auto it = hex.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QColor c = counterpart(QColor(m.captured()), before, after);
        out += text.mid(done, m.capturedStart() - done);
        out += c.isValid() ? c.name() : m.captured();
        done = m.capturedEnd();
    }
    return out + text.mid(done);
}

// A pictogram drawn in one colour of the views (every opaque pixel that colour): the same shape in its
// counterpart. A null image for anything else, which is left as it is.
QImage recolouredPictogram(const QImage& source, const std::vector<QColor>& before,
                           const std::vector<QColor>& after) {
    const QImage plain = source.convertToFormat(QImage::Format_ARGB32);
    std::map<QRgb, int> opaque;
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x) {
            if (const QRgb px = plain.pixel(x, y); qAlpha(px) == 255) {
                ++opaque[px];
            }
        }
    }
    if (opaque.empty()) {
        return {};
    }
    // The commonest opaque colour is the ink; strokes that overlap round a channel by a step or two.
    const QRgb ink = std::max_element(opaque.begin(), opaque.end(), [](const auto& a, const auto& b) {
                         return a.second < b.second;
                     })->first;
    for (const auto& [rgb, count] : opaque) {
        if (std::abs(qRed(rgb) - qRed(ink)) > 3 || std::abs(qGreen(rgb) - qGreen(ink)) > 3 ||
            std::abs(qBlue(rgb) - qBlue(ink)) > 3) {
            return {};
        }
    }
    const QColor to = counterpart(QColor::fromRgb(ink), before, after);
    if (!to.isValid()) {
        return {};
    }
    QImage out = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(source.devicePixelRatio());
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(out.rect(), QColor(to.red(), to.green(), to.blue()));
    return out;
}

void restylePictograms(QWidget* w, const std::vector<QColor>& before, const std::vector<QColor>& after) {
    if (auto* label = qobject_cast<QLabel*>(w); label && !label->pixmap().isNull()) {
        const QImage img = recolouredPictogram(label->pixmap().toImage(), before, after);
        if (!img.isNull()) {
            label->setPixmap(QPixmap::fromImage(img));
        }
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w); button && !button->icon().isNull()) {
        QIcon fresh;
        bool changed = false;
        for (const QSize& size : button->icon().availableSizes()) {
            const QPixmap pm = button->icon().pixmap(size);
            const QImage img = recolouredPictogram(pm.toImage(), before, after);
            changed = changed || !img.isNull();
            fresh.addPixmap(img.isNull() ? pm : QPixmap::fromImage(img));
        }
        if (changed) {
            button->setIcon(fresh);
        }
    }
}

// The widgets already built took their colours under the old scheme, in their palettes, style sheets,
// rich texts and pictograms: each is given its counterpart under the new one.
void restyleBuiltWidgets(const std::vector<QColor>& before, const std::vector<QColor>& after) {
    constexpr QPalette::ColorRole roles[] = {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                                             QPalette::Window,     QPalette::Base, QPalette::Button};
    for (QWidget* w : QApplication::allWidgets()) {
        // The style sheet first: setting it again restores the palette the widget had before it.
        if (!w->styleSheet().isEmpty()) {
            w->setStyleSheet(recoloured(w->styleSheet(), before, after));
        }
        if (auto* label = qobject_cast<QLabel*>(w); label && Qt::mightBeRichText(label->text())) {
            label->setText(recoloured(label->text(), before, after));
        }
        restylePictograms(w, before, after);
        if (!w->testAttribute(Qt::WA_SetPalette)) {
            continue;
        }
        QPalette p = w->palette();
        bool changed = false;
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            for (QPalette::ColorRole role : roles) {
                const QColor c =
                    p.isBrushSet(group, role) ? counterpart(p.color(group, role), before, after) : QColor();
                if (c.isValid()) {
                    p.setColor(group, role, c);
                    changed = true;
                }
            }
        }
        if (changed) {
            w->setPalette(p);
        }
    }
}

} // namespace

QPalette ColorScheme::darkPalette() {
    return makePalette(QColor(0x26, 0x2a, 0x30), QColor(0xec, 0xef, 0xf4), QColor(0x1e, 0x22, 0x27),
                       QColor(0x33, 0x39, 0x42), QColor(0x5a, 0x63, 0x6e), QColor(0x86, 0x8e, 0x98));
}

QPalette ColorScheme::lightPalette() {
    return makePalette(QColor(0xf4, 0xf5, 0xf7), QColor(0x1d, 0x20, 0x25), QColor(Qt::white),
                       QColor(0xe8, 0xea, 0xee), QColor(0xb4, 0xba, 0xc2), QColor(0x76, 0x7d, 0x86));
}

ColorScheme::ColorScheme() : platform_(QApplication::palette()) {}

void ColorScheme::apply(Preference preference) {
    if (preference == preference_) {
        return;
    }
    preference_ = preference;
    const std::vector<QColor> before = viewColors();
    switch (preference) {
    case Preference::dark:
        QApplication::setPalette(darkPalette());
        break;
    case Preference::light:
        QApplication::setPalette(lightPalette());
        break;
    case Preference::none:
        QApplication::setPalette(platform_);
        break;
    }
    restyleBuiltWidgets(before, viewColors());
}

} // namespace tavrine
