#include "shell/tree/host_presence.h"

#include "base/result_code.h"
#include "base/string_table.h"
#include "base/text_format.h"
#include "enclosure/model/ses_domain.h"
#include "enclosure/poll/event_rule.h"
#include "shell/events/operator_event.h"
#include "shell/theme/string_resources.h"
#include "shell/tree/enc_tree.h"

namespace halvorin {

namespace {

constexpr int kHostLost = 313;
constexpr int kHostBack = 314;
constexpr int kCannotResolve = 315;
constexpr int kRefusedOrUnreachable = 316;
constexpr int kNoAnswerInTime = 317;
constexpr int kClosed = 318;
constexpr int kNotAuthorised = 319;
constexpr int kAgentFull = 320;
constexpr int kEnclosureGone = 321;
constexpr int kEnclosureBack = 322;

QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace

QString HostFailureText(int result) {
    switch (result) {
        case kGeneralFailure:
            return LoadQString(kCannotResolve);
        case kConnectFailed:
            return LoadQString(kRefusedOrUnreachable);
        case kTimedOut:
            return LoadQString(kNoAnswerInTime);
        case kHelloRefused:
            return LoadQString(kNotAuthorised);
        case kAgentBusy:
            return LoadQString(kAgentFull);
        default:
            return LoadQString(kClosed);
    }
}

void HostPresence::Follow(CEncTree& tree) {
    for (int i = 0; i < tree.HostCount(); ++i) {
        CSesDomain* domain = tree.Host(i);
        if (!domain) continue;
        Seen& seen = hosts_[domain->host_name];
        FollowConnection(*domain, seen);
        FollowEnclosures(tree, *domain, seen);
    }
}

// A host is reported lost once: when it stops answering, or when the first
// attempt to reach it fails; back once it answers again.
void HostPresence::FollowConnection(CSesDomain& domain, Seen& seen) {
    const QString host = Q(domain.host_name);
    if (domain.client.state() == kStateReady) {
        if (seen.lost) AddOperatorEvent(kEventInformation, nullptr, kHostBack, {host});
        seen.lost = false;
        seen.reached = true;
        seen.problem.clear();
        return;
    }
    const int hello = domain.client.last_hello_result();
    const int failure = hello < 0 ? hello : domain.client.last_failure();
    if (seen.lost || (!seen.reached && failure == 0)) return;
    const QString reason = HostFailureText(failure);
    seen.problem = QString::fromStdU16String(
        FormatString(LoadString(kHostLost), {host.toStdU16String(), reason.toStdU16String()}));
    AddOperatorEvent(kEventWarning, nullptr, kHostLost, {host, reason});
    seen.lost = true;
    seen.reached = false;
}

// Enclosures are compared only while their host answers: a lost host keeps
// its enclosures in the tree, marked as no longer current.
void HostPresence::FollowEnclosures(CEncTree& tree, CSesDomain& domain, Seen& seen) {
    if (domain.client.state() != kStateReady) return;
    const QString host = Q(domain.host_name);
    for (const EnclosureChange& change : seen.enclosures.Follow(tree.SubEncsOf(&domain))) {
        const bool back = change.kind == EnclosureChange::Kind::kBack;
        AddOperatorEvent(back ? kEventInformation : kEventWarning, nullptr,
                         back ? kEnclosureBack : kEnclosureGone, {Q(change.name), host});
    }
}

QString HostPresence::Problem(CSesDomain* domain) const {
    if (!domain) return {};
    const auto found = hosts_.find(domain->host_name);
    return found == hosts_.end() ? QString() : found->second.problem;
}

}  // namespace halvorin
