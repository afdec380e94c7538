// Reference counts and map membership: changed by the model's own files
// only, under the locks ses_obj.h names.
#pragma once

#include "enclosure/model/sub_enc.h"

namespace halvorin {

class ModelCounts {
  public:
    static int& Refs(CSesObj& object) { return object.refs_; }
    static bool& InMap(CSubEnc& subenc) { return subenc.in_map_; }
    static bool& InMap(CSesElem& element) { return element.in_map_; }
};

}  // namespace halvorin
