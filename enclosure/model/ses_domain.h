// CSesDomain: one managed host, its connection (an embedded CSesClient) and
// the SES devices found on it. The device lock guards the device array and
// every device's reference count. Poll-step fields (deadlines, request flags,
// last connection state) belong to the thread that runs the poll step.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "enclosure/model/ses_dev.h"
#include "net/client/ses_client.h"

namespace halvorin {

class DomainRegistry;

inline constexpr int kDefaultRequestTimeout = 30;
enum DomainRequestFlag : int { kEnumerationOutstanding = 0x01 };

class CSesDomain final : public CSesObj {
  public:
    CSesDomain(DomainRegistry* registry, std::u16string host_name, const ClientOptions& options);
    ~CSesDomain() override;

    DomainRegistry* const registry;
    const std::u16string host_name;  // the key the registry finds it by
    Clock& clock;
    int64_t device_list_deadline;
    int64_t last_full_refresh;
    int request_flags = 0;
    int request_timeout = kDefaultRequestTimeout;
    CSesClient client;
    bool reads_when_ready = false;  // the client asks for the device list once ready
    int last_connection_state = kStateConstructed;
    int device_list_replies = 0;  // successful device-list replies so far
    std::mutex device_lock;
    std::vector<CSesDev*> devices;  // in order of discovery
};

// ---- device references -------------------------------------------------------------

// The device with that identifier, not flagged removed, gains a reference.
CSesDev* AcquireDevice(CSesDomain* domain, const DeviceId& id);
void RetainDevice(CSesDev* device);
// At zero the device leaves the array, is destroyed and releases its domain.
void ReleaseDevice(CSesDev* device);
// Every device not flagged removed.
std::vector<Ref<CSesDev>> SnapshotDevices(CSesDomain* domain);

// Creates a device for an address and adds it (its array reference holds one
// on the domain), unless a device with that identifier appeared meanwhile.
// Returns the device in the array with one more reference for the caller, and
// whether it is the new one.
CSesDev* AddDevice(CSesDomain* domain, const SES_ADDR& address, bool* created = nullptr);

// The device no longer exists on its host: flag 0x08, and its sub-enclosures
// are released. A running firmware upgrade is not waited for: its requests
// fail and the upgrade thread ends on its own.
void MarkDeviceRemoved(CSesDev* device);

// Every sub-enclosure of every device whose first read chain has finished;
// an enclosure reached through two devices (same logical identifier)
// appears once, under the first.
std::vector<Ref<CSubEnc>> CollectSubEnclosures(CSesDomain* domain);

}  // namespace halvorin
