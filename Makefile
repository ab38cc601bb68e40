# The two commands of the README, and the builds behind them.
JOBS ?= $(shell nproc)
CTEST = ctest --output-on-failure -j$(JOBS) --test-dir

.PHONY: all deps deps-server build package package-check screenshots demo sandbox check test lint bench fuzz fuzz-build fuzz-short clean

all: build

deps:
	@scripts/install-deps

# The real-server test's packages; it runs only as root, so only root installs them.
deps-server: deps
	@if [ "$$(id -u)" -eq 0 ]; then scripts/zabbix-sandbox deps; fi

build: deps
	@cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DBM_TESTS=OFF >/dev/null
	@cmake --build build/release -j$(JOBS) >/dev/null

demo: build
	@scripts/demo build/release/src/cli/backup-monitor

# The Debian package, and a check that it installs and runs (root; installs, then removes it).
package: deps
	@scripts/install-deps dpkg-dev file
	@cmake -S . -B build/package -DCMAKE_BUILD_TYPE=Release -DBM_TESTS=OFF \
	  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
	@cmake --build build/package -j$(JOBS) >/dev/null
	@cd build/package && cpack >/dev/null && ls -1 $$PWD/backup-monitor_*.deb

package-check:
	@scripts/package-check

# The README's screenshots of the sandbox's frontend (root; installs chromium).
screenshots: build
	@scripts/screenshots build/release/src/cli/backup-monitor

# A private Zabbix server on 127.0.0.1:10052 with the examples delivered into it: Zabbix 6.0,
# or make sandbox ZABBIX=7.0.
ZABBIX ?= 6.0
sandbox: build
	@BM_ZABBIX_VERSION=$(ZABBIX) scripts/sandbox-demo build/release/src/cli/backup-monitor

# Every test twice, warnings as errors, then under AddressSanitizer and UBSan; then a short
# run of every fuzz target. The tests against real Zabbix processes run once, in the first build:
# they prove the agent's traffic, which the sanitizers do not change.
check: deps-server lint
	cmake -S . -B build/werror -DBM_WERROR=ON
	cmake --build build/werror -j$(JOBS)
	$(CTEST) build/werror
	cmake -S . -B build/asan -DBM_WERROR=ON -DBM_SANITIZE=ON
	cmake --build build/asan -j$(JOBS)
	$(CTEST) build/asan -LE 'real-server|release'
	$(MAKE) --no-print-directory fuzz-short

# The quick loop while developing: one build, every test.
test: deps-server
	cmake -S . -B build/werror -DBM_WERROR=ON
	cmake --build build/werror -j$(JOBS)
	$(CTEST) build/werror

# The house's checks of the text itself: formatting, clang-tidy on the program's sources, the
# tests' support and the benchmarks (with the checks in .clang-tidy, every finding an error) and
# shellcheck on every shell script (the sandbox's rooms through the script that sources them).
SHELL_SCRIPTS = .ci/run scripts/demo scripts/fuzz scripts/install-deps scripts/package-check \
  scripts/release-check scripts/sandbox-demo scripts/screenshots scripts/zabbix-sandbox \
  tests/integration/*.sh bench/*.sh
lint: deps
	@scripts/install-deps clang-format clang-tidy shellcheck
	@cmake -S . -B build/lint -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DBM_BENCH=ON >/dev/null
	@find src tests bench fuzz -name '*.cpp' -o -name '*.hpp' | xargs clang-format --dry-run -Werror
	@find src tests/support bench -name '*.cpp' | xargs -P$(JOBS) -n4 clang-tidy -p build/lint --quiet \
	  --warnings-as-errors='*' 2>/dev/null
	@shellcheck -x -P SCRIPTDIR $(SHELL_SCRIPTS)
	@echo "lint: clean"

# Benchmarks: run on demand, never by make check; they print ratios against a floor measured in
# the same run.
bench: deps
	@cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DBM_TESTS=OFF -DBM_BENCH=ON >/dev/null
	@cmake --build build/bench -j$(JOBS) >/dev/null
	build/bench/bench/delivery_bench 10000
	build/bench/bench/scan_bench build/bench/src/cli/backup-monitor $${TMPDIR:-/tmp}/backup-monitor-bench
	build/bench/bench/health_bench $${TMPDIR:-/tmp}/backup-monitor-bench
	bench/inventory_bench.sh build/bench/src/cli/backup-monitor

# The fuzz targets need clang (libFuzzer), in a build of their own.
FUZZ_RUNS ?= 10000000
fuzz-build: deps
	@CXX=clang++ cmake -S . -B build/fuzz -DBM_WERROR=ON -DBM_TESTS=OFF -DBM_FUZZ=ON >/dev/null
	@cmake --build build/fuzz -j$(JOBS) >/dev/null

fuzz: fuzz-build
	scripts/fuzz -runs=$(FUZZ_RUNS)

fuzz-short: fuzz-build
	scripts/fuzz -max_total_time=20

clean:
	rm -rf build
