// halvorin-compare-pictures: compares two folders of PNG pictures (the
// window renderer's output before and after a change) pixel by pixel.
//
//   halvorin-compare-pictures BEFORE_DIR AFTER_DIR
//   halvorin-compare-pictures --digests DIR
//
// Prints one line per picture that differs (its size, or how many pixels
// differ and where) and per picture found in only one folder. Exits 0 when
// every picture is the same, 1 when any differs, 2 on a usage error.
//
// With --digests, prints a digest of each picture's pixels and its name, one
// picture a line in name order: what the renderer's test keeps to tell that
// no window changed. The digest is of the pixels, not of the file, so a PNG
// library that packs the same picture otherwise does not count as a change.

#include <QCryptographicHash>
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

int PrintDigests(const QDir& dir) {
    const QStringList names = dir.entryList({"*.png"}, QDir::Files, QDir::Name);
    if (names.isEmpty()) {
        std::fprintf(stderr, "halvorin-compare-pictures: no pictures in %s\n",
                     qPrintable(dir.path()));
        return 2;
    }
    for (const QString& name : names) {
        const QImage image = Load(dir, name);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        const QString size = QString("%1x%2").arg(image.width()).arg(image.height());
        hash.addData(size.toUtf8());
        for (int y = 0; y < image.height(); ++y) {
            hash.addData(QByteArrayView(reinterpret_cast<const char*>(image.constScanLine(y)),
                                        qsizetype(image.width()) * 4));
        }
        std::printf("%s  %s\n", hash.result().toHex().left(32).constData(), qPrintable(name));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == "--digests") return PrintDigests(QDir(args[1]));
    if (args.size() != 2 || args[0].startsWith('-')) {
        std::fprintf(stderr,
                     "usage: halvorin-compare-pictures BEFORE_DIR AFTER_DIR\n"
                     "       halvorin-compare-pictures --digests DIR\n");
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
