#include "UiFixture.h"

#include "ui/panels/CalibrationView.h"
#include "ui/panels/OnboardingView.h"
#include "ui/panels/PreferencesView.h"
#include "ui/panels/TrayPanel.h"
#include "ui/shared/AppColors.h"
#include "ui/shared/ColorScheme.h"
#include "ui/shared/Symbols.h"
#include "ui/shared/Widgets.h"
#include "ui/tray/TrayIcon.h"

#include <QAbstractButton>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace tavrine;
using namespace tavrine::testing;

namespace {

using Scheme = ColorScheme::Preference;

// A window as the user sees it, built under a scheme.
struct Window {
    std::string name;
    std::function<QWidget*(UiFixture&)> build;
    friend void PrintTo(const Window& w, std::ostream* os) { *os << w.name; }
};

const std::vector<Window> windows = [] {
    std::vector<Window> list = {
        {"panel_camera_missing",
         [](UiFixture& f) {
             f.show(FilterState::cameraBusy(5000));
             return new TrayPanel(f.ctx);
         }},
        {"panel_active",
         [](UiFixture& f) {
             f.show(FilterState::nominal(3));
             f.rig.svc().isActive = true;
             return new TrayPanel(f.ctx);
         }},
        {"panel_stats",
         [](UiFixture& f) {
             f.stats.stats = FilterStats{1, 1, 4000, 1}; // alerts, sessions, seconds, locks
             auto* panel = new TrayPanel(f.ctx);
             panel->setShowStats(true);
             return panel;
         }},
        {"panel_about",
         [](UiFixture& f) {
             auto* panel = new TrayPanel(f.ctx);
             panel->setShowAbout(true);
             return panel;
         }},
        {"preferences",
         [](UiFixture& f) {
             // Tall enough to show every row without scrolling.
             auto* view = new PreferencesView(f.ctx);
             view->resize(PreferencesView::windowWidth, 1200);
             return view;
         }},
        {"calibration",
         [](UiFixture& f) { return new CalibrationDialog(f.ctx, QStringLiteral("Fermer"), nullptr); }},
        {"calibration_result",
         [](UiFixture& f) {
             auto* dialog = new CalibrationDialog(f.ctx, QStringLiteral("Fermer"), nullptr);
             f.lastSession->phase = CalibrationSession::Phase::done(62);
             return dialog;
         }},
        {"calibration_failed",
         [](UiFixture& f) {
             auto* dialog = new CalibrationDialog(f.ctx, QStringLiteral("Fermer"), nullptr);
             f.lastSession->phase = CalibrationSession::Phase::failed(CalibrationSession::noCameraMessage);
             return dialog;
         }},
    };
    list.push_back({"onboarding_camera_refused", [](UiFixture& f) {
                        f.ctx.requestCameraAccess = [] { return false; };
                        auto* view = new OnboardingView(f.ctx);
                        view->resize(440, 420);
                        view->pageWidget(0)->primaryButton()->click();
                        f.settle();
                        return view;
                    }});
    for (int page = 0; page < 5; ++page) {
        list.push_back({"onboarding_" + std::to_string(page + 1), [page](UiFixture& f) {
                            auto* view = new OnboardingView(f.ctx);
                            view->resize(440, 420);
                            view->setPage(page);
                            return view;
                        }});
    }
    return list;
}();

// The text a widget shows, without markup.
QString shownText(const QWidget* w) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        return button->text();
    }
    const auto* label = qobject_cast<const QLabel*>(w);
    if (!label || !Qt::mightBeRichText(label->text())) {
        return label ? label->text() : QString();
    }
    QTextDocument doc;
    doc.setHtml(label->text());
    return doc.toRawText(); // keeps the no-break spaces
}

// The ink of every one-colour pictogram (label pixmaps, button icons) in a window, in widget order.
std::vector<std::string> pictogramInks(QWidget& window) {
    std::vector<std::string> inks;
    for (QWidget* w : window.findChildren<QWidget*>()) {
        const auto* label = qobject_cast<QLabel*>(w);
        const auto* button = qobject_cast<QAbstractButton*>(w);
        const QPixmap pictogram = label ? label->pixmap() : button ? button->icon().pixmap(20) : QPixmap();
        const QImage img = pictogram.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int i = 0; i < img.width() * img.height(); ++i) {
            const QRgb px = img.pixel(i % img.width(), i / img.width());
            if (qAlpha(px) == 255) {
                inks.push_back(w->metaObject()->className() + QColor(px).name().toStdString());
                break;
            }
        }
    }
    return inks;
}

// A window and the scheme it shows: light, dark, or dark since the desktop switched while it was open.
class Appearance : public ::testing::TestWithParam<std::tuple<Window, std::string>> {
  protected:
    void TearDown() override { scheme_.apply(Scheme::none); }
    ColorScheme scheme_;
};

QImage renderSvg(const QString& path, int size) {
    QSvgRenderer svg(path);
    EXPECT_TRUE(svg.isValid()) << path.toStdString();
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    svg.render(&p);
    return image;
}

} // namespace

// Every window, in the light and the dark scheme, and switched to dark while open: every text reads at
// 4.5:1 or more against what is behind it (measured on the rendered pixels), follows French typography,
// is no lookup key a translation lacks ("stats_reset_confirm"), and every control the keyboard reaches
// looks different while it has the focus.
TEST_P(Appearance, TextsReadAndFocusShowsInEveryWindow) {
    const auto& [window, look] = GetParam();
    const bool dark = look != "light";
    scheme_.apply(look == "dark" ? Scheme::dark : Scheme::light);
    UiFixture f;
    std::unique_ptr<QWidget> widget(window.build(f));
    widget->show();
    QApplication::setActiveWindow(widget.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(widget.get()));
    f.executor.advanceBy(1500); // the logos have opened
    if (look == "turned_dark") {
        scheme_.apply(Scheme::dark);
        QCoreApplication::processEvents();
        // The pictograms restyled in place are those of the same window built in the dark scheme.
        std::unique_ptr<QWidget> fresh(window.build(f));
        EXPECT_EQ(pictogramInks(*widget), pictogramInks(*fresh));
    }
    QCoreApplication::processEvents();
    const QString shot = QString::fromStdString("look-" + window.name + "-" + look);
    const QImage image = widget->grab().toImage();
    QDir().mkpath(QStringLiteral(TAVRINE_UI_ARTIFACTS)); // for a reviewer to look at
    image.save(QStringLiteral(TAVRINE_UI_ARTIFACTS "/") + shot + QStringLiteral(".png"));

    EXPECT_EQ(widget->palette().color(QPalette::Window).lightness() < 128, dark)
        << "the scheme's palette is in use";

    // A text the translation lacks shows as its key, which this pattern finds.
    ASSERT_EQ(f.localizer.text("no_such_key"), "no_such_key");
    const QRegularExpression lookupKey(QStringLiteral("\\b[a-z]+(_[a-z]+)+\\b"));
    // What French typography asks of a text: typographic apostrophes, a no-break space before ":" and "%", a
    // narrow one before "?", "!" and ";" (a line may start with them), a no-break space between a number
    // and its unit.
    const QRegularExpression typography(
        QStringLiteral("\\p{L}'|[^\\n\u00a0][:%]|[^\\n\u202f][?!;]|\\d (s|min|h|cm|m|fps|secondes?)\\b"));
    int texts = 0;
    for (QWidget* w : widget->findChildren<QWidget*>()) {
        // Disabled controls need not read nor take the focus; separators ("·") are no text to read.
        if (!w->isVisibleTo(widget.get()) || !w->isEnabled()) {
            continue;
        }
        const QString text = shownText(w);
        if (text.contains(QRegularExpression(QStringLiteral("\\w")))) {
            ++texts;
            const TextReading reading = readText(image, rectIn(w, widget.get()));
            EXPECT_GE(reading.ratio, AppColors::minimumTextContrast)
                << "\"" << text.toStdString() << "\": ink " << QColor(reading.ink).name().toStdString()
                << " on " << QColor(reading.background).name().toStdString() << " (" << shot.toStdString()
                << ")";
            EXPECT_EQ(typography.match(text).captured(), QString()) << "\"" << text.toStdString() << "\"";
            EXPECT_FALSE(lookupKey.match(text).hasMatch()) << "\"" << text.toStdString() << "\"";
            if (const auto* label = qobject_cast<const QLabel*>(w); label && label->wordWrap()) {
                EXPECT_GE(label->height(), label->heightForWidth(label->width()))
                    << "\"" << text.toStdString() << "\" is cut off (" << shot.toStdString() << ")";
            }
        }
        if ((w->focusPolicy() & Qt::TabFocus) && !w->inherits("QStackedWidget") &&
            !w->inherits("QScrollArea") && !w->inherits("QScrollBar")) {
            widget->setFocus();
            QCoreApplication::processEvents();
            const QRect area = rectIn(w, widget.get()).adjusted(-3, -3, 3, 3);
            const QImage before = widget->grab().toImage().copy(area);
            // As the Tab key gives it: styles show the focus of keyboard navigation.
            w->setFocus(Qt::TabFocusReason);
            widget->setAttribute(Qt::WA_KeyboardFocusChange);
            QCoreApplication::processEvents();
            EXPECT_NE(before, widget->grab().toImage().copy(area))
                << w->metaObject()->className() << " \"" << text.toStdString() << "\" shows no focus ("
                << shot.toStdString() << ")";
        }
    }
    EXPECT_GT(texts, 2);
}

INSTANTIATE_TEST_SUITE_P(LightAndDark, Appearance,
                         ::testing::Combine(::testing::ValuesIn(windows),
                                            ::testing::Values("light", "dark", "turned_dark")),
                         [](const auto& info) {
                             return std::get<0>(info.param).name + "_" + std::get<1>(info.param);
                         });

// The installed icons: the application's is a square drawing with ink at the smallest theme size; the
// symbolic state icons are the eye the tray draws, the same shape per state (the alpha masks of the two
// renderings overlap).
TEST(TrayIcon, InstalledIconsDrawAndMatchTheTrayPixmaps) {
    const QString icons = QStringLiteral(TAVRINE_SOURCE_DIR "/data/icons/");
    const QRect box = QSvgRenderer(icons + "tavrine.svg").viewBox();
    EXPECT_EQ(box.width(), box.height());
    const QImage app = renderSvg(icons + "tavrine.svg", 16).convertToFormat(QImage::Format_Alpha8);
    EXPECT_GT(
        std::count_if(app.constBits(), app.constBits() + app.sizeInBytes(), [](uchar a) { return a > 128; }),
        64);

    using IconState = TrayIcon::IconState;
    for (IconState state : {IconState::nominal, IconState::alert, IconState::inactive, IconState::paused}) {
        const QString name = QString::fromLatin1(TrayIcon::themeName(state));
        const QImage themed = renderSvg(icons + "hicolor/scalable/status/" + name + ".svg", 72);
        const QImage drawn = TrayIcon::render(state, Qt::black, 4.0);
        int both = 0, either = 0;
        for (int i = 0; i < 72 * 72; ++i) {
            const bool a = qAlpha(themed.pixel(i % 72, i / 72)) > 128;
            const bool b = qAlpha(drawn.pixel(i % 72, i / 72)) > 128;
            both += a && b;
            either += a || b;
        }
        EXPECT_GT(either, 150) << name.toStdString();
        EXPECT_GT(double(both) / either, 0.85) << name.toStdString();
    }
}

// The power pictogram of the onboarding's last page opens at the top, where its bar stands: its ring
// (centre (10, 11), radius 7.5 on a 20-unit grid drawn at 80 px) is inked round the sides and the bottom.
TEST(Symbols, PowerRingOpensAtTheTop) {
    const QImage img = Symbols::pixmap(QStringLiteral("system-shutdown"), Qt::black, 80).toImage();
    for (const double degrees : {0.0, 40.0, 70.0, 110.0, 140.0, 180.0, 270.0}) {
        const double a = degrees * M_PI / 180;
        const int ink =
            qAlpha(img.pixel(int((10 + 7.5 * std::cos(a)) * 4), int((11 - 7.5 * std::sin(a)) * 4)));
        EXPECT_TRUE(std::abs(degrees - 90) > 30 ? ink > 128 : ink == 0) << degrees << " degrees: " << ink;
    }
}

// A section divider shows on screen wherever it falls, also at the fractional scales the test runs again at
// (QT_SCALE_FACTOR 1.25 and 1.5), where a frame's one-pixel line was rounded away.
TEST(Widgets, DividersShowAtEveryScale) {
    UiFixture f;
    for (const int top : {2, 3}) {
        QWidget section;
        section.resize(40, 8);
        widgets::divider(&section)->setGeometry(0, top, 40, 1);
        section.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&section));
        const QImage image = section.grab().toImage();
        int drawn = 0;
        for (int x = 0; x < image.width(); ++x) {
            for (int y = 0; y < image.height(); ++y) {
                drawn += image.pixel(x, y) != image.pixel(0, 0);
            }
        }
        EXPECT_GE(drawn, image.width())
            << "at " << image.devicePixelRatio() << ", " << top << " px down: a whole row";
    }
}

// The onboarding's page dots are the way back to an earlier page: the arrow keys move along them too, and
// a screen reader hears which page is shown.
TEST(OnboardingView, PageDotsFollowTheArrowKeys) {
    UiFixture f;
    OnboardingView view(f.ctx);
    QWidget* dots = view.dots();
    EXPECT_TRUE(dots->focusPolicy() & Qt::TabFocus);
    const std::pair<Qt::Key, int> keys[] = {
        {Qt::Key_Right, 1}, {Qt::Key_Right, 2}, {Qt::Key_Left, 1}, {Qt::Key_Left, 0}, {Qt::Key_Left, 0}};
    for (const auto& [key, page] : keys) {
        QTest::keyClick(dots, key);
        EXPECT_EQ(view.page(), page);
        EXPECT_EQ(dots->accessibleName(), QStringLiteral("Page %1 sur 5").arg(page + 1));
    }
    view.setPage(4);
    QTest::keyClick(dots, Qt::Key_Right);
    EXPECT_EQ(view.page(), 4) << "no page after the last";
}

// Every text the code asks the translations for by its key has one: a key mistyped or never translated would
// show the user "notif_camera_lost_title". Read from the sources, so a key added anywhere is covered.
TEST(Translations, EveryKeyTheCodeAsksForIsTranslated) {
    QtLocalizer localizer;
    const QRegularExpression asked(QStringLiteral("(?:\\.text|\\.tr)\\(\"([^\"]+)\"\\)"));
    QStringList keys;
    QDirIterator files(QStringLiteral(TAVRINE_SOURCE_DIR "/src"),
                       {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        for (const auto& match : asked.globalMatch(QString::fromUtf8(file.readAll()))) {
            keys << match.captured(1);
        }
    }
    keys.removeDuplicates();
    EXPECT_GT(keys.size(), 40) << "the sources were read";
    for (const QString& key : keys) {
        if (key == QStringLiteral("Tavrine")) {
            continue; // the name, the same in every language
        }
        EXPECT_NE(localizer.text(key.toStdString()), key.toStdString())
            << key.toStdString() << " has no text";
    }
}
