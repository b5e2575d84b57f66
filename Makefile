# The two commands a newcomer needs: `make demo` and `make check`. Both install what they need.
PRESET ?= default
BUILD   = build/$(PRESET)
JOBS   ?= $(shell nproc)
FUZZ_SECONDS ?= 60

DEB_PACKAGES = build-essential cmake ninja-build ccache pkg-config clang libclang-rt-14-dev \
  liblog4cplus-dev libicu-dev nlohmann-json3-dev libzmq3-dev cppzmq-dev \
  libcurl4-openssl-dev libssl-dev zlib1g-dev libsqlite3-dev sqlite3 libpugixml-dev libcli11-dev \
  libgtest-dev libgmock-dev libbenchmark-dev nginx curl

SUDO = $(shell [ "$$(id -u)" = 0 ] || echo sudo)

.PHONY: deps configure build check check-layers demo bench soak fuzz check-asan check-tsan check-threads clean deps-windows windows check-windows

deps:
	@missing=$$(for p in $(DEB_PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "installing:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	fi

configure: deps
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

# Only platform/ includes operating-system headers.
check-layers:
	@.ci/os-headers

check: PRESET = ci
check: check-layers build
	@ctest --preset $(PRESET) -j $(JOBS)

demo: build
	@$(BUILD)/bin/kva demo

bench: PRESET = release
bench: build
	@mkdir -p $(BUILD)/bench-results
	@set -e; for b in $(BUILD)/bin/bench_*; do \
	  echo "== $$(basename $$b)"; \
	  $$b --benchmark_out=$(BUILD)/bench-results/$$(basename $$b).json --benchmark_out_format=json; \
	done; echo "figures written under $(BUILD)/bench-results"

# A month of service time on a scaled clock against the suite's processes, in about three minutes.
soak: PRESET = release
soak: build
	@$(BUILD)/bin/soak_month

fuzz: PRESET = fuzz
fuzz: build
	@set -e; for f in $(BUILD)/bin/fuzz_*; do \
	  echo "== $$(basename $$f) for $(FUZZ_SECONDS)s"; \
	  mkdir -p $(BUILD)/corpus/$$(basename $$f); \
	  $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $(BUILD)/corpus/$$(basename $$f); \
	done

# LeakSanitizer is told about OpenSSL's allocations that live as long as the process.
check-asan:
	@$(MAKE) --no-print-directory build PRESET=asan
	@LSAN_OPTIONS=suppressions=$(CURDIR)/.ci/lsan.supp ctest --preset asan -j $(JOBS)

check-tsan:
	@$(MAKE) --no-print-directory build PRESET=tsan
	@TSAN_OPTIONS=halt_on_error=1 ctest --preset tsan -j $(JOBS)

# The Windows build: mingw-w64 cross compiler, the platform's tests run under Wine (on Xvfb when
# there is no display). Wine's registry lives in build/windows/wineprefix.
WIN_PACKAGES = cmake ninja-build ccache g++-mingw-w64-x86-64-posix mingw-w64-tools googletest \
  nlohmann-json3-dev wine wine64 xvfb xauth
WINE_ENV = WINEPREFIX=$(CURDIR)/build/windows/wineprefix WINEDEBUG=-all
WIN_BIN = build/windows/bin
XRUN = $(if $(DISPLAY),,xvfb-run -a)

deps-windows:
	@$(MAKE) --no-print-directory deps DEB_PACKAGES="$(WIN_PACKAGES)"

windows: deps-windows
	@cmake --preset windows >/dev/null
	@cmake --build build/windows -j $(JOBS)

check-windows: windows
	@mkdir -p build/windows/wineprefix
	@$(WINE_ENV) $(XRUN) sh -c 'wineboot -i >/dev/null 2>&1; ctest --preset windows -j 1'
	@# Volatile keys across a restart: Wine's end (its server saving the registry and
	@# exiting) is this machine's reboot.
	@cd $(WIN_BIN) && $(WINE_ENV) KVA_REBOOT_PHASE=1 WINEPATH="$$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll | xargs dirname);/usr/x86_64-w64-mingw32/lib" \
	  wine tests_platform_win32.exe --gtest_filter='Win32RebootTest.*' --gtest_brief=1
	@$(WINE_ENV) wineserver -w  # ends when its last program has; it saves all but the volatile keys
	@cd $(WIN_BIN) && $(WINE_ENV) KVA_REBOOT_PHASE=2 WINEPATH="$$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll | xargs dirname);/usr/x86_64-w64-mingw32/lib" \
	  wine tests_platform_win32.exe --gtest_filter='Win32RebootTest.*' --gtest_brief=1

clean:
	rm -rf build
