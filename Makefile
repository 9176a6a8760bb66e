# Plain POSIX make, so that FreeBSD's make runs it too.
BUILD = build
ASAN_BUILD = build-asan
JOBS != getconf _NPROCESSORS_ONLN 2>/dev/null || echo 2
ARGS =
FUZZ_SECONDS = 60
# clang++19 on FreeBSD
FUZZ_CXX = clang++-19
# The second compiler of make test (with libc++): Debian's clang++-19 or
# FreeBSD's clang++19.
CLANG_CHECK != command -v clang++-19 || command -v clang++19 || echo clang++-19
PREFIX = /usr/local
DESTDIR =

.PHONY: deps build run demo test bench fuzz install uninstall package clean

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/vorn-spoa $(ARGS)

# HAProxy, vorn-spoa (--challenge=on) and vorn-gate on loopback with a
# throwaway key; prints the URL to open. Ctrl-C stops everything.
demo: build
	@scripts/demo $(BUILD)

# Every test on the normal build, built with warnings as errors and checked
# with clang and libc++ as well; the HAProxy tests against every HAProxy
# Debian ships (scripts/fetch-haproxy fetches those the machine lacks, or
# says why it cannot); then the unit tests again under the address and
# undefined-behaviour sanitizers.
test: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_WERROR=ON \
	    -DVORN_CLANG_CHECK=$(CLANG_CHECK) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	@cmake --build $(BUILD) -j $(JOBS) --target clang_check
	@scripts/fetch-haproxy
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVORN_SANITIZE=address,undefined \
	    -DVORN_WERROR=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS) --target unit_tests
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) -L unit

# Timings of every stage of the request path, one table. The load generator
# build-bench/vorn-load drives a daemon that is already running.
bench: deps
	@cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVORN_BENCH=ON >/dev/null
	@cmake --build build-bench -j $(JOBS) --target benchmarks
	build-bench/vorn-bench

# libFuzzer on everything that reads untrusted bytes, FUZZ_SECONDS each. New
# inputs go to build-fuzz/corpus; fuzz/corpus holds the seeds.
fuzz:
	@scripts/install-deps fuzz
	@CXX=$(FUZZ_CXX) cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORN_FUZZ=ON -DVORN_TESTS=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_cut_frame fuzz_kv_reader fuzz_handle_notify \
	    fuzz_receipt_check fuzz_receipt_keys fuzz_model_parser fuzz_gate_request
	for f in cut_frame kv_reader handle_notify receipt_check receipt_keys model_parser gate_request; do \
	    mkdir -p build-fuzz/corpus/$$f && \
	    build-fuzz/fuzz/fuzz_$$f -max_total_time=$(FUZZ_SECONDS) build-fuzz/corpus/$$f fuzz/corpus/$$f || exit 1; \
	done

# The programs, man pages, service files and examples under PREFIX, staged
# under DESTDIR when it is set. uninstall removes what the last install
# wrote (the list is $(BUILD)/install_manifest.txt).
install: build
	@cmake -S . -B $(BUILD) -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD)

uninstall:
	DESTDIR="$(DESTDIR)" cmake -DMANIFEST=$(BUILD)/install_manifest.txt -P deploy/uninstall.cmake

# The Debian package in build-package/, checked with lintian, then installed,
# checked and purged again (Debian only; slow, so not part of test).
package:
	@scripts/install-deps package
	scripts/build-package

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-bench build-fuzz build-package
