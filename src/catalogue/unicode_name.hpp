#pragma once

#include <string>
#include <string_view>

namespace bm {

// A file name field as hosts and dates are shown: undecodable bytes become U+FFFD, Unicode
// white space (and U+001C..U+001F) is trimmed from both ends, and the rest is upper-cased with
// the full Unicode mapping of the root locale, whatever the process locale is.
std::string trimmedUpper(std::string_view raw);

// The same into out, whose room is kept: a scan makes one name after another without allocating.
void trimmedUpper(std::string_view raw, std::string& out);

}  // namespace bm
