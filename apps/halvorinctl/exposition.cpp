#include "apps/halvorinctl/exposition.h"

#include <charconv>
#include <cmath>

namespace halvorin::ctl {

namespace {

void AppendEscaped(std::string& out, std::string_view text, bool quotes) {
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && quotes)
            out += "\\\"";
        else
            out += c;
    }
}

void AppendValue(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
    } else if (std::isinf(value)) {
        out += value > 0 ? "+Inf" : "-Inf";
    } else {
        char buffer[32];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        out.append(buffer, end);
    }
}

}  // namespace

LabelText& LabelText::Add(std::string_view name, std::string_view value) {
    if (!text_.empty()) text_ += ',';
    text_ += name;
    text_ += "=\"";
    AppendEscaped(text_, value, true);
    text_ += '"';
    return *this;
}

void SampleText::Add(size_t family, const LabelText& labels, double value) {
    std::string& out = chunks_[family];
    out += families_[family].name;
    if (!labels.text().empty()) {
        out += '{';
        out += labels.text();
        out += '}';
    }
    out += ' ';
    AppendValue(out, value);
    out += '\n';
}

void WriteExposition(std::span<const FamilyInfo> families, std::span<const SampleText* const> parts,
                     std::string& out) {
    for (size_t f = 0; f < families.size(); ++f) {
        bool header = false;
        for (const SampleText* part : parts) {
            if (f >= part->families() || part->chunk(f).empty()) continue;
            if (!header) {
                out += "# HELP ";
                out += families[f].name;
                out += ' ';
                AppendEscaped(out, families[f].help, false);
                out += "\n# TYPE ";
                out += families[f].name;
                out += families[f].kind == MetricKind::kCounter ? " counter\n" : " gauge\n";
                header = true;
            }
            out += part->chunk(f);
        }
    }
}

}  // namespace halvorin::ctl
