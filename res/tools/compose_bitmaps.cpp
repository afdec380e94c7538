// Build-time tool: renders the program's bitmap and icon resources from the
// glyph library and the manifest in res/bitmaps, at their exact sizes and
// at 1.5 and 2 times them, for screens that scale by those factors.
//
//   compose_bitmaps SOURCE_DIR OUTPUT_DIR [--sheet FILE]
//
// Writes OUTPUT_DIR/bitmaps/<id>.png, <id>@1.5x.png and <id>@2x.png, and
// OUTPUT_DIR/icons/<id>-<size>.png;
// --sheet also writes an enlarged contact sheet of every strip for people to
// look at. Exits non-zero, naming the problem, when the manifest and a
// picture disagree.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>
#include <cstdio>
#include <optional>

namespace {

// The bitmaps are drawn at each of these scales; an image list picks the
// one that a screen's device pixel ratio shows pixel for pixel.
constexpr struct {
    double factor;
    const char* suffix;
} kScales[] = {{1, ""}, {1.5, "@1.5x"}, {2, "@2x"}};

QTextStream& Err() {
    static QTextStream stream(stderr);
    return stream;
}

std::optional<QByteArray> ReadFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return file.readAll();
}

// The <defs> element of the glyph library, to be pasted into every strip.
std::optional<QByteArray> GlyphDefinitions(const QString& source_dir) {
    const auto library = ReadFile(source_dir + "/glyphs.svg");
    if (!library) return std::nullopt;
    const qsizetype root = library->indexOf("<svg");
    const qsizetype begin = root < 0 ? -1 : library->indexOf("<defs>", root);
    const qsizetype end = begin < 0 ? -1 : library->indexOf("</defs>", begin);
    if (end < 0) return std::nullopt;
    return library->mid(begin, end + 7 - begin);
}

QString Number(double value) {
    return QString::number(value, 'f', 2);
}

QString PlateSvg(const QJsonObject& cell, double x, double width, double height) {
    const QString shape = cell["plate"].toString();
    const QString colour = cell["plate_color"].toString();
    if (shape == "circle") {
        const double radius = std::min(width, height) / 2 - 0.5;
        return QString("<circle cx='%1' cy='%2' r='%3' fill='%4'/>")
            .arg(Number(x + width / 2), Number(height / 2), Number(radius), colour);
    }
    if (shape == "rounded") {
        return QString("<rect x='%1' y='1' width='%2' height='%3' rx='6' fill='%4'/>")
            .arg(Number(x + 1), Number(width - 2), Number(height - 2), colour);
    }
    if (shape == "pill") {
        return QString("<rect x='%1' y='0.5' width='%2' height='%3' rx='%4' fill='%5'/>")
            .arg(Number(x + 0.5), Number(width - 1), Number(height - 1), Number(height / 2 - 0.5),
                 colour);
    }
    return {};
}

QString GlyphSvg(const QJsonObject& cell, double x, double width, double height) {
    const double size = cell["size"].toDouble(height - 4);
    const double scale = size / 32.0;
    const double left = x + (width - size) / 2 + cell["dx"].toDouble(0);
    const double top = (height - size) / 2;
    const QString colour = cell["color"].toString("#000000");
    return QString(
               "<use xlink:href='#%1' transform='translate(%2,%3) scale(%4)' fill='%5' "
               "stroke='%5'/>")
        .arg(cell["glyph"].toString(), Number(left), Number(top), QString::number(scale, 'f', 4),
             colour);
}

QString TextSvg(const QJsonObject& cell, double x, double width, double height) {
    const double font_size = std::round(height * 0.55);
    return QString(
               "<text x='%1' y='%2' text-anchor='middle' font-family='Roboto' "
               "font-weight='bold' font-size='%3' fill='%4'>%5</text>")
        .arg(Number(x + width / 2 + cell["text_dx"].toDouble(0)),
             Number(height / 2 + font_size * 0.36), Number(font_size),
             cell["text_color"].toString("#FFFFFF"), cell["text"].toString());
}

QByteArray StripSvg(const QJsonObject& bitmap, const QByteArray& defs) {
    const int width = bitmap["width"].toInt();
    const int height = bitmap["height"].toInt();
    const int cell_width = bitmap["cell_width"].toInt();
    QString body;
    const QJsonArray cells = bitmap["cells"].toArray();
    for (qsizetype i = 0; i < cells.size(); ++i) {
        const QJsonObject cell = cells[i].toObject();
        const double x = double(i) * cell_width;
        if (cell.contains("plate")) body += PlateSvg(cell, x, cell_width, height);
        if (cell.contains("text")) body += TextSvg(cell, x, cell_width, height);
        if (cell.contains("glyph")) body += GlyphSvg(cell, x, cell_width, height);
    }
    return QString(
               "<svg xmlns='http://www.w3.org/2000/svg' "
               "xmlns:xlink='http://www.w3.org/1999/xlink' version='1.2' baseProfile='tiny' "
               "width='%1' height='%2' viewBox='0 0 %1 %2'>")
               .arg(width)
               .arg(height)
               .toUtf8() +
           defs + body.toUtf8() + "</svg>";
}

std::optional<QImage> Render(const QByteArray& svg, QSize size) {
    QSvgRenderer renderer(svg);
    if (!renderer.isValid()) return std::nullopt;
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool Save(const QImage& image, const QString& path) {
    if (image.save(path, "PNG")) return true;
    Err() << "compose_bitmaps: cannot write " << path << Qt::endl;
    return false;
}

// The bitmap as an SVG picture of its size in pixels at scale 1.
std::optional<QByteArray> BitmapSvg(const QJsonObject& bitmap, const QString& source_dir,
                                    const QByteArray& defs) {
    const int id = bitmap["id"].toInt();
    const QSize size(bitmap["width"].toInt(), bitmap["height"].toInt());
    const int cell_width = bitmap["cell_width"].toInt();
    if (cell_width <= 0 || size.width() % cell_width != 0) {
        Err() << "compose_bitmaps: bitmap " << id << " is not a whole number of cells" << Qt::endl;
        return std::nullopt;
    }
    QByteArray svg;
    if (bitmap.contains("svg")) {
        const auto picture = ReadFile(source_dir + "/" + bitmap["svg"].toString());
        if (!picture) {
            Err() << "compose_bitmaps: cannot read " << bitmap["svg"].toString() << Qt::endl;
            return std::nullopt;
        }
        svg = *picture;
        if (QSvgRenderer(svg).defaultSize() != size) {
            Err() << "compose_bitmaps: " << bitmap["svg"].toString() << " is not " << size.width()
                  << " x " << size.height() << Qt::endl;
            return std::nullopt;
        }
    } else {
        const qsizetype cells = bitmap["cells"].toArray().size();
        if (cells * cell_width != size.width()) {
            Err() << "compose_bitmaps: bitmap " << id << " has " << cells << " cells for "
                  << size.width() / cell_width << " places" << Qt::endl;
            return std::nullopt;
        }
        svg = StripSvg(bitmap, defs);
    }
    return svg;
}

// Every scale of one bitmap; the picture at scale 1 goes on the sheet.
bool ComposeBitmap(const QJsonObject& bitmap, const QString& source_dir, const QByteArray& defs,
                   const QString& output_dir, QList<QPair<int, QImage>>& sheet) {
    const int id = bitmap["id"].toInt();
    const auto svg = BitmapSvg(bitmap, source_dir, defs);
    if (!svg) return false;
    const QSize size(bitmap["width"].toInt(), bitmap["height"].toInt());
    for (const auto& scale : kScales) {
        const auto image = Render(*svg, (QSizeF(size) * scale.factor).toSize());
        if (!image) {
            Err() << "compose_bitmaps: bitmap " << id << " does not render" << Qt::endl;
            return false;
        }
        const QString path =
            QString("%1/bitmaps/%2%3.png").arg(output_dir).arg(id).arg(scale.suffix);
        if (!Save(*image, path)) return false;
        if (scale.factor == 1) sheet.append({id, *image});
    }
    return true;
}

QImage ContactSheet(const QList<QPair<int, QImage>>& pictures) {
    constexpr int kScale = 3;
    constexpr int kGap = 12;
    int width = 0;
    int height = kGap;
    for (const auto& [id, image] : pictures) {
        width = std::max(width, image.width() * kScale + 2 * kGap);
        height += image.height() * kScale + kGap;
    }
    QImage sheet(width, height, QImage::Format_ARGB32);
    sheet.fill(QColor(0xF3, 0xF3, 0xF3));
    QPainter painter(&sheet);
    int y = kGap;
    for (const auto& [id, image] : pictures) {
        const QRect target(kGap, y, image.width() * kScale, image.height() * kScale);
        painter.fillRect(target, QColor(0xC5, 0xC5, 0xC5));
        painter.drawImage(target, image);
        y += target.height() + kGap;
    }
    return sheet;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3 && !(args.size() == 5 && args[3] == "--sheet")) {
        Err() << "usage: compose_bitmaps SOURCE_DIR OUTPUT_DIR [--sheet FILE]" << Qt::endl;
        return 2;
    }
    const QString source_dir = args[1];
    const QString output_dir = args[2];
    const auto manifest_bytes = ReadFile(source_dir + "/bitmaps.json");
    const auto defs = GlyphDefinitions(source_dir);
    if (!manifest_bytes || !defs) {
        Err() << "compose_bitmaps: cannot read bitmaps.json or glyphs.svg in " << source_dir
              << Qt::endl;
        return 1;
    }
    QJsonParseError error{};
    const QJsonObject manifest = QJsonDocument::fromJson(*manifest_bytes, &error).object();
    if (error.error != QJsonParseError::NoError) {
        Err() << "compose_bitmaps: bitmaps.json: " << error.errorString() << Qt::endl;
        return 1;
    }
    QDir().mkpath(output_dir + "/bitmaps");
    QDir().mkpath(output_dir + "/icons");

    QList<QPair<int, QImage>> pictures;
    for (const auto& entry : manifest["bitmaps"].toArray()) {
        if (!ComposeBitmap(entry.toObject(), source_dir, *defs, output_dir, pictures)) return 1;
    }
    for (const auto& entry : manifest["icons"].toArray()) {
        const QJsonObject icon = entry.toObject();
        const auto svg = ReadFile(source_dir + "/" + icon["svg"].toString());
        if (!svg) return 1;
        for (const auto& size : icon["sizes"].toArray()) {
            const auto image = Render(*svg, QSize(size.toInt(), size.toInt()));
            if (!image) return 1;
            const QString path = QString("%1/icons/%2-%3.png")
                                     .arg(output_dir)
                                     .arg(icon["id"].toInt())
                                     .arg(size.toInt());
            if (!Save(*image, path)) return 1;
            if (size.toInt() == 48) pictures.append({icon["id"].toInt(), *image});
        }
    }
    if (args.size() == 5 && !Save(ContactSheet(pictures), args[4])) return 1;
    return 0;
}
