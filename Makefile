# make run   - build and start TELVOX on the simulated network
# make test  - build and run every suite
# make bench - build and run the benchmarks (BENCH_SHORT=1: a few seconds each, as CI runs them)
# make smoke - build and drive the program on a virtual desktop (screenshots in build/smoke)
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test bench smoke run clean

all: build

deps:
	@bash scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# make test-locale - the suites that write or read numbers once more under a comma locale
LOCALE_SUITES = ^(rtl_tests|app_core_tests|app_core_helpers_tests|sim_tests|windows_logic_test|windows_nodes_tests|windows_tree_tests|windows_msglog_tests)$$
.PHONY: test-locale
test-locale: build
	@bash scripts/install-deps locales
	@locale -a | grep -qix 'it_IT.utf-\?8' || { echo "it_IT.UTF-8 is not installed" >&2; exit 1; }
	cd $(BUILD) && LC_ALL=it_IT.UTF-8 ctest --output-on-failure -j $(JOBS) -R '$(LOCALE_SUITES)'

export BENCH_SHORT
bench: build
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@n=0; for b in $(BUILD)/bench/*/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; n=$$((n + 1)); echo "== $$b"; \
	  QT_QPA_PLATFORM=offscreen $(if $(filter-out 0,$(BENCH_SHORT)),BENCHMARK_MIN_TIME=0.01) "$$b" || exit 1; \
	done; [ $$n -gt 0 ] || { echo "no benchmark program under $(BUILD)/bench"; exit 1; }

# make vcan - the SocketCAN checks in a test machine (qemu, Debian's kernel, vcan0): tests/vcan/run.sh
.PHONY: vcan
vcan: deps $(BUILD)/CMakeCache.txt
	@bash scripts/install-deps vcan
	cmake -S . -B $(BUILD) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target board_tests vcan_tests Xat11reg
	bash tests/vcan/run.sh $(BUILD)

smoke: build
	@bash scripts/install-deps desktop
	bash tests/desktop/smoke.sh $(BUILD)

run: build
	@if [ -x $(BUILD)/dist/telvox ]; then cd $(BUILD)/dist && ./telvox; \
	else echo "build/dist is ready; the TELVOX program is not there yet."; fi

clean:
	rm -rf $(BUILD) build-asan build-tsan
