# make build | make test | make test SAN=1 | make test TSAN=1 | make fuzz FUZZ_SECONDS=N | make demo | make bench
# | make clean
# Plain `make` builds.
.DEFAULT_GOAL := build
JOBS ?= $(shell nproc)
ifeq ($(SAN),1)
BUILD_DIR ?= build-san
CMAKE_FLAGS += -DKR_SANITIZE=ON -DKR_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS ?= suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
else ifeq ($(TSAN),1)
BUILD_DIR ?= build-tsan
CMAKE_FLAGS += -DKR_SANITIZE_THREAD=ON -DKR_BUILD_BENCH=OFF
# The thread tests are the ones with something for ThreadSanitizer to check.
CTEST_FLAGS += -R Concurrency
export TSAN_OPTIONS ?= suppressions=$(CURDIR)/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1
else
BUILD_DIR ?= build
endif
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60

.PHONY: build test fuzz demo bench clean

# A fresh machine gets its Debian packages on the first configure.
$(BUILD_DIR)/CMakeCache.txt:
	scripts/install-deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS) $(CTEST_FLAGS)

# Every fuzz target for FUZZ_SECONDS, one after the other, built with clang.
fuzz:
	scripts/install-deps
	cmake -S . -B $(FUZZ_DIR) -DCMAKE_CXX_COMPILER=clang++ -DKR_FUZZ=ON -DKR_BUILD_TESTS=OFF -DKR_BUILD_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzzers
	scripts/run-fuzzers $(FUZZ_DIR) $(FUZZ_SECONDS)

demo: build
	scripts/demo $(BUILD_DIR)/bin

bench: build
	$(BUILD_DIR)/bin/gora_bench

clean:
	rm -rf build build-san build-tsan $(FUZZ_DIR)
