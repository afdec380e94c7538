// The Prometheus text format, written directly: samples are kept as text,
// grouped by family, so the text of an enclosure that did not change can be
// kept from one scrape to the next and a scrape only joins pieces.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halvorin::ctl {

enum class MetricKind { kGauge, kCounter };

struct FamilyInfo {
    std::string name;
    std::string help;
    MetricKind kind = MetricKind::kGauge;
};

// A label set as the format writes it: name="value",... with the values
// escaped (backslash, double quote, line feed).
class LabelText {
  public:
    LabelText() = default;
    LabelText& Add(std::string_view name, std::string_view value);
    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

// Sample lines of one part of the exposition (a host, an enclosure), one
// piece of text per family.
class SampleText {
  public:
    SampleText() = default;
    explicit SampleText(std::span<const FamilyInfo> families)
        : families_(families), chunks_(families.size()) {}
    void Add(size_t family, const LabelText& labels, double value);
    const std::string& chunk(size_t family) const { return chunks_[family]; }
    size_t families() const { return chunks_.size(); }

  private:
    std::span<const FamilyInfo> families_;
    std::vector<std::string> chunks_;
};

// Appends the exposition of `parts` to `out`: every family that has samples,
// in the order of `families`, its HELP and TYPE once, then its lines from
// each part in turn (the format wants a family's lines together).
void WriteExposition(std::span<const FamilyInfo> families, std::span<const SampleText* const> parts,
                     std::string& out);

}  // namespace halvorin::ctl
