#include "enclosure/model/ref.h"

#include "enclosure/model/domain_registry.h"

namespace halvorin {

void Retain(CSesDomain* object) {
    RetainDomain(object);
}
void Release(CSesDomain* object) {
    ReleaseDomain(object);
}
void Retain(CSesDev* object) {
    RetainDevice(object);
}
void Release(CSesDev* object) {
    ReleaseDevice(object);
}
void Retain(CSubEnc* object) {
    RetainSubEnc(object);
}
void Release(CSubEnc* object) {
    ReleaseSubEnc(object);
}
void Retain(CSesElem* object) {
    RetainElem(object);
}
void Release(CSesElem* object) {
    ReleaseElem(object);
}

}  // namespace halvorin
