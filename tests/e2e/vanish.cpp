// Preloaded into the program by a test: removes the entry named by $BM_VANISH from its directory
// just before the program reads that entry's status, as a rotation job running beside it would
// between the listing and the status. Every other call goes through untouched.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

using StatusCall = int (*)(int, const char*, struct stat*, int);

int removeThenCall(const char* symbol, int directory, const char* name, struct stat* status,
                   int flags) {
  const char* vanish = std::getenv("BM_VANISH");
  if (vanish != nullptr && std::strcmp(name, vanish) == 0) ::unlinkat(directory, name, 0);
  const auto next = reinterpret_cast<StatusCall>(::dlsym(RTLD_NEXT, symbol));
  return next(directory, name, status, flags);
}

}  // namespace

extern "C" int fstatat(int directory, const char* name, struct stat* status, int flags) {
  return removeThenCall("fstatat", directory, name, status, flags);
}

extern "C" int fstatat64(int directory, const char* name, struct stat64* status, int flags) {
  return removeThenCall("fstatat64", directory, name, reinterpret_cast<struct stat*>(status),
                        flags);
}
