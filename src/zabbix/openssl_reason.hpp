#pragma once

#include <string>

namespace bm {

// What OpenSSL said first (the cause; later entries only say where it went up), with its queue
// of errors emptied.
std::string opensslReason();

}  // namespace bm
