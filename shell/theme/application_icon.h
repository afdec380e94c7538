// The application's icon (icon resource 280) at every size the resources
// hold; an empty icon when they are missing.
#pragma once

#include <QIcon>

namespace halvorin {

QIcon ApplicationIcon();

}  // namespace halvorin
