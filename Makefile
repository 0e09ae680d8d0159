# Wraps CMake. Every build goes under build/.
#   make run       build, then convert the bundled ftrace example
#   make test      build, then run every test
#   make sanitize  run every test under AddressSanitizer and UndefinedBehaviorSanitizer,
#                  and the thread, I/O and end-to-end tests under ThreadSanitizer
#   make clean     remove build/

BUILD    := build
RELEASE  := $(BUILD)/release
ASAN     := $(BUILD)/asan
TSAN     := $(BUILD)/tsan
JOBS     ?= $(shell nproc 2>/dev/null || echo 2)
EXAMPLE  := examples/frames.ftrace
CTEST    := ctest --output-on-failure -j $(JOBS) --test-dir

# The sanitizer build uses clang++ where there is one, so that every CI run
# compiles the code with both compilers.
SAN_CXX  := $(shell command -v clang++ 2>/dev/null || command -v g++)

# CMake's own make need not announce every directory it enters.
MAKEFLAGS += --no-print-directory

.PHONY: all build run test sanitize clean

all: build

build:
	cmake -S . -B $(RELEASE) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVEL_WERROR=ON
	cmake --build $(RELEASE) -j $(JOBS)
	ln -sf release/spanmill $(BUILD)/spanmill

run: build
	@$(BUILD)/spanmill -i $(EXAMPLE)
	@echo

test: build
	$(CTEST) $(RELEASE)

sanitize:
	cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DORVEL_WERROR=ON \
	  -DCMAKE_CXX_COMPILER=$(SAN_CXX) -DORVEL_SANITIZE=address,undefined
	cmake --build $(ASAN) -j $(JOBS)
	$(CTEST) $(ASAN)
	cmake -S . -B $(TSAN) -DCMAKE_BUILD_TYPE=Debug -DORVEL_WERROR=ON \
	  -DCMAKE_CXX_COMPILER=$(SAN_CXX) -DORVEL_SANITIZE=thread
	cmake --build $(TSAN) -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" $(CTEST) $(TSAN) -L '^(thread|io|run|slow)$$'

clean:
	rm -rf $(BUILD)
