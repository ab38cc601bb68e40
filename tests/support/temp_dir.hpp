#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace bm::test {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Creates (or empties) a file and sets its modification time exactly.
void makeFile(const std::string& path, std::time_t seconds = 1700000000, long nanoseconds = 0);
void setModificationTime(const std::string& path, std::time_t seconds, long nanoseconds = 0);
void makeDirectory(const std::string& path);

// The names of a directory in the order the file system lists them, "." and ".." left out.
std::vector<std::string> listingOrder(const std::string& directory);

// A local time stamp in the zone every test pins: UTC-3 all year, no daylight saving.
inline constexpr const char* kTestZone = "<-03>3";
std::time_t utcSeconds(int year, int month, int day, int hour, int minute, int second = 0);

}  // namespace bm::test
