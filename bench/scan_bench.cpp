// Every mode of the agent against its floor: for the scans, one listing and one status per
// entry, as `find -printf '%f %T@'` pays them; for the health report, sha256sum over the same
// files. Directories are made once and kept under WORKDIR.
//   scan_bench AGENT WORKDIR [ROUNDS]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

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

// The commands of one directory, each against one floor, alternating.
void measure(const std::string& dir, int entries, int rounds,
             const std::vector<std::string>& floorCommand, const std::vector<Command>& commands) {
  runOnce(floorCommand);  // warm the caches
  for (const Command& c : commands) {
    runOnce(c.argv);
    std::vector<double> floor;
    std::vector<double> agentTimes;
    long rss = 0;
    for (int r = 0; r < rounds; ++r) {
      floor.push_back(runOnce(floorCommand).seconds);
      const Sample s = runOnce(c.argv);
      agentTimes.push_back(s.seconds);
      rss = std::max(rss, s.maxRssKiB);
    }
    const double f = median(floor);
    const double a = median(agentTimes);
    std::printf(
        "%-28s %-18s %9d  floor %7.3f s  agent %7.3f s  ratio %5.2f  peak RSS %7.1f MiB "
        "(%5.1f B/entry)\n",
        dir.substr(dir.rfind('/') + 1).c_str(), c.label.c_str(), entries, f, a, a / f,
        static_cast<double>(rss) / 1024.0, static_cast<double>(rss) * 1024.0 / entries);
  }
}

// The scan's floor: one listing and one status per entry.
void measureScan(const std::string& agent, const std::string& dir, int entries, int rounds) {
  measure(dir, entries, rounds,
          {"/usr/bin/find", dir, "-mindepth", "1", "-maxdepth", "1", "-printf", "%f %T@\n"},
          {{"descobertaBackups", {agent, "descobertaBackups", dir, "127.0.0.9", "debug"}},
           {"coletarData", {agent, "coletarData", dir, "127.0.0.9", "debug"}}});
}

// The health report's floor: sha256sum over the same files.
void measureHealth(const std::string& agent, const std::string& dir, int entries, int rounds) {
  measure(
      dir, entries, rounds,
      {"/usr/bin/find", dir, "-mindepth", "1", "-maxdepth", "1", "-exec", "sha256sum", "{}", "+"},
      {{"coletarSaude", {agent, "coletarSaude", dir, "127.0.0.9", "debug"}}});
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
  const std::string huawei = work + "/huawei-200000";
  const std::string plain = work + "/routers-200000";
  const std::string million = work + "/routers-1000000";
  makeNameFieldTree(huawei, 200000);
  makeModificationTimeTree(plain, 200000);
  makeModificationTimeTree(million, 1000000);
  const std::string small = work + "/content-20000x20KiB";
  const std::string large = work + "/content-4x256MiB";
  makeContentTree(small, 20000, std::size_t{20} * 1024);
  makeContentTree(large, 4, std::size_t{256} * 1024 * 1024);

  std::printf("median of %d runs each, agent and floor alternating\n", rounds);
  measureScan(agent, huawei, 200000, rounds);
  measureScan(agent, plain, 200000, rounds);
  measureScan(agent, million, 1000000, 3);
  measureHealth(agent, small, 20000, rounds);
  measureHealth(agent, large, 4, rounds);
  return 0;
} catch (const std::exception& failure) {
  std::fprintf(stderr, "scan_bench: %s\n", failure.what());
  return 1;
}
