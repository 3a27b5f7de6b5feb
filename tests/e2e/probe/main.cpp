// Helper of the desktop test scripts: a white backdrop under the application's windows, and pixel
// measurements of screenshots that ImageMagick would need many invocations for.
//   backdrop                         a white window over the whole desktop; prints "ready" once shown
//   stats PNG X Y W H                "minR minG minB maxR maxG maxB meanR meanG meanB"
//   colour PNG X Y W H #rrggbb TOL   "x y w h pixels": the bounding box and count of the pixels of that
//                                    colour (each channel within TOL)
//   contrast PNG X Y W H             "ratio background-luminance": the region's text against its background

#include "ui/TextContrast.h"

#include <QApplication>
#include <QRect>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace {

void forEachPixel(const QImage& image, const QRect& r, const std::function<void(int, int, QRgb)>& visit) {
    for (int y = r.top(); y <= r.bottom(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = r.left(); x <= r.right(); ++x) {
            visit(x, y, line[x]);
        }
    }
}

void stats(const QImage& image, const QRect& r) {
    int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    double sum[3] = {0, 0, 0};
    forEachPixel(image, r, [&](int, int, QRgb p) {
        const int c[3] = {qRed(p), qGreen(p), qBlue(p)};
        for (int i = 0; i < 3; ++i) {
            lo[i] = std::min(lo[i], c[i]);
            hi[i] = std::max(hi[i], c[i]);
            sum[i] += c[i];
        }
    });
    const double n = double(r.width()) * r.height();
    std::printf("%d %d %d %d %d %d %.2f %.2f %.2f\n", lo[0], lo[1], lo[2], hi[0], hi[1], hi[2], sum[0] / n,
                sum[1] / n, sum[2] / n);
}

// Prints nothing when no pixel has the colour.
void colour(const QImage& image, const QRect& r, const QColor& wanted, int tolerance) {
    QRect box;
    int pixels = 0;
    forEachPixel(image, r, [&](int x, int y, QRgb p) {
        if (std::abs(qRed(p) - wanted.red()) <= tolerance &&
            std::abs(qGreen(p) - wanted.green()) <= tolerance &&
            std::abs(qBlue(p) - wanted.blue()) <= tolerance) {
            box = box.united(QRect(x, y, 1, 1));
            ++pixels;
        }
    });
    if (pixels > 0) {
        std::printf("%d %d %d %d %d\n", box.x(), box.y(), box.width(), box.height(), pixels);
    }
}

int backdrop(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window(nullptr,
                   Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus);
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.setPalette(QPalette(Qt::black, Qt::white));
    window.setAutoFillBackground(true);
    window.setGeometry(QGuiApplication::primaryScreen()->virtualGeometry());
    window.show();
    QTimer::singleShot(200, [] {
        std::printf("ready\n");
        std::fflush(stdout);
    });
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "backdrop") {
        return backdrop(argc, argv);
    }
    QImage image;
    if (argc < 7 || !image.load(QString::fromLocal8Bit(argv[2]))) {
        std::fprintf(stderr, "usage: tavrine-e2e-probe backdrop | stats|contrast PNG X Y W H | "
                             "colour PNG X Y W H #rrggbb TOL\n");
        return 2;
    }
    image = image.convertToFormat(QImage::Format_RGB32);
    const QRect region = QRect(std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), std::atoi(argv[6]))
                             .intersected(image.rect());
    if (region.isEmpty()) {
        std::fprintf(stderr, "tavrine-e2e-probe: region outside the %dx%d image\n", image.width(),
                     image.height());
        return 1;
    }
    if (command == "stats") {
        stats(image, region);
    } else if (command == "contrast") {
        const auto reading = tavrine::testing::readText(image, region);
        std::printf("%.2f %.3f\n", reading.ratio, tavrine::testing::relativeLuminance(reading.background));
    } else if (command == "colour" && argc > 8) {
        colour(image, region, QColor(QString::fromLatin1(argv[7])), std::atoi(argv[8]));
    } else {
        return 2;
    }
    return 0;
}
