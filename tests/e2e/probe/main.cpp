// Helper of the desktop test scripts: a plain backdrop under the application's windows, and pixel
// measurements of screenshots that ImageMagick would need many invocations for.
//
//   tavrine-e2e-probe backdrop [#rrggbb]            a window of that colour over the whole desktop, below
//                                                   everything mapped later; prints "ready" once shown
//   tavrine-e2e-probe stats PNG X Y W H             "minR minG minB maxR maxG maxB meanR meanG meanB"
//   tavrine-e2e-probe blobs PNG X Y W H #rrggbb [TOL]
//                                                   connected regions of that colour (each channel within
//                                                   TOL, default 6), largest first: "x y w h pixels"
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
#include <vector>

namespace {

int usage() {
    std::fprintf(stderr, "usage: tavrine-e2e-probe backdrop [#rrggbb] | stats PNG X Y W H | "
                         "blobs PNG X Y W H #rrggbb [TOL] | redness PNG X Y W H | contrast PNG X Y W H\n");
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

int blobs(const QImage& image, const QRect& r, const QColor& colour, int tolerance) {
    const int w = r.width();
    const int h = r.height();
    auto matches = [&](int x, int y) {
        const QRgb p = image.pixel(r.left() + x, r.top() + y);
        return std::abs(qRed(p) - colour.red()) <= tolerance &&
               std::abs(qGreen(p) - colour.green()) <= tolerance &&
               std::abs(qBlue(p) - colour.blue()) <= tolerance;
    };
    struct Blob {
        QRect box;
        int pixels;
    };
    std::vector<Blob> found;
    std::vector<char> seen(std::size_t(w) * h, 0);
    std::vector<std::pair<int, int>> stack;
    for (int y0 = 0; y0 < h; ++y0) {
        for (int x0 = 0; x0 < w; ++x0) {
            if (seen[std::size_t(y0) * w + x0] || !matches(x0, y0)) {
                continue;
            }
            Blob blob{QRect(x0, y0, 1, 1), 0};
            stack.assign(1, {x0, y0});
            seen[std::size_t(y0) * w + x0] = 1;
            while (!stack.empty()) {
                const auto [x, y] = stack.back();
                stack.pop_back();
                ++blob.pixels;
                blob.box = blob.box.united(QRect(x, y, 1, 1));
                const int next[4][2] = {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}};
                for (const auto& n : next) {
                    if (n[0] < 0 || n[1] < 0 || n[0] >= w || n[1] >= h) {
                        continue;
                    }
                    char& mark = seen[std::size_t(n[1]) * w + n[0]];
                    if (!mark && matches(n[0], n[1])) {
                        mark = 1;
                        stack.push_back({n[0], n[1]});
                    }
                }
            }
            found.push_back(blob);
        }
    }
    std::sort(found.begin(), found.end(), [](const Blob& a, const Blob& b) { return a.pixels > b.pixels; });
    for (const Blob& b : found) {
        std::printf("%d %d %d %d %d\n", b.box.x() + r.left(), b.box.y() + r.top(), b.box.width(),
                    b.box.height(), b.pixels);
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
    if (command == "blobs" && argc >= 8) {
        const QColor colour(QString::fromLatin1(argv[7]));
        if (!colour.isValid()) {
            return usage();
        }
        return blobs(image, region, colour, argc > 8 ? std::atoi(argv[8]) : 6);
    }
    return usage();
}
