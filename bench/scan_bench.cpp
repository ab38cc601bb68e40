// Every mode of the agent against its floor: for the scans, the bare listing (listing_floor) or
// the listing with one status per entry (listing_floor --status), whichever the mode must pay;
// for the health report, sha256sum over the same files and the report itself held to one core.
// Directories are made once and kept under WORKDIR.
//   scan_bench AGENT WORKDIR [ROUNDS]
#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "catalogue/content_pool.hpp"
#include "measure.hpp"

namespace {

using bench::finish;
using bench::median;
using bench::prepare;
using bench::runOnce;
using bench::Sample;

std::string dateText(int daysBefore) {
  const std::time_t when = 1796688000 - static_cast<std::time_t>(daysBefore) * 86400;  // 2026-12-08
  std::tm t{};
  ::gmtime_r(&when, &t);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &t);
  return text;
}

// Four backups per host, dated over a year, as a Huawei backup job leaves them.
void makeNameFieldTree(const std::string& dir, int entries) {
  if (!prepare(dir)) return;
  for (int i = 0; i < entries; ++i) {
    const int host = i / 4;
    const int days = (host * 7 + (i % 4) * 13) % 365;
    char name[96];
    std::snprintf(name, sizeof name, "%s.cfg.core-sw%06d.zip", dateText(days).c_str(), host);
    bm::test::makeFile(dir + "/" + name, 1796688000 - days * 86400 + 7200, 123456789);
  }
  finish(dir);
}

// One file per device, modified over a year.
void makeModificationTimeTree(const std::string& dir, int entries) {
  if (!prepare(dir)) return;
  for (int i = 0; i < entries; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "router-%07d.cfg", i);
    bm::test::makeFile(dir + "/" + name,
                       1796688000 - (static_cast<std::time_t>(i) * 157) % 31536000, 123456789);
  }
  finish(dir);
}

// Files of a given size with content that does not compress or repeat, for the health report.
// Written a chunk at a time: a child inherits its parent's peak memory in its own figure, so the
// bench itself must stay small.
void makeContentTree(const std::string& dir, int files, std::size_t bytes) {
  if (!prepare(dir)) return;
  std::vector<char> chunk(std::min<std::size_t>(bytes, std::size_t{1} << 20));
  std::uint64_t state = 88172645463325252ULL;
  for (int i = 0; i < files; ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "/router-%07d.cfg", i);
    std::FILE* file = std::fopen((dir + name).c_str(), "wbe");
    if (file == nullptr) throw std::runtime_error("cannot write " + dir + name);
    for (std::size_t left = bytes; left > 0;) {
      const std::size_t size = std::min(left, chunk.size());
      for (std::size_t k = 0; k < size; ++k) {  // xorshift64: cheap, and no two files alike
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        chunk[k] = static_cast<char>(state);
      }
      if (std::fwrite(chunk.data(), 1, size, file) != size) {
        throw std::runtime_error("cannot write " + dir + name);
      }
      left -= size;
    }
    if (std::fclose(file) != 0) throw std::runtime_error("cannot write " + dir + name);
  }
  finish(dir);
}

struct Command {
  std::string label;
  std::vector<std::string> argv;
};

struct Figures {
  double floorSeconds;  // medians
  double agentSeconds;
  long rssKiB;  // the agent's highest
  // The least of each: what the machine's other load adds to a run, never takes away, so on a
  // shared machine the ratio of the least times is the steadier one.
  double floorLeast;
  double agentLeast;
};

// One command against one floor, alternating, after a run of each to warm the caches: the
// medians of their CPU times (user and system, what the machine's other load barely moves), or
// of their wall times where the agent's work is spread over cores.
Figures alternate(const std::vector<std::string>& floorCommand, const Command& c, int rounds,
                  bool wall = false) {
  runOnce(floorCommand);
  runOnce(c.argv);
  std::vector<double> floor;
  std::vector<double> agentTimes;
  long rss = 0;
  for (int r = 0; r < rounds; ++r) {
    const Sample f = runOnce(floorCommand);
    floor.push_back(wall ? f.seconds : f.cpuSeconds);
    const Sample s = runOnce(c.argv);
    agentTimes.push_back(wall ? s.seconds : s.cpuSeconds);
    rss = std::max(rss, s.maxRssKiB);
  }
  return {median(floor), median(agentTimes), rss, *std::min_element(floor.begin(), floor.end()),
          *std::min_element(agentTimes.begin(), agentTimes.end())};
}

void print(const std::string& dir, const std::string& label, int entries, const char* floorName,
           const Figures& f) {
  std::printf(
      "%-22s %-18s %8d  %-14s %7.3f s  agent %7.3f s  ratio %5.2f (least %5.2f)  peak RSS %6.1f "
      "MiB",
      dir.substr(dir.rfind('/') + 1).c_str(), label.c_str(), entries, floorName, f.floorSeconds,
      f.agentSeconds, f.agentSeconds / f.floorSeconds, f.agentLeast / f.floorLeast,
      static_cast<double>(f.rssKiB) / 1024.0);
  // Per entry where the entries are what the memory holds: not for a few large files.
  if (entries >= 1000) {
    std::printf(" (%5.1f B/entry)", static_cast<double>(f.rssKiB) * 1024.0 / entries);
  }
  std::printf("\n");
  std::fflush(stdout);
}

// argv held to one core, the last this process may use. A virtual machine's cores are not alike
// (the first takes the interrupts, and ran a quarter slower here): every one-core figure, floor
// and agent alike, runs on the same one.
std::vector<std::string> onOneCore(const std::vector<std::string>& argv) {
  cpu_set_t set;
  CPU_ZERO(&set);
  int last = 0;
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &set)) last = cpu;
    }
  }
  std::vector<std::string> out{"/usr/bin/taskset", "-c", std::to_string(last)};
  out.insert(out.end(), argv.begin(), argv.end());
  return out;
}

// The agent's CPU time per scan mode, at 200,000 and 1,000,000 entries.
struct ScanTimes {
  double discovery;
  double collection;
};

// The scans of one directory. Discovery of a name-field directory needs only the listing, so the
// bare listing is its floor; every other scan reads each entry's status, so its floor is the
// listing plus one status per entry.
ScanTimes measureScan(const std::string& floorProgram, const std::string& agent,
                      const std::string& dir, int entries, int rounds, bool nameFields) {
  const std::vector<std::string> listing = onOneCore({floorProgram, dir});
  const std::vector<std::string> status = onOneCore({floorProgram, "--status", dir});
  const Command discovery{"descobertaBackups",
                          onOneCore({agent, "descobertaBackups", dir, "127.0.0.9", "debug"})};
  const Command collection{"coletarData",
                           onOneCore({agent, "coletarData", dir, "127.0.0.9", "debug"})};
  const Figures d = alternate(nameFields ? listing : status, discovery, rounds);
  print(dir, discovery.label, entries, nameFields ? "listing" : "listing+status", d);
  const Figures c = alternate(status, collection, rounds);
  print(dir, collection.label, entries, "listing+status", c);
  return {d.agentSeconds, c.agentSeconds};
}

// How time grows from 200,000 entries to a million: 1 is linear.
void printSlopes(const char* scheme, const ScanTimes& small, const ScanTimes& large) {
  const auto slope = [](double a, double b) { return std::log(b / a) / std::log(5.0); };
  std::printf(
      "%-22s slope from 200,000 to 1,000,000 entries: descobertaBackups %.2f, "
      "coletarData %.2f\n",
      scheme, slope(small.discovery, large.discovery), slope(small.collection, large.collection));
}

// The health report against sha256sum over the same files (wall time: both read every byte),
// and against itself held to one core: on n cores it should take a little over 1/n of that.
void measureHealth(const std::string& agent, const std::string& dir, int entries, int rounds) {
  const Command health{"coletarSaude", {agent, "coletarSaude", dir, "127.0.0.9", "debug"}};
  print(dir, health.label, entries, "sha256sum",
        alternate({"/usr/bin/find", dir, "-mindepth", "1", "-maxdepth", "1", "-exec", "sha256sum",
                   "{}", "+"},
                  health, rounds, true));
  const Figures f = alternate(onOneCore(health.argv), health, rounds, true);
  // What comes before the first file is read (the listing, each status, the order) is one
  // core's whatever the readers: coletarData makes the same.
  const std::vector<std::string> collection =
      onOneCore({agent, "coletarData", dir, "127.0.0.9", "debug"});
  std::vector<double> before;
  before.reserve(static_cast<std::size_t>(rounds));
  for (int r = 0; r < rounds; ++r) before.push_back(runOnce(collection).seconds);
  const double serial = median(before);
  const auto n = static_cast<int>(bm::usableCores());
  std::printf(
      "%-22s %-18s %8d  one core %7.3f s  on %d cores %7.3f s  ratio to 1/%d of one core %5.2f, "
      "to the bound with its listing (%.3f s) on one core %5.2f\n",
      dir.substr(dir.rfind('/') + 1).c_str(), health.label.c_str(), entries, f.floorSeconds, n,
      f.agentSeconds, n, f.agentSeconds * n / f.floorSeconds, serial,
      f.agentSeconds / ((f.floorSeconds - serial) / n + serial));
  std::fflush(stdout);
}

}  // namespace

// A failure to make the trees or run a program ends the benchmark with what went wrong.
int main(int argc, char** argv) try {
  if (argc < 3) {
    std::fprintf(stderr, "usage: scan_bench AGENT WORKDIR [ROUNDS]\n");
    return 2;
  }
  const std::string agent = argv[1];
  const std::string work = argv[2];
  const int rounds = argc > 3 ? std::atoi(argv[3]) : 7;
  ::mkdir(work.c_str(), 0755);
  const std::string floorProgram =
      (std::filesystem::path(argv[0]).parent_path() / "listing_floor").string();
  const std::string huawei = work + "/huawei-200000";
  const std::string huaweiMillion = work + "/huawei-1000000";
  const std::string plain = work + "/routers-200000";
  const std::string million = work + "/routers-1000000";
  makeNameFieldTree(huawei, 200000);
  makeNameFieldTree(huaweiMillion, 1000000);
  makeModificationTimeTree(plain, 200000);
  makeModificationTimeTree(million, 1000000);
  const std::string small = work + "/content-20000x20KiB";
  const std::string large = work + "/content-4x256MiB";
  makeContentTree(small, 20000, std::size_t{20} * 1024);
  makeContentTree(large, 4, std::size_t{256} * 1024 * 1024);

  std::printf(
      "CPU time, median of %d runs each (3 at a million entries), agent and floor "
      "alternating\n",
      rounds);
  const ScanTimes h = measureScan(floorProgram, agent, huawei, 200000, rounds, true);
  const ScanTimes hm = measureScan(floorProgram, agent, huaweiMillion, 1000000, 3, true);
  const ScanTimes r = measureScan(floorProgram, agent, plain, 200000, rounds, false);
  const ScanTimes rm = measureScan(floorProgram, agent, million, 1000000, 3, false);
  printSlopes("huawei", h, hm);
  printSlopes("routers", r, rm);
  std::printf("wall time, median of %d runs each\n", rounds);
  measureHealth(agent, small, 20000, rounds);
  measureHealth(agent, large, 4, rounds);
  return 0;
} catch (const std::exception& failure) {
  std::fprintf(stderr, "scan_bench: %s\n", failure.what());
  return 1;
}
