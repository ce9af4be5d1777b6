# make build | make test | make test SAN=1 | make demo | make bench | make clean
JOBS ?= $(shell nproc)
ifeq ($(SAN),1)
BUILD_DIR ?= build-san
CMAKE_FLAGS += -DKR_SANITIZE=ON -DKR_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
export ASAN_OPTIONS ?= detect_leaks=1:abort_on_error=0
export LSAN_OPTIONS ?= suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS ?= print_stacktrace=1:halt_on_error=1
else
BUILD_DIR ?= build
endif

.PHONY: build test demo bench clean

# A fresh machine gets its Debian packages on the first configure.
$(BUILD_DIR)/CMakeCache.txt:
	scripts/install-deps
	cmake -S . -B $(BUILD_DIR) $(CMAKE_FLAGS)

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)

demo: build
	scripts/demo $(BUILD_DIR)/bin

bench: build
	$(BUILD_DIR)/bin/gora_bench

clean:
	rm -rf build build-san
