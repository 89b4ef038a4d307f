# Every target installs what is missing first (scripts/bootstrap), then works in $(BUILD).
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_FLAGS ?=
# Three repetitions of every benchmark; ratios use the medians.
BENCH_ARGS ?= --benchmark_repetitions=3 --benchmark_display_aggregates_only=true

# make install: into $(DESTDIR)$(PREFIX); make uninstall removes what the last install wrote.
PREFIX ?= /usr/local
# The libFuzzer harnesses: their own build folder, built by clang with the sanitizers.
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_FLAGS = -fsanitize=address,undefined -fsanitize=fuzzer-no-link -fno-sanitize-recover=all -fno-omit-frame-pointer

.PHONY: all bootstrap configure build test bench run screenshot format check-format clean fuzz sanitize tidy
.PHONY: install uninstall deb check-install check-wayland

# The tests, benchmarks and fuzzers, and the packages they need, only for the targets that use them
# (tidy too, so that it checks the build folder of make test without configuring it anew).
KAVO_TESTS ?= OFF
test bench sanitize check-format format fuzz check-install screenshot tidy: export KAVO_TESTS = ON

all: build

bootstrap:
	@scripts/bootstrap $(if $(filter ON,$(KAVO_TESTS)),test)

configure: bootstrap
	@echo "configure: $(BUILD) ($(BUILD_TYPE), tests $(KAVO_TESTS))"
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) -DCMAKE_EXPORT_COMPILE_COMMANDS=ON \
		-DKAVO_BUILD_TESTS=$(KAVO_TESTS) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD)

test: bootstrap
	@if [ "$$CI" = "true" ]; then scripts/check-format; fi
	@$(MAKE) --no-print-directory build
	@cd $(BUILD) && ctest --output-on-failure -j$$(nproc) --timeout 600
	@if [ "$$CI" = "true" ]; then scripts/check-install $(BUILD); fi
	@if [ "$$CI" = "true" ]; then scripts/check-wayland $(BUILD); fi
	@if [ "$$CI" = "true" ]; then $(MAKE) --no-print-directory sanitize tidy; fi

bench: configure
	@cmake --build $(BUILD) --target kavo_bench
	@$(BUILD)/bench/kavo_bench --benchmark_counters_tabular=true $(BENCH_ARGS)

# Runs every harness for FUZZ_SECONDS and prints executions and findings per harness.
fuzz: bootstrap
	@CI= cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ "-DCMAKE_C_FLAGS=$(FUZZ_FLAGS)" "-DCMAKE_CXX_FLAGS=$(FUZZ_FLAGS)" >/dev/null
	@cmake --build $(FUZZ_BUILD) --target kavo_fuzz
	@scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)

run:
	@scripts/run --check-display
	@$(MAKE) --no-print-directory build
	@scripts/run $(BUILD) $(ARGS)

# PNGs of both lists, a balloon, a first start and the settings dialog in $(BUILD)/screenshots/, from a private X server.
screenshot: build
	@scripts/screenshot $(BUILD)

format: bootstrap
	@git ls-files -z -- '*.cpp' '*.h' | xargs -0 -r clang-format -i

check-format: bootstrap
	@scripts/check-format

# Stripped binaries, as a package has them; install_folders.txt notes the folders it creates.
install: build
	@KAVO_INSTALL_RECORD="$(abspath $(BUILD))/install_folders.txt" DESTDIR="$(DESTDIR)" \
		cmake --install $(BUILD) --prefix "$(PREFIX)" --strip

uninstall:
	@DESTDIR="$(DESTDIR)" cmake -DMANIFEST=$(BUILD)/install_manifest.txt -DFOLDERS=$(BUILD)/install_folders.txt \
		-P cmake/Uninstall.cmake

# The Debian package in $(BUILD)/packages/, built from debian/ with dpkg-buildpackage in a copy of
# the tree.
deb: bootstrap
	@scripts/deb $(BUILD)

# kavo as a native Wayland client under a headless compositor (CI runs it with make test).
check-wayland: build
	@scripts/check-wayland $(BUILD)

# Installs into a temporary folder and checks the result (CI runs it with make test).
check-install: build
	@scripts/check-install $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-tsan $(BUILD)-asan $(FUZZ_BUILD)

# clang-tidy with the checks of .clang-tidy over the sources of src/ (scripts/tidy), failing on any
# finding. TIDY_SCOPE=--changed checks the engine in full and of the UI only what differs from the
# merge base with main. CI checks everything: about 11 CPU minutes, 6 minutes on two free cores.
TIDY_SCOPE ?=
tidy: build
	@scripts/tidy $(BUILD) $(TIDY_SCOPE)

# The threaded tests under ThreadSanitizer, and every test program, the widget tests included,
# under AddressSanitizer and UndefinedBehaviorSanitizer, each in a build folder of its own. CI runs
# it after the plain tests. The conversion of 8 MiB of bad bytes takes minutes under
# AddressSanitizer; the plain build runs it. The browser engine's own library frees some objects
# through a base of another size, which AddressSanitizer reports as a new-delete type mismatch.
#
# ThreadSanitizer: the retrieval cycles, the records and settings they snapshot, the thread rules'
# checks, the admin commands, the notification queue and its sound worker, the script engine and
# its runs, the history's writer thread.
TSAN_TARGETS = test_net test_core test_settings test_notify test_script test_history
TSAN_NET = ^(RetrievalCycle|ChangeMarksCycle|PcrawCycle|YpScriptCycle|HostileServer|Records|UpdateYp|Settings|AdminCommand|ThreadRules)
TSAN_AREAS = ^(notify|script|history)$$
# LeakSanitizer checks the programs without Qt (test_*, and kavo-list that test_app runs). It stays
# off for the widget tests: Qt and the browser engine keep allocations for the life of the process
# (plugins, fonts, the event dispatcher's thread data) that no public call frees.
SANITIZE_TESTS = test_platform test_core test_settings test_net test_history test_common test_notify test_script test_rules test_app kavo-list \
	test_pcraw kavo_webview $(patsubst tests/ui/%.cpp,ui_%,$(wildcard tests/ui/*Test.cpp))
ASAN_COMMON = new_delete_type_mismatch=0

sanitize: bootstrap
	@cmake -S . -B $(BUILD)-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVO_SANITIZE=thread >/dev/null
	@cmake --build $(BUILD)-tsan --target $(TSAN_TARGETS)
	@cd $(BUILD)-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j$$(nproc) --timeout 600 -R "$(TSAN_NET)"
	@cd $(BUILD)-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j$$(nproc) --timeout 600 -L "$(TSAN_AREAS)"
	@cmake -S . -B $(BUILD)-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKAVO_SANITIZE=address,undefined >/dev/null
	@cmake --build $(BUILD)-asan --target $(SANITIZE_TESTS)
	@cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=1:$(ASAN_COMMON) UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j$$(nproc) --timeout 600 -E "^ui_|LongRunsOfInvalidBytes"
	@cd $(BUILD)-asan && ASAN_OPTIONS=detect_leaks=0:$(ASAN_COMMON) UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j$$(nproc) --timeout 600 -R "^ui_"
