#pragma once

#include <string>
#include <string_view>

namespace bm {

// A discovered name as the server writes it into an item key parameter: quoted, with each '"'
// as \", when it starts with '"', ' ' or '[' or holds ',' or ']'; unchanged otherwise. A key
// built any other way from such a name matches no discovered item.
std::string itemKeyParameter(std::string_view name);

}  // namespace bm
