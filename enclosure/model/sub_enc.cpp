#include "enclosure/model/sub_enc.h"

#include <algorithm>
#include <new>

#include "enclosure/model/element_condition.h"
#include "enclosure/model/element_naming.h"
#include "enclosure/model/element_types.h"
#include "enclosure/model/model_counts.h"

namespace halvorin {

namespace {

void CountIn(CSubEnc& s, const CSesElem& e) {
    if (e.type < kCountedTypes) ++s.counters[e.type].count;
}

// A leaving element takes its failure with it, or the overview would show a
// fault that no longer exists.
void CountOut(CSubEnc& s, const CSesElem& e) {
    if (e.type >= kCountedTypes) return;
    --s.counters[e.type].count;
    if (IsFault(e)) --s.counters[e.type].failed;
}

// Under the sub-enclosure mutex: the element leaves the map and its counters.
void TakeOutOfMap(CSubEnc& subenc, CSesElem& element) {
    CountOut(subenc, element);
    subenc.elements.erase(element.key());
    ModelCounts::InMap(element) = false;
}

}  // namespace

CSubEnc::CSubEnc(CSesDev* device, uint8_t identifier, const std::array<uint8_t, 8>& logical)
    : dev(device), id(identifier), logical_id(logical) {}

CSubEnc::~CSubEnc() {
    for (auto& [key, element] : elements)
        delete element;
}

CSesElem* AcquireElem(CSubEnc* subenc, uint8_t type_desc_index, uint8_t element_index) {
    if (subenc == nullptr) return nullptr;  // a type descriptor whose sub-enclosure has gone
    std::lock_guard lock(subenc->mutex);
    auto it = subenc->elements.find(ElementKey(type_desc_index, element_index));
    if (it == subenc->elements.end()) return nullptr;
    ++ModelCounts::Refs(*it->second);
    return it->second;
}

void RetainElem(CSesElem* element) {
    std::lock_guard lock(element->subenc->mutex);
    ++ModelCounts::Refs(*element);
}

void ReleaseElem(CSesElem* element) {
    CSubEnc* subenc = element->subenc;
    {
        std::lock_guard lock(subenc->mutex);
        if (--ModelCounts::Refs(*element) > 0) return;
        if (ModelCounts::InMap(*element)) TakeOutOfMap(*subenc, *element);
    }
    delete element;
}

void SweepElements(CSubEnc* subenc, const std::vector<uint32_t>& keep) {
    std::vector<CSesElem*> dead;
    {
        std::lock_guard lock(subenc->mutex);
        std::vector<CSesElem*> leaving;
        for (auto& [key, element] : subenc->elements) {
            if (std::find(keep.begin(), keep.end(), key) == keep.end()) leaving.push_back(element);
        }
        for (CSesElem* element : leaving) {
            TakeOutOfMap(*subenc, *element);
            if (--ModelCounts::Refs(*element) == 0) dead.push_back(element);
        }
    }
    for (CSesElem* element : dead)
        delete element;
}

CSesElem* GetOrCreateElem(CSubEnc* subenc, uint8_t type_desc_index, uint8_t element_index,
                          uint8_t type, std::span<const uint8_t> descriptor) {
    CSesElem* element = nullptr;
    CSesElem* replaced = nullptr;
    {
        std::lock_guard lock(subenc->mutex);
        auto it = subenc->elements.find(ElementKey(type_desc_index, element_index));
        if (it != subenc->elements.end() && it->second->type == type) {
            element = it->second;
            ++ModelCounts::Refs(*element);
        } else if (it != subenc->elements.end()) {
            // The key now names an element of another type: the old one leaves.
            replaced = it->second;
            TakeOutOfMap(*subenc, *replaced);
            if (--ModelCounts::Refs(*replaced) > 0) replaced = nullptr;
        }
    }
    delete replaced;
    if (!element) {
        std::unique_ptr<CSesElem> fresh(new (std::nothrow)
                                            CSesElem(subenc, type_desc_index, element_index, type));
        if (!fresh) return nullptr;
        if (HasHistory(type)) {
            fresh->history.reset(new (std::nothrow) HistoryRing);
            if (!fresh->history) return nullptr;
        }
        fresh->name = DefaultElementName(type, element_index);
        std::lock_guard lock(subenc->mutex);
        auto [it, inserted] = subenc->elements.emplace(fresh->key(), fresh.get());
        element = it->second;
        if (inserted) {
            CountIn(*subenc, *fresh);
            fresh.release();  // the map owns it now
        }
        ++ModelCounts::Refs(*element);  // the caller's
    }
    if (!descriptor.empty()) NameFromDescriptor(element, descriptor);
    return element;
}

std::vector<Ref<CSesElem>> ElementsOfType(CSubEnc* subenc, uint8_t type_desc_index) {
    std::vector<Ref<CSesElem>> found;
    {
        std::lock_guard lock(subenc->mutex);
        for (auto& [key, element] : subenc->elements) {
            if (element->type_desc_index != type_desc_index) continue;
            ++ModelCounts::Refs(*element);
            found.push_back(Ref<CSesElem>::Adopt(element));
        }
    }
    std::sort(found.begin(), found.end(), [](const Ref<CSesElem>& a, const Ref<CSesElem>& b) {
        return a->element_index < b->element_index;
    });
    return found;
}

SubEncSummary SubEncInfo(const CSubEnc* subenc) {
    std::lock_guard lock(subenc->mutex);
    SubEncSummary s;
    s.vendor = subenc->vendor;
    s.product = subenc->product;
    s.firmware_revision = subenc->firmware_revision;
    s.system_name = subenc->system_name;
    s.logical_id = subenc->logical_id;
    s.counters = subenc->counters;
    s.indicators = subenc->indicators;
    return s;
}

std::u16string ElementName(const CSesElem* element) {
    std::lock_guard lock(element->subenc->mutex);
    return element->name;
}

std::string ElementDescriptor(const CSesElem* element) {
    std::lock_guard lock(element->subenc->mutex);
    return element->descriptor;
}

}  // namespace halvorin
