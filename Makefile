# The README's commands: `make run`, `make test` and `make package`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)

# What `make package` and its check need besides the build's packages.
PACKAGE_TOOLS = file dpkg-dev desktop-file-utils man-db

# `make fuzz` runs each fuzz target this long; `make test-fuzz` briefly.
FUZZ_SECONDS      ?= 60
TEST_FUZZ_SECONDS ?= 3
# libFuzzer's runtime is in libclang-rt-14-dev, which clang only recommends;
# llvm-14's symbolizer makes the sanitizers' reports readable.
FUZZ_PACKAGES = clang libclang-rt-14-dev llvm-14

.PHONY: run test deps build build-asan test-normal test-asan clean package package-deps test-package \
  build-fuzz fuzz test-fuzz

run: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target kelpie
	./$(BUILD)/src/kelpie

test: deps package-deps test-normal test-package test-asan test-fuzz

deps:
	scripts/install-deps

# Every build carries line tables only (-g1, set in CMakeLists.txt).
build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

build-asan:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKELPIE_SANITIZE=ON -DKELPIE_BENCH=OFF
	cmake --build $(ASAN_BUILD) -j $(JOBS)

test-normal: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The Debian package, build/package/kelpie_VERSION_ARCH.deb. It holds only
# the programs, so only they are built.
package: package-deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target kelpie kelpie-peer kelpie-man-pages
	rm -f $(BUILD)/package/kelpie_*.deb
	cd $(BUILD) && cpack

# The build's packages and the packaging tools.
package-deps:
	scripts/install-deps $(PACKAGE_TOOLS)

test-package: package
	packaging/check-package $(BUILD)/package/kelpie_*.deb

# libFuzzer targets, built with clang alone in their own folder.
build-fuzz:
	scripts/install-deps $(FUZZ_PACKAGES)
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DKELPIE_FUZZ=ON -DKELPIE_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target kelpie_fuzzers

fuzz: build-fuzz
	fuzz/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

test-fuzz: build-fuzz
	fuzz/run-fuzzers $(FUZZ_BUILD) $(TEST_FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
