#include "shell/theme/theme_font.h"

#include <QFontMetrics>
#include <optional>

#include "shell/theme/font_face.h"
#include "shell/theme/interface_language.h"
#include "shell/theme/shared_look.h"
#include "shell/theme/theme_resources.h"

namespace halvorin {

namespace {

std::optional<uint32_t> FontSizeResource(const QString& language, int id) {
    const auto fields = FindTableEntry("theme/FONTSIZE." + language + ".tsv", id);
    if (!fields || fields->size() != 2) return std::nullopt;
    bool height_ok = false;
    bool weight_ok = false;
    const uint32_t height = (*fields)[0].toUInt(&height_ok);
    const uint32_t weight = (*fields)[1].toUInt(&weight_ok);
    if (!height_ok || !weight_ok || height > 0xFFFF || weight > 0xFFFF) return std::nullopt;
    return FontSize(uint16_t(height), uint16_t(weight));
}

QFont::Weight QtWeight(int weight) {
    if (weight <= 0) return QFont::Normal;
    return QFont::Weight(std::clamp(weight, 100, 900));
}

}  // namespace

FontDescription LoadThemeFont(int id, uint32_t default_value, const QString& face) {
    const QString language = InterfaceLanguage() == "zh_TW" ? "zh_TW" : "en";
    std::optional<uint32_t> value = FontSizeResource(language, id);
    if (!value && language != "en") value = FontSizeResource("en", id);
    const uint32_t size = value.value_or(default_value);
    FontDescription description;
    description.height = int(size & 0xFFFF);
    description.weight = int(size >> 16);
    description.face = face;
    description.quality = kClearTypeQuality;
    return description;
}

QFont CreateThemeFont(const FontDescription& description) {
    QFont font(FontFamilyOfFace(description.face));
    font.setWeight(QtWeight(description.weight));
    font.setStyleStrategy(description.quality == kClearTypeQuality ? QFont::PreferAntialias
                                                                   : QFont::PreferDefault);
    if (description.height <= 0) return font;
    // The pixel size Qt takes is the em height; scale it so that the line
    // height matches the cell height the resource gives.
    font.setPixelSize(description.height);
    const int line_height = QFontMetrics(font).height();
    if (line_height > 0 && line_height != description.height) {
        font.setPixelSize(std::max(1, description.height * description.height / line_height));
    }
    return font;
}

QFont LoadAppFont(int id, uint32_t default_value) {
    return CreateThemeFont(LoadThemeFont(id, default_value, AppFontFace()));
}

}  // namespace halvorin
