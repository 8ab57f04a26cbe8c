# The two commands of the README: `make run` and `make test`.
BUILD_DIR ?= build
ASAN_DIR  ?= build-asan
TSAN_DIR  ?= build-tsan
FUZZ_DIR  ?= build-fuzz
FUZZ_SECONDS ?= 55
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: run test test-asan test-tsan fuzz build programs deps bench deb clean

deps:
	@bash scripts/install-deps.sh

$(BUILD_DIR)/build.ninja: | deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Only the two programs and their data: the tests and benchmarks would
# double the wait for the first window.
programs: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS) --target korvanel korvanel-cli

run: programs
	$(BUILD_DIR)/korvanel

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKORVANEL_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build $(ASAN_DIR) -j $(JOBS)
	cd $(ASAN_DIR) && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp ctest --output-on-failure -j $(JOBS)

# The same suite under ThreadSanitizer; clang's runtime knows our std::thread
# and condition variables better than gcc 12's.
test-tsan: deps
	CC=clang CXX=clang++ cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVANEL_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build $(TSAN_DIR) -j $(JOBS)
	cd $(TSAN_DIR) && TSAN_OPTIONS="second_deadlock_stack=1 suppressions=$(CURDIR)/tests/sanitizers/tsan.supp" ctest --output-on-failure -j $(JOBS)

# Every fuzz target for a bounded time on a copy of its seed corpus.
fuzz: deps
	bash scripts/fuzz.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

# A Debian package of the install, in the build folder.
deb: build
	cd $(BUILD_DIR) && cpack -G DEB

bench: build
	@for b in $(BUILD_DIR)/bench/*_bench; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(FUZZ_DIR)
