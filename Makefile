# make run   - build and start TELVOX on the simulated network
# make test  - build and run every suite
# make bench - build and run the benchmarks (BENCH_SHORT=1: a few seconds each, as CI runs them)
BUILD ?= build
JOBS  ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps build test bench run clean

all: build

deps:
	@bash scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

export BENCH_SHORT
bench: build
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@n=0; for b in $(BUILD)/bench/*/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; n=$$((n + 1)); echo "== $$b"; \
	  QT_QPA_PLATFORM=offscreen $(if $(filter-out 0,$(BENCH_SHORT)),BENCHMARK_MIN_TIME=0.01) "$$b" || exit 1; \
	done; [ $$n -gt 0 ] || { echo "no benchmark program under $(BUILD)/bench"; exit 1; }

run: build
	@if [ -x $(BUILD)/dist/telvox ]; then cd $(BUILD)/dist && ./telvox; \
	else echo "build/dist is ready; the TELVOX program is not there yet."; fi

clean:
	rm -rf $(BUILD) build-asan build-tsan
