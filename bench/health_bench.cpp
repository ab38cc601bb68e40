// The health report's reading with its completeness checks against the same reading without
// them, over the same zip backups: 20,000 of 20 KiB holding configuration text (inflated to
// about nine times that), 20,000 of 20 KiB and four of 256 MiB of content that does not compress.
// Each reading runs in a child of its own, so that its peak memory is its own. zlib's inflate alone
// over the same members is printed too: the floor under the checks.
//   health_bench WORKDIR [ROUNDS]
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/backup_content.hpp"
#include "measure.hpp"
#include "support/archives.hpp"
#include "support/temp_dir.hpp"

namespace {

using bench::median;
using bench::prepare;
using bench::runOnce;
using bench::Sample;

void write(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Configuration text sized so that its zip is about 20 KiB.
bool makeSmallZips(const std::string& dir, int files) {
  if (!prepare(dir)) return false;
  const std::size_t probe = std::size_t{100} * 1024;
  const std::size_t zipped =
      bm::test::zipArchive({{"running.cfg", bm::test::configurationText(probe, 1)}}).size();
  const std::size_t text = probe * 20 * 1024 / zipped;
  for (int i = 0; i < files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/sw-%06d.cfg.zip", i);
    write(dir + name, bm::test::zipArchive({{"running.cfg", bm::test::configurationText(
                                                                text, static_cast<unsigned>(i))}}));
  }
  bench::finish(dir);
  return true;
}

// Content that does not compress (as an image or an archive kept inside the backup is), in
// deflated members of up to 16 MiB: a 256 MiB configuration of text is not a thing a device has.
// Inflating it costs little, so what is left is the checks' own cost.
bool makeDenseZips(const std::string& dir, int files, std::size_t bytes) {
  if (!prepare(dir)) return false;
  std::uint64_t state = 88172645463325252ULL;
  const std::size_t memberSize = std::min(bytes, std::size_t{16} << 20);
  for (int i = 0; i < files; ++i) {
    std::vector<bm::test::ZipMember> members;
    for (std::size_t done = 0; done < bytes; done += memberSize) {
      std::string content(memberSize, '\0');
      for (char& c : content) {  // xorshift64
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        c = static_cast<char>(state);
      }
      members.push_back({"part" + std::to_string(done / memberSize), content});
    }
    char name[64];
    std::snprintf(name, sizeof name, "/image-%d.zip", i);
    write(dir + name, bm::test::zipArchive(members));
  }
  bench::finish(dir);
  return true;
}

// The floor of the checks: zlib alone inflating each small file's one member, read whole, with no
// hash, no CRC and no parsing beyond the local header.
int inflateAll(const std::string& dir) {
  std::vector<unsigned char> output(std::size_t{64} * 1024);
  std::uint64_t inflated = 0;
  z_stream z{};
  inflateInit2(&z, -MAX_WBITS);
  const std::string prefix = dir + '/';
  for (const std::string& name : bm::test::listingOrder(dir)) {
    std::ifstream in(prefix + name, std::ios::binary | std::ios::ate);
    std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const std::size_t start =
        30 + static_cast<unsigned char>(bytes[26]) + static_cast<unsigned char>(bytes[28]);
    inflateReset(&z);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data() + start));
    z.avail_in = static_cast<uInt>(bytes.size() - start);
    int result = Z_OK;
    while (result == Z_OK) {
      z.next_out = output.data();
      z.avail_out = static_cast<uInt>(output.size());
      result = inflate(&z, Z_NO_FLUSH);
      inflated += output.size() - z.avail_out;
    }
  }
  inflateEnd(&z);
  std::printf("%llu bytes inflated\n", static_cast<unsigned long long>(inflated));
  return 0;
}

// The child: every file of dir read once, as the health report reads it.
int readAll(const std::string& how, const std::string& dir) {
  bm::BackupContentReader reader(nullptr, how == "checks"
                                              ? bm::BackupContentReader::Checks::Completeness
                                              : bm::BackupContentReader::Checks::None);
  std::uint64_t bytes = 0;
  std::uint64_t incomplete = 0;
  const std::string prefix = dir + '/';
  for (const std::string& name : bm::test::listingOrder(dir)) {
    const bm::BackupContent content = reader.read(prefix + name);
    bytes += content.bytes;
    incomplete += content.completeness.incomplete.empty() ? 0 : 1;
  }
  std::printf("%llu bytes, %llu incomplete\n", static_cast<unsigned long long>(bytes),
              static_cast<unsigned long long>(incomplete));
  return incomplete == 0 ? 0 : 1;
}

void measure(const std::string& self, const std::string& dir, int rounds, bool floor) {
  const std::vector<std::string> none{self, "--read", "none", dir};
  const std::vector<std::string> checks{self, "--read", "checks", dir};
  runOnce(none);  // warm the caches
  runOnce(checks);
  std::vector<double> plainTimes;
  std::vector<double> checkTimes;
  long plainRss = 0;
  long checkRss = 0;
  for (int r = 0; r < rounds; ++r) {
    const Sample p = runOnce(none);
    const Sample c = runOnce(checks);
    plainTimes.push_back(p.seconds);
    checkTimes.push_back(c.seconds);
    plainRss = std::max(plainRss, p.maxRssKiB);
    checkRss = std::max(checkRss, c.maxRssKiB);
  }
  const double p = median(plainTimes);
  const double c = median(checkTimes);
  std::printf(
      "%-18s without checks %7.3f s  with checks %7.3f s  ratio %5.2f  "
      "peak RSS %6.1f / %6.1f MiB\n",
      dir.substr(dir.rfind('/') + 1).c_str(), p, c, c / p, static_cast<double>(plainRss) / 1024.0,
      static_cast<double>(checkRss) / 1024.0);
  if (!floor) return;
  std::vector<double> inflateTimes;
  inflateTimes.reserve(static_cast<std::size_t>(rounds));
  for (int r = 0; r < rounds; ++r)
    inflateTimes.push_back(runOnce({self, "--inflate", dir}).seconds);
  const double i = median(inflateTimes);
  std::printf("%-18s zlib's inflate alone %7.3f s: the checks cost %.2f times it\n", "", i,
              (c - p) / i);
}

}  // namespace

int main(int argc, char** argv) try {
  if (argc == 4 && std::strcmp(argv[1], "--read") == 0) return readAll(argv[2], argv[3]);
  if (argc == 3 && std::strcmp(argv[1], "--inflate") == 0) return inflateAll(argv[2]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: health_bench WORKDIR [ROUNDS]\n");
    return 2;
  }
  const std::string work = argv[1];
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  ::mkdir(work.c_str(), 0755);
  const std::string small = work + "/zips-20000x20KiB";
  const std::string dense = work + "/dense-20000x20KiB";
  const std::string large = work + "/zips-4x256MiB";
  const bool madeSmall = makeSmallZips(small, 20000);
  const bool madeDense = makeDenseZips(dense, 20000, std::size_t{20} * 1024);
  const bool madeLarge = makeDenseZips(large, 4, std::size_t{256} << 20);
  // A child's peak memory counts its parent's, and making the archives took a lot: start again.
  if (madeSmall || madeDense || madeLarge) ::execv(argv[0], argv);
  std::printf("health's reading, median of %d runs each, alternating\n", rounds);
  measure(argv[0], small, rounds, true);
  measure(argv[0], dense, rounds, false);
  measure(argv[0], large, rounds, false);
  return 0;
} catch (const std::exception& failure) {
  std::fprintf(stderr, "health_bench: %s\n", failure.what());
  return 1;
}
