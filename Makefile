# The front door: every target installs what is missing, configures and builds.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

configure: deps $(BUILD)/build.ninja

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The host tool over the stand-in's built-in cameras: list them, then grab
# 30 frames from the first and keep the last as a picture.
demo: build
	@echo "demo: kwcam list"
	@env -u MVSIM_CONFIG $(BUILD)/tools/kwcam/kwcam list
	@echo "demo: kwcam grab -n 30 --save $(BUILD)/demo-frame.png"
	@env -u MVSIM_CONFIG $(BUILD)/tools/kwcam/kwcam grab -n 30 --save $(BUILD)/demo-frame.png
	@echo "demo: the last frame is in $(abspath $(BUILD))/demo-frame.png"

clean:
	rm -rf $(BUILD) build-*

# Performance and reliability. Each target has a build directory of its own.
BENCH_BUILD ?= build-bench
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
MEMCHECK_BUILD ?= build-memcheck
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60

# The suppressions name only Aravis's and GLib's own code, each with its
# reason (tests/sanitizers/).
SANITIZER_ENV = \
  ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:strict_init_order=1:detect_stack_use_after_return=1 \
  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizers/lsan.supp \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/sanitizers/tsan.supp

.PHONY: bench sanitize test-asan test-tsan memcheck fuzz

# Release build; prints the results as a Markdown table with the goals' ratios.
# The Python module's figures run PYTHON_BENCH_SECONDS (10 by default) paced,
# and a fifth of it per round unpaced; kwcam is built for its baseline. The
# GenICam benchmarks start the emulated camera (arv-fake-gv-camera-0.8).
PYTHON_BENCH_SECONDS ?= 10
bench: deps
	@cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DKWCAM_BUILD_TOOLS=ON >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target kwcam_bench _kwcamera kwcam kwcam_genicam_bench
	@$(BENCH_BUILD)/bench/kwcam_bench --benchmark_out=$(BENCH_BUILD)/bench.json --benchmark_out_format=json \
	  --benchmark_enable_random_interleaving=true >$(BENCH_BUILD)/bench.log 2>&1 || { cat $(BENCH_BUILD)/bench.log; exit 1; }
	@$(BENCH_BUILD)/bench/kwcam_genicam_bench --benchmark_out=$(BENCH_BUILD)/genicam.json --benchmark_out_format=json \
	  --benchmark_enable_random_interleaving=true >$(BENCH_BUILD)/genicam.log 2>&1 || { cat $(BENCH_BUILD)/genicam.log; exit 1; }
	@env -u MVSIM_CONFIG PYTHONPATH=$(BENCH_BUILD)/python /usr/bin/python3 bench/python_bench.py \
	  --kwcam $(BENCH_BUILD)/tools/kwcam/kwcam --out $(BENCH_BUILD)/python-bench.json --seconds $(PYTHON_BENCH_SECONDS)
	@python3 bench/report.py $(BENCH_BUILD)/bench.json $(BENCH_BUILD)/python-bench.json $(BENCH_BUILD)/genicam.json

sanitize: test-asan test-tsan

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, in a
# Debug build (the plain suite runs RelWithDebInfo: log context in both).
test-asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKWCAM_ASAN=ON -DKWCAM_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# The suite but the host tool's, under ThreadSanitizer (the threaded ones
# carry the label "threaded": ctest -L threaded).
test-tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DKWCAM_TSAN=ON -DKWCAM_BUILD_BENCH=OFF -DKWCAM_BUILD_TOOLS=OFF >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS)
	@cd $(TSAN_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# The lifecycle cycles under valgrind: definite and indirect leaks and
# memory errors fail; what Qt keeps reachable until exit does not.
memcheck: deps
	@cmake -S . -B $(MEMCHECK_BUILD) -G Ninja -DKWCAM_BUILD_BENCH=OFF -DKWCAM_BUILD_TOOLS=OFF >/dev/null
	@cmake --build $(MEMCHECK_BUILD) -j $(JOBS) --target stress_test
	@KWCAM_STRESS_CYCLES=20 valgrind --quiet --tool=memcheck --leak-check=full \
	  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect --error-exitcode=1 \
	  $(MEMCHECK_BUILD)/tests/stress/stress_test --gtest_filter='Stress.LifecycleCycles*'

# Bounded libFuzzer run; new inputs go to fuzz/corpus-work, seeds stay in
# fuzz/corpus.
fuzz: deps
	@cmake -S . -B $(FUZZ_BUILD) -G Ninja -DKWCAM_FUZZ=ON -DKWCAM_ASAN=ON -DCMAKE_C_COMPILER=clang \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link -DKWCAM_BUILD_TESTS=OFF \
	  -DKWCAM_BUILD_BENCH=OFF -DKWCAM_BUILD_TOOLS=OFF >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS) --target open_fuzz
	@mkdir -p fuzz/corpus-work
	@$(SANITIZER_ENV) $(FUZZ_BUILD)/fuzz/open_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	  fuzz/corpus-work fuzz/corpus

# Formats our own sources with .clang-format (the fuzzing corpus and build
# trees are left alone).
.PHONY: format
format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i
