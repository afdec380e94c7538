// Counted references on every kind of model object, with the declarations
// of the objects themselves.
#pragma once

#include "enclosure/model/domain_registry.h"
#include "enclosure/model/ref.h"
