// The enclosure model: CSesDomain (one managed host) owns CSesDev objects (one
// per SES device), a device owns CSubEnc objects (one per sub-enclosure of its
// configuration), a sub-enclosure owns CSesElem objects (one per element).
//
// Objects are shared between the UI thread, the completion handlers that fill
// them and the firmware upgrade thread, so they are reference counted. The
// last release removes an object from its owner and destroys it; nobody
// deletes one directly. Each count is a plain integer changed only under one
// lock, and the locks nest in this order only:
//
//   ModelGlobalLock (domain counts, the domain list)  -> domain device lock
//   (device array, device counts) -> device mutex (flags, sub-enclosure map,
//   sub-enclosure counts) -> sub-enclosure mutex (element map, element
//   counts, per-type counters, text fields)
//
// No lock is held across a request. Who holds whom: a device holds one
// reference on its domain, a sub-enclosure one on its device; an element holds
// none on its sub-enclosure (whoever holds an element holds its sub-enclosure).
#pragma once

namespace halvorin {

class CSesObj {
  public:
    virtual ~CSesObj() = default;
    // The references held now; read it under the lock that guards it.
    int RefCount() const { return refs_; }

  private:
    friend class ModelCounts;
    int refs_ = 1;  // the owner's reference
};

}  // namespace halvorin
