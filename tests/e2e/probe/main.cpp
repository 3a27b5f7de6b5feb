// Helper of the desktop test scripts: a plain backdrop under the application's windows, and pixel
// measurements of screenshots that ImageMagick would need many invocations for.
//
//   tavrine-e2e-probe backdrop [#rrggbb]            a window of that colour over the whole desktop, below
//                                                   everything mapped later; prints "ready" once shown
//   tavrine-e2e-probe stats PNG X Y W H             "minR minG minB maxR maxG maxB meanR meanG meanB"
//   tavrine-e2e-probe colour PNG X Y W H #rrggbb [TOL]
//                                                   the pixels of that colour (each channel within TOL,
//                                                   default 6): their bounding box and count, "x y w h
//                                                   pixels"
//   tavrine-e2e-probe redness PNG X Y W H           mean of R - (G + B) / 2 over the region
//   tavrine-e2e-probe contrast PNG X Y W H          the text of the region against its background:
//                                                   "ratio background-luminance"

#include "ui/TextContrast.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

int usage() {
    std::fprintf(stderr, "usage: tavrine-e2e-probe backdrop [#rrggbb] | stats PNG X Y W H | "
                         "colour PNG X Y W H #rrggbb [TOL] | redness PNG X Y W H | contrast PNG X Y W H\n");
    return 2;
}

bool loadRegion(const char* path, const char* const* geometry, QImage& image, QRect& region) {
    if (!image.load(QString::fromLocal8Bit(path))) {
        std::fprintf(stderr, "tavrine-e2e-probe: cannot read %s\n", path);
        return false;
    }
    image = image.convertToFormat(QImage::Format_RGB32);
    region =
        QRect(std::atoi(geometry[0]), std::atoi(geometry[1]), std::atoi(geometry[2]), std::atoi(geometry[3]))
            .intersected(image.rect());
    if (region.isEmpty()) {
        std::fprintf(stderr, "tavrine-e2e-probe: region outside the %dx%d image\n", image.width(),
                     image.height());
        return false;
    }
    return true;
}

int stats(const QImage& image, const QRect& r) {
    int lo[3] = {255, 255, 255};
    int hi[3] = {0, 0, 0};
    double sum[3] = {0, 0, 0};
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            const int c[3] = {qRed(line[x]), qGreen(line[x]), qBlue(line[x])};
            for (int i = 0; i < 3; ++i) {
                lo[i] = std::min(lo[i], c[i]);
                hi[i] = std::max(hi[i], c[i]);
                sum[i] += c[i];
            }
        }
    }
    const double n = double(r.width()) * r.height();
    std::printf("%d %d %d %d %d %d %.2f %.2f %.2f\n", lo[0], lo[1], lo[2], hi[0], hi[1], hi[2], sum[0] / n,
                sum[1] / n, sum[2] / n);
    return 0;
}

int redness(const QImage& image, const QRect& r) {
    double sum = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            sum += qRed(line[x]) - (qGreen(line[x]) + qBlue(line[x])) / 2.0;
        }
    }
    std::printf("%.2f\n", sum / (double(r.width()) * r.height()));
    return 0;
}

// The pixels of the region that have the colour (each channel within the tolerance): their bounding box
// and count, nothing when there are none.
int colour(const QImage& image, const QRect& r, const QColor& wanted, int tolerance) {
    QRect box;
    int pixels = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            if (std::abs(qRed(line[x]) - wanted.red()) <= tolerance &&
                std::abs(qGreen(line[x]) - wanted.green()) <= tolerance &&
                std::abs(qBlue(line[x]) - wanted.blue()) <= tolerance) {
                box = box.united(QRect(x, y, 1, 1));
                ++pixels;
            }
        }
    }
    if (pixels > 0) {
        std::printf("%d %d %d %d %d\n", box.x(), box.y(), box.width(), box.height(), pixels);
    }
    return 0;
}

int backdrop(int argc, char** argv, const char* colourName) {
    QApplication app(argc, argv);
    const QColor colour(QString::fromLatin1(colourName));
    if (!colour.isValid()) {
        std::fprintf(stderr, "tavrine-e2e-probe: bad colour %s\n", colourName);
        return 2;
    }
    QRect desktop;
    for (QScreen* screen : QGuiApplication::screens()) {
        desktop = desktop.united(screen->geometry());
    }
    QWidget window(nullptr,
                   Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus);
    window.setWindowTitle(QStringLiteral("tavrine-e2e-backdrop"));
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, colour);
    window.setPalette(palette);
    window.setAutoFillBackground(true);
    window.setGeometry(desktop);
    window.show();
    QTimer::singleShot(200, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    const std::string command = argv[1];
    if (command == "backdrop") {
        return backdrop(argc, argv, argc > 2 ? argv[2] : "#ffffff");
    }
    if (argc < 7) {
        return usage();
    }
    QImage image;
    QRect region;
    if (!loadRegion(argv[2], argv + 3, image, region)) {
        return 1;
    }
    if (command == "stats") {
        return stats(image, region);
    }
    if (command == "redness") {
        return redness(image, region);
    }
    if (command == "contrast") {
        // The text of the area against its background: "ratio background-luminance".
        const auto reading = tavrine::testing::readText(image, region);
        std::printf("%.2f %.3f\n", reading.ratio, tavrine::testing::relativeLuminance(reading.background));
        return 0;
    }
    if (command == "colour" && argc >= 8) {
        const QColor wanted(QString::fromLatin1(argv[7]));
        if (!wanted.isValid()) {
            return usage();
        }
        return colour(image, region, wanted, argc > 8 ? std::atoi(argv[8]) : 6);
    }
    return usage();
}
