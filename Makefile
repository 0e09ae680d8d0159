# Wraps CMake. Every build goes under build/.
#   make run       build, then convert the bundled ftrace example
#   make test      build, then run every test
#   make sanitize  run every test under AddressSanitizer and UndefinedBehaviorSanitizer,
#                  and the thread, I/O, report-row and end-to-end tests under ThreadSanitizer
#   make arm32     cross-build everything for 32-bit ARM Linux (arm-linux-gnueabihf)
#   make arm32-test  run every test of that build under qemu-arm
#   make fuzz      build the fuzz targets (clang, libFuzzer, ASan, UBSan)
#   make fuzz-smoke  run each fuzz target for a minute on its seed corpus
#   make clean     remove build/

BUILD    := build
RELEASE  := $(BUILD)/release
ASAN     := $(BUILD)/asan
TSAN     := $(BUILD)/tsan
FUZZ     := $(BUILD)/fuzz
ARM32    := $(BUILD)/arm32
FUZZERS  := TraceFuzzer JsonFuzzer JsomFuzzer ExpandFuzzer ScanFuzzer ReportFuzzer TidyFuzzer
FUZZ_SECONDS ?= 60
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
EXAMPLE  := examples/frames.ftrace
CTEST    := ctest --output-on-failure -j $(JOBS) --test-dir

# The sanitizer build uses clang++ where there is one, so that every CI run
# compiles the code with both compilers; its C (the marker header's tests)
# takes the matching C compiler, whose sanitizer runtime is the one linked.
SAN_CXX  := $(shell command -v clang++ 2>/dev/null || command -v g++)
SAN_CC   := $(if $(findstring clang,$(SAN_CXX)),clang,gcc)

# The programs beside build/, where the README runs them from.
LINKS    := ln -sf release/spanmill $(BUILD)/spanmill && ln -sf release/spanmill-report $(BUILD)/spanmill-report

# CMake's own make need not announce every directory it enters.
MAKEFLAGS += --no-print-directory

.PHONY: all configure build run test sanitize arm32 arm32-test fuzz fuzz-smoke clean

all: build

configure:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_WERROR=ON

build: configure
	cmake --build $(RELEASE) -j $(JOBS)
	$(LINKS)

# The example needs spanmill alone, not the tests.
run: configure
	cmake --build $(RELEASE) -j $(JOBS) --target spanmill spanmill-report
	$(LINKS)
	@$(BUILD)/spanmill -i $(EXAMPLE)
	@echo

test: build
	$(CTEST) $(RELEASE)

sanitize:
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DORVEL_WERROR=ON \
	  -DCMAKE_CXX_COMPILER=$(SAN_CXX) -DCMAKE_C_COMPILER=$(SAN_CC) -DORVEL_SANITIZE=address,undefined
	cmake --build $(ASAN) -j $(JOBS)
	$(CTEST) $(ASAN)
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=Debug -DORVEL_WERROR=ON \
	  -DCMAKE_CXX_COMPILER=$(SAN_CXX) -DCMAKE_C_COMPILER=$(SAN_CC) -DORVEL_SANITIZE=thread
	cmake --build $(TSAN) -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" $(CTEST) $(TSAN) -L '^(thread|io|rows|run|slow|markers)$$'

arm32:
	cmake -S . -B $(ARM32) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_WERROR=ON \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/arm-linux-gnueabihf.cmake
	cmake --build $(ARM32) -j $(JOBS)

arm32-test: arm32
	$(CTEST) $(ARM32)

fuzz:
	cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_WERROR=ON \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DORVEL_TESTS=OFF -DORVEL_FUZZ=ON \
	  -DORVEL_SANITIZE=address,undefined,fuzzer-no-link
	cmake --build $(FUZZ) -j $(JOBS)

# New inputs go to a scratch corpus under build/, never into the seeds.
fuzz-smoke: fuzz
	@for target in $(FUZZERS); do \
	  mkdir -p $(FUZZ)/corpus/$$target && \
	  $(FUZZ)/fuzz/$$target -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ)/ \
	    $(FUZZ)/corpus/$$target fuzz/corpus/$$target > $(FUZZ)/$$target.log 2>&1; \
	  status=$$?; tail -n 12 $(FUZZ)/$$target.log; \
	  [ $$status -eq 0 ] || { echo "$$target failed"; exit 1; }; \
	done

clean:
	rm -rf $(BUILD)
