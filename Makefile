# Thin wrapper over CMake.  `make` builds the library, the tool and the
# example into build/ (no tests: they need packages that only `make test`
# installs), `make demo` installs what the build needs (libpng and
# nlohmann-json, as root; otherwise it names them and stops) and runs the
# built-in example, `make test` installs what the tests need and runs every
# test twice (plain and with AddressSanitizer + UndefinedBehaviorSanitizer).
BUILD      ?= build
ASAN_BUILD ?= build-asan
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=
WERROR     ?= OFF

.PHONY: deps demo-deps all configure test test-plain test-asan demo bench cross-s390x cross-i686 fuzz clean

all:
	cmake -S . -B $(BUILD) $(GENERATOR) -DVARNEL_WERROR=$(WERROR) -DVARNEL_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

configure:
	cmake -S . -B $(BUILD) $(GENERATOR) -DVARNEL_WERROR=$(WERROR) -DVARNEL_BUILD_TESTS=ON $(CMAKE_ARGS)

test: deps
	$(MAKE) test-plain test-asan

# Installs what the build and the tests need (as root, with apt-get).
deps:
	bash .ci/install-deps.sh

test-plain: configure
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan:
	cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DVARNEL_WERROR=$(WERROR) -DVARNEL_BUILD_TESTS=ON \
	  -DCMAKE_BUILD_TYPE=Debug -DVARNEL_SANITIZE="address;undefined" $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	# The fault sweeps take minutes each under the sanitizers; run whole they
	# would only repeat them (the plain build runs them whole).
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j $(JOBS) -E '^whole\.fault_sweep'

# Installs what the build needs (as root, with apt-get); names it otherwise.
demo-deps:
	bash .ci/install-deps.sh --demo

demo: demo-deps
	$(MAKE) all
	tools/demo.sh $(BUILD)

bench:
	cmake -S . -B build-bench $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVARNEL_BUILD_BENCHMARKS=ON \
	  -DVARNEL_BUILD_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	bench/run.sh build-bench

# Big-endian and 32-bit builds of the library and its tests, run under qemu.
cross-s390x:
	bash .ci/cross.sh s390x

cross-i686:
	bash .ci/cross.sh i686

# libFuzzer run of every fuzz target: FUZZ_SECONDS each (clang, build-fuzz/).
FUZZ_SECONDS ?= 60
fuzz:
	bash fuzz/run_fuzzers.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) build-demo $(ASAN_BUILD) build-bench build-s390x build-i686 build-fuzz
