#include "apps/halvorinctl/capture.h"
#include "apps/halvorinctl/command.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "apps/halvorinctl/action_support.h"
#include "apps/halvorinctl/enclosure_report.h"
#include "base/atomic_file.h"
#include "base/result_code.h"
#include "enclosure/model/ses_dev.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/model/sub_enc.h"
#include "enclosure/pages/cdb.h"
#include "enclosure/pages/request_kind.h"

namespace halvorin::ctl {

using nlohmann::json;

namespace {

constexpr int kReadTimeout = 30;

// A read that the device answered with an error is recorded as absent (the
// replay answers it with an error too); one that never reached the device
// makes the capture incomplete.
bool TransportFailure(int result) {
    return result == kTimedOut || result == kConnectionLost || result == kConnectionClosed ||
           result == kClosing || result == kNoResource || result == kOutOfMemory;
}

struct Answers {
    std::map<uint32_t, std::vector<uint8_t>> bytes;  // by read kind
    std::map<uint32_t, int> failures;
    size_t pending = 0;
};

std::string HexBytes(const std::vector<uint8_t>& bytes) {
    return Hex(bytes.data(), bytes.size());
}

// The devices of the host that report the enclosure `subenc` is part of
// (both expanders of a dual-path enclosure), the one read first.
std::vector<Ref<CSesDev>> DevicesReaching(CSubEnc* subenc) {
    const auto logical_id = SubEncInfo(subenc).logical_id;
    std::vector<Ref<CSesDev>> devices;
    devices.push_back(Ref<CSesDev>::Share(subenc->dev));
    for (Ref<CSesDev>& device : SnapshotDevices(subenc->dev->domain)) {
        if (device.get() == subenc->dev) continue;
        const std::vector<Ref<CSubEnc>> subencs = SnapshotSubEnclosures(device.get());
        const bool reaches = std::any_of(
            subencs.begin(), subencs.end(),
            [&](const Ref<CSubEnc>& s) { return SubEncInfo(s.get()).logical_id == logical_id; });
        if (reaches) devices.push_back(std::move(device));
    }
    return devices;
}

// ---- redaction ---------------------------------------------------------------------

// Replaces identifying values in the recorded bytes, each by the same fake
// wherever it appears, keeping lengths (and the NAA and OUI of identifiers).
class Redactor {
  public:
    void AddIdentifier(const std::string& hex) {
        if (hex.size() != 16 || hex == std::string(16, '0')) return;
        std::vector<uint8_t> bytes(8);
        for (size_t i = 0; i < 8; ++i)
            bytes[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
        identifiers_.insert(bytes);
    }
    void AddText(const std::string& text) {
        if (text.size() >= 4) texts_.insert(text);
    }
    // Fakes are handed out in sorted order of the originals: the same
    // enclosure gives the same capture every time.
    void Seal() {
        uint32_t n = 0;
        for (const auto& id : identifiers_) {
            std::vector<uint8_t> fake = id;
            ++n;
            fake[4] = 0xFA;
            fake[5] = 0xCE;
            fake[6] = static_cast<uint8_t>(n >> 8);
            fake[7] = static_cast<uint8_t>(n);
            fakes_.emplace_back(id, fake);
        }
        n = 0;
        for (const std::string& text : texts_) {
            // "X0000001": as long as the original, distinct for each.
            std::string digits = std::to_string(++n);
            if (digits.size() > text.size() - 1)
                digits = digits.substr(digits.size() - (text.size() - 1));
            const std::string fake =
                "X" + std::string(text.size() - 1 - digits.size(), '0') + digits;
            fakes_.emplace_back(std::vector<uint8_t>(text.begin(), text.end()),
                                std::vector<uint8_t>(fake.begin(), fake.end()));
        }
    }
    void Apply(std::vector<uint8_t>& bytes) const {
        for (const auto& [original, fake] : fakes_) {
            auto at = bytes.begin();
            while ((at = std::search(at, bytes.end(), original.begin(), original.end())) !=
                   bytes.end()) {
                std::copy(fake.begin(), fake.end(), at);
                at += static_cast<std::ptrdiff_t>(fake.size());
            }
        }
    }
    std::string ApplyHex(const std::string& hex) const {
        std::vector<uint8_t> bytes(hex.size() / 2);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
        Apply(bytes);
        return HexBytes(bytes);
    }

  private:
    std::set<std::vector<uint8_t>> identifiers_;
    std::set<std::string> texts_;
    std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> fakes_;
};

// Everything of the enclosures' reports that names one piece of hardware.
void CollectIdentifying(const json& value, Redactor& redactor) {
    if (value.is_object()) {
        for (const auto& [key, item] : value.items()) {
            if (item.is_string() &&
                (key == "wwn" || key == "device" || key == "id" || key == "sas_address"))
                redactor.AddIdentifier(item.get<std::string>());
            else if (item.is_string() && key == "serial")
                redactor.AddText(item.get<std::string>());
            else if (item.is_string() && key == "serial_hex")  // the bytes behind a mangled text
                redactor.AddText(BytesFromHex(item.get<std::string>()));
            else
                CollectIdentifying(item, redactor);
        }
    } else if (value.is_array()) {
        for (const json& item : value)
            CollectIdentifying(item, redactor);
    }
}

bool ReadEverything(ManagerSession& session, CSesDev* device, Answers& answers,
                    std::string& error) {
    auto shared = std::make_shared<Answers>();
    for (const ReadSource& read : kReadSources) {
        const auto cdb = CdbForKind(read.kind);
        const uint32_t kind = read.kind;
        const int sent = device->domain->client.SendScsiIn(
            device->Address(), *cdb, kReadTimeout,
            [shared, kind](std::span<const uint8_t> payload, int result) {
                if (result >= 0)
                    shared->bytes[kind].assign(payload.begin(), payload.end());
                else
                    shared->failures[kind] = result;
                --shared->pending;
            });
        if (sent < 0) {
            error = std::string("cannot send a read: ") + std::string(ResultCodeName(sent));
            return false;
        }
        ++shared->pending;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kReadTimeout + 5);
    while (shared->pending > 0 && std::chrono::steady_clock::now() < deadline &&
           !session.interrupted())
        session.WaitForNextStep();
    if (shared->pending > 0) {
        error = "the device did not answer every read";
        return false;
    }
    for (const auto& [kind, result] : shared->failures) {
        if (TransportFailure(result)) {
            error = std::string("a read did not reach the device: ") +
                    std::string(ResultCodeName(result));
            return false;
        }
    }
    answers = std::move(*shared);
    return true;
}

}  // namespace

std::optional<json> CaptureEnclosure(ManagerSession& session, CSubEnc* subenc, bool redact,
                                     std::string& error) {
    CSesDev* device = subenc->dev;
    Answers answers;
    if (!ReadEverything(session, device, answers, error)) return std::nullopt;
    const SubEncSummary info = SubEncInfo(subenc);

    Redactor redactor;
    if (redact) {
        CollectIdentifying(HostReport(device->domain, HostStatus{}), redactor);
        redactor.Seal();
    }
    json pages = json::object();
    json regions = json::object();
    for (const ReadSource& read : kReadSources) {
        auto found = answers.bytes.find(read.kind);
        if (found == answers.bytes.end()) continue;  // the device refused it: so will the replay
        std::vector<uint8_t> bytes = found->second;
        redactor.Apply(bytes);
        if (read.ses_page) {
            char key[3];
            std::snprintf(key, sizeof key, "%02X", read.code);
            pages[key] = HexBytes(bytes);
        } else {
            regions[std::to_string(read.code)] = HexBytes(bytes);
        }
    }
    json devices = json::array();
    for (const Ref<CSesDev>& d : DevicesReaching(subenc)) {
        const SES_ADDR address = d->Address();
        devices.push_back({{"id", redactor.ApplyHex(Hex(d->Identifier().data(), 8))},
                           {"path", address.bytes[72]},
                           {"target", address.bytes[73]},
                           {"lun", address.bytes[74]}});
    }
    const std::string name = redact ? "redacted capture" : "capture of " + DisplayName(subenc);
    return json{{"name", name},
                {"kind", "recorded"},
                {"logical_id", redactor.ApplyHex(Hex(info.logical_id.data(), 8))},
                {"vendor", info.vendor},
                {"product", info.product},
                {"revision", info.firmware_revision},
                {"devices", devices},
                {"recorded", {{"pages", pages}, {"vendor_buffer", regions}}}};
}

int RunCapture(ManagerSession& session, const std::string& enclosure, const std::string& output,
               bool redact, int timeout_s) {
    const auto statuses = session.WaitUntilRead(std::chrono::seconds(timeout_s));
    const EnclosureMatch match = FindEnclosure(session, enclosure);
    if (!match.subenc) return ReportNotFound(match, enclosure, statuses);
    Ref<CSubEnc> subenc = match.subenc;
    std::string error;
    const auto scenario = CaptureEnclosure(session, subenc.get(), redact, error);
    if (!scenario) {
        std::fprintf(stderr, "halvorinctl: capturing %s failed: %s\n", enclosure.c_str(),
                     error.c_str());
        return 2;
    }
    const std::string text = scenario->dump(2) + "\n";
    if (output == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    // An existing file stays as it was until the whole capture is written.
    if (!WriteFileAtomically(output, text, error)) {
        std::fprintf(stderr, "halvorinctl: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", output.c_str());
    return 0;
}

extern const Command kCommandCapture = {
    "capture",
    "  capture ENCLOSURE -o FILE [--redact]\n"
    "                                record what the enclosure's device answers as a\n"
    "                                scenario for halvorin-agentd --simulate (--redact\n"
    "                                replaces serial numbers, SAS addresses and WWNs)\n",
    {kOptOutput, kOptRedact},
    [](const CommandLine& line) {
        return line.words.size() != 2 || line.output.empty()
                   ? std::string("capture needs an ENCLOSURE and -o FILE")
                   : "";
    },
    [](ManagerSession& session, const CommandLine& line) {
        return RunCapture(session, line.words[1], line.output, line.redact, line.timeout_s);
    },
};

}  // namespace halvorin::ctl
