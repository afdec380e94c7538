// Writing a file so that a reader (or the next run) sees either the old
// content or the whole new one, never a truncated mix: the bytes go to a
// temporary file beside it, are flushed to disk and renamed over the target.
#pragma once

#include <string>
#include <string_view>

namespace halvorin {

// True when `path` now holds `content`; otherwise `error` says why and the
// file at `path`, if any, is as it was (the temporary file is removed).
bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error);

}  // namespace halvorin
