#include "base/text_format.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "base/utf16.h"

namespace halvorin {

namespace {

char16_t UpperCase(char16_t c) {
    if (c >= u'a' && c <= u'z') return c - 32;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return c - 32;
    if (c >= 0x430 && c <= 0x44F) return c - 32;
    if (c >= 0x450 && c <= 0x45F) return c - 80;
    return c;
}

std::u16string Pad(std::u16string text, size_t width, bool left_align, char16_t fill) {
    if (text.size() >= width) return text;
    const size_t n = width - text.size();
    if (left_align) return text + std::u16string(n, u' ');
    if (fill == u'0' && !text.empty() && text[0] == u'-')
        return u"-" + std::u16string(n, u'0') + text.substr(1);
    return std::u16string(n, fill) + text;
}

std::u16string Digits(uint64_t value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::u16string out;
    do {
        out.insert(out.begin(), static_cast<char16_t>(digits[value % base]));
        value /= base;
    } while (value != 0);
    return out;
}

}  // namespace

std::u16string FormatString(std::u16string_view format, std::initializer_list<FormatArg> list) {
    return FormatString(format, std::span(list.begin(), list.size()));
}

std::u16string FormatString(std::u16string_view format, std::span<const FormatArg> args) {
    size_t next = 0;
    std::u16string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != u'%') {
            out += format[i];
            continue;
        }
        size_t j = i + 1;
        // "%2$s": the second argument, so a translation may reorder them.
        std::optional<size_t> position;
        size_t k = j;
        size_t n = 0;
        for (; k < format.size() && format[k] >= u'0' && format[k] <= u'9' && n < 100; ++k)
            n = n * 10 + (format[k] - u'0');
        if (k > j && k < format.size() && format[k] == u'$' && n > 0) {
            position = n - 1;
            j = k + 1;
        }
        bool left = false;
        char16_t fill = u' ';
        for (; j < format.size() && (format[j] == u'-' || format[j] == u'0'); ++j) {
            if (format[j] == u'-')
                left = true;
            else
                fill = u'0';
        }
        // Widths and precisions are capped: a format from a damaged table
        // must not ask for more memory than a line of text needs.
        constexpr size_t kMaxWidth = 4096;
        size_t width = 0;
        for (; j < format.size() && format[j] >= u'0' && format[j] <= u'9'; ++j)
            width = std::min(kMaxWidth, width * 10 + (format[j] - u'0'));
        size_t precision = std::u16string::npos;
        if (j < format.size() && format[j] == u'.') {
            precision = 0;
            for (++j; j < format.size() && format[j] >= u'0' && format[j] <= u'9'; ++j) {
                precision = std::min(kMaxWidth, precision * 10 + (format[j] - u'0'));
            }
        }
        if (j >= format.size()) {
            out += format.substr(i);
            break;
        }
        const char16_t conversion = format[j];
        if (conversion == u'%') {
            out += u'%';
            i = j;
            continue;
        }
        if (std::u16string_view(u"sdiuxXc").find(conversion) == std::u16string_view::npos) {
            out += format.substr(i, j - i + 1);
            i = j;
            continue;
        }
        i = j;
        const size_t index = position ? *position : next++;
        if (index >= args.size()) continue;
        const FormatArg& arg = args[index];
        std::u16string piece;
        if (conversion == u's') {
            if (const auto* text = std::get_if<std::u16string>(&arg))
                piece = text->substr(0, precision);
            out += Pad(piece, width, left, u' ');
            continue;
        }
        const auto* number = std::get_if<int64_t>(&arg);
        if (!number) continue;
        switch (conversion) {
            case u'd':
            case u'i':
                piece = *number < 0 ? u"-" + Digits(static_cast<uint64_t>(-*number), 10, false)
                                    : Digits(static_cast<uint64_t>(*number), 10, false);
                break;
            case u'u':
                piece = Digits(static_cast<uint32_t>(*number), 10, false);
                break;
            case u'x':
                piece = Digits(static_cast<uint32_t>(*number), 16, false);
                break;
            case u'X':
                piece = Digits(static_cast<uint32_t>(*number), 16, true);
                break;
            case u'c':
                piece = std::u16string(1, static_cast<char16_t>(*number));
                break;
        }
        out += Pad(piece, width, left, fill);
    }
    return out;
}

std::u16string CapitalizeFirst(std::u16string text) {
    if (!text.empty()) text[0] = UpperCase(text[0]);
    return text;
}

std::u16string CapitalizeWords(std::u16string text) {
    for (size_t i = 0; i < text.size(); ++i) {
        if (i == 0 || text[i - 1] == u' ') text[i] = UpperCase(text[i]);
    }
    return text;
}

std::u16string ToLower(std::u16string text) {
    for (char16_t& c : text)
        c = FoldCase(c);
    return text;
}

}  // namespace halvorin
