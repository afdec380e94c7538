// halvorin-compare-pictures: compares two folders of PNG pictures (the
// window renderer's output before and after a change) pixel by pixel.
//
//   halvorin-compare-pictures BEFORE_DIR AFTER_DIR
//
// Prints one line per picture that differs (its size, or how many pixels
// differ and where) and per picture found in only one folder. Exits 0 when
// every picture is the same, 1 when any differs, 2 on a usage error.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QRect>
#include <QSet>
#include <cstdio>

namespace {

struct Difference {
    qsizetype pixels = 0;
    QRect bounds;
};

Difference Compare(const QImage& before, const QImage& after) {
    Difference difference;
    for (int y = 0; y < before.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(before.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(after.constScanLine(y));
        for (int x = 0; x < before.width(); ++x) {
            if (a[x] == b[x]) continue;
            ++difference.pixels;
            difference.bounds |= QRect(x, y, 1, 1);
        }
    }
    return difference;
}

QImage Load(const QDir& dir, const QString& name) {
    return QImage(dir.filePath(name)).convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2 || args[0].startsWith('-')) {
        std::fprintf(stderr, "usage: halvorin-compare-pictures BEFORE_DIR AFTER_DIR\n");
        return 2;
    }
    const QDir before_dir(args[0]), after_dir(args[1]);
    const QStringList before = before_dir.entryList({"*.png"}, QDir::Files, QDir::Name);
    const QStringList after = after_dir.entryList({"*.png"}, QDir::Files, QDir::Name);
    int differing = 0;
    for (const QString& name : before) {
        if (!after.contains(name)) {
            std::printf("%s: only before\n", qPrintable(name));
            ++differing;
            continue;
        }
        const QImage a = Load(before_dir, name), b = Load(after_dir, name);
        if (a.size() != b.size()) {
            std::printf("%s: %dx%d before, %dx%d after\n", qPrintable(name), a.width(), a.height(),
                        b.width(), b.height());
            ++differing;
            continue;
        }
        const Difference d = Compare(a, b);
        if (d.pixels == 0) continue;
        std::printf("%s: %lld pixels differ within %dx%d at (%d,%d)\n", qPrintable(name),
                    static_cast<long long>(d.pixels), d.bounds.width(), d.bounds.height(),
                    d.bounds.x(), d.bounds.y());
        ++differing;
    }
    for (const QString& name : after) {
        if (!before.contains(name)) {
            std::printf("%s: only after\n", qPrintable(name));
            ++differing;
        }
    }
    std::printf("%d of %lld pictures differ\n", differing,
                static_cast<long long>(QSet<QString>(before.begin(), before.end())
                                           .unite(QSet<QString>(after.begin(), after.end()))
                                           .size()));
    return differing == 0 ? 0 : 1;
}
