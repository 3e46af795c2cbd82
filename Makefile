# make run   - build and start TELVOX on the simulated network
# make test  - build and run every suite
# make bench - build and run the benchmarks
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

bench: build
	cmake --build $(BUILD) -j $(JOBS) --target benchmarks
	@for b in $(BUILD)/bench/bench_*; do [ -x "$$b" ] && { echo "== $$b"; "$$b" || exit 1; }; done

smoke: build
	@bash scripts/install-deps desktop
	bash tests/desktop/smoke.sh $(BUILD)

run: build
	@if [ -x $(BUILD)/dist/telvox ]; then cd $(BUILD)/dist && ./telvox; \
	else echo "build/dist is ready; the TELVOX program is not there yet."; fi

clean:
	rm -rf $(BUILD) build-asan build-tsan
