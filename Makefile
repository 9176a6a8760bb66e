# Plain POSIX make, so that FreeBSD's make runs it too.
BUILD = build
ASAN_BUILD = build-asan
JOBS != getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2
ARGS =

.PHONY: deps build run test bench fuzz clean

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/vorn-spoa $(ARGS)

# Every test on the normal build, then the unit tests again under the address
# and undefined-behaviour sanitizers.
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=address,undefined >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-bench build-fuzz
