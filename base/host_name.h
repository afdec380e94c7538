// This computer's names as the protocol uses them.
#pragma once

#include <string>

namespace halvorin {

// The host name as the operating system reports it (may be fully qualified).
std::u16string FullComputerName();

// The name a manager says hello with: the first label of the host name, at
// most 15 characters (the size of the classic computer-name buffer).
std::u16string ManagerComputerName();

}  // namespace halvorin
