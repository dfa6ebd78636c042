# The README's commands: `make run`, `make test` and `make package`.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)

# What `make package` and its check need besides the build's packages.
PACKAGE_TOOLS = file dpkg-dev desktop-file-utils man-db

.PHONY: run test deps build build-asan test-normal test-asan clean package package-deps test-package

run: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS) --target kelpie
	./$(BUILD)/src/kelpie

test: deps package-deps test-normal test-package test-asan

deps:
	scripts/install-deps

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

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
