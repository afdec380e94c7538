// A device of an offline domain, ready for pages to be applied to it.
#pragma once

#include "enclosure/model/element_types.h"
#include "enclosure/pages/configuration_decoder.h"
#include "enclosure/pages/status_element.h"
#include "tests/support/model_fixture.h"
#include "tests/support/test_pages.h"

namespace halvorin::test {

class PagesTest : public ModelTest {
  protected:
    void SetUp() override {
        ModelTest::SetUp();
        dev_ = Ref<CSesDev>::Adopt(AddDevice(domain_, DeviceAddress(1)));
    }
    void TearDown() override {
        SetStatusEventHook(nullptr, nullptr);
        dev_.reset();
        ModelTest::TearDown();
    }
    int Configure(const std::vector<TypeDescription>& types, uint32_t generation = 1,
                  const std::vector<std::string>& texts = {},
                  const std::vector<SubEncSpec>& subs = {{}}) {
        return ApplyConfiguration(dev_.get(), ConfigurationPage(generation, subs, types),
                                  ElementDescriptorPage(generation, types, texts));
    }
    CSubEnc* Sub(uint8_t id = 0) {
        CSubEnc* s = AcquireSubEnc(dev_.get(), id);
        if (s) ReleaseSubEnc(s);  // the map keeps it; tests only look
        return s;
    }
    CSesElem* Elem(uint8_t tdi, uint8_t ei, uint8_t sub = 0) {
        CSesElem* e = AcquireElem(Sub(sub), tdi, ei);
        if (e) ReleaseElem(e);
        return e;
    }

    Ref<CSesDev> dev_;
};

// Records the state bits the status hook reports.
struct RaisedBits {
    static void Record(CSesElem* element, uint32_t bit, void* context) {
        static_cast<RaisedBits*>(context)->events.push_back({element, bit});
    }
    std::vector<std::pair<CSesElem*, uint32_t>> events;
};

}  // namespace halvorin::test
