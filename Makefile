# Convenience entry points. CMake does the real work; see README.md.

SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60

BUILD_DIR := build
ASAN_DIR := build-asan
FUZZ_DIR := build-fuzz
BENCH_DIR := build-bench

SOURCE_DIRS := $(wildcard src tests bench fuzz)
FIND_SOURCES := find $(SOURCE_DIRS) -type f \( -name '*.cpp' -o -name '*.h' \) -print0

# Headless test environment: Qt renders offscreen, SDL plays into nowhere.
TEST_ENV := QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
CTEST := ctest --output-on-failure -j2 --timeout 300

# Qt and fontconfig keep global caches alive until exit on purpose, which
# LeakSanitizer reports as leaks; only address and UB errors are of interest.
SANITIZER_ENV := ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

.PHONY: all deps deps-run build run test test-sanitize fuzz bench format format-check clean

all: build

# What building and running need (make run), and everything (the rest).
deps-run:
	scripts/install-deps.sh run
deps:
	scripts/install-deps.sh run test

# The program and its engine module only.
build: deps-run
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DMARLET_BUILD_TESTS=OFF -DMARLET_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) --parallel $(JOBS) --target marlet marlet_audio_module

run: build
	@if [[ -z "$${DISPLAY:-}" && -z "$${WAYLAND_DISPLAY:-}" && -z "$${QT_QPA_PLATFORM:-}" ]]; then \
	    echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset)."; \
	    echo "To run without a desktop session, install xvfb and xauth, then: xvfb-run make run"; \
	    exit 1; \
	fi
	$(BUILD_DIR)/bin/marlet

test: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DMARLET_WERROR=ON -DMARLET_BUILD_TESTS=ON -DMARLET_BUILD_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_DIR) --parallel $(JOBS)
	cd $(BUILD_DIR) && $(TEST_ENV) $(CTEST)

test-sanitize: deps
	cmake -S . -B $(ASAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DMARLET_SANITIZE=ON -DMARLET_WERROR=ON -DMARLET_BUILD_TESTS=ON \
	    -DMARLET_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(ASAN_DIR) --parallel $(JOBS)
	cd $(ASAN_DIR) && $(TEST_ENV) $(SANITIZER_ENV) $(CTEST)

# Replays the decoder's checked-in corpus and the test fixtures, then fuzzes each
# target for FUZZ_SECONDS from its seeds in fuzz/corpus/<target>. New inputs go to
# a scratch folder so fuzz/corpus only changes when someone adds files to it
# deliberately. Crashes land in crash-* files.
FUZZ_TARGETS := decoder recorder natural_order engine settings
fuzz: deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
	    -DMARLET_BUILD_FUZZ=ON -DMARLET_BUILD_TESTS=OFF -DMARLET_BUILD_BENCH=OFF \
	    -DMARLET_SANITIZE=ON -DMARLET_WERROR=ON $(CMAKE_FLAGS)
	cmake --build $(FUZZ_DIR) --parallel $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	$(FUZZ_DIR)/bin/fuzz_decoder -runs=0 tests/data fuzz/corpus/decoder
	for target in $(FUZZ_TARGETS); do \
	    scratch="$$(mktemp -d)"; \
	    cp -R fuzz/corpus/$$target/. "$$scratch"/; \
	    echo "fuzz_$$target: $(FUZZ_SECONDS) s"; \
	    status=0; \
	    $(FUZZ_DIR)/bin/fuzz_$$target -max_total_time=$(FUZZ_SECONDS) -max_len=65536 \
	        -rss_limit_mb=4096 -timeout=20 -print_final_stats=1 "$$scratch" \
	        fuzz/corpus/$$target || status=$$?; \
	    rm -rf "$$scratch"; \
	    [[ $$status -eq 0 ]] || exit $$status; \
	done

bench: deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DMARLET_BUILD_TESTS=OFF -DMARLET_BUILD_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_DIR) --parallel $(JOBS) --target bench_engine bench_module bench_startup bench_playlist bench_picker
	SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM="$${QT_QPA_PLATFORM:-offscreen}" \
	    $(BENCH_DIR)/bin/bench_module
	SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM="$${QT_QPA_PLATFORM:-offscreen}" \
	    $(BENCH_DIR)/bin/bench_engine
	$(BENCH_DIR)/bin/bench_startup
	QT_QPA_PLATFORM="$${QT_QPA_PLATFORM:-offscreen}" $(BENCH_DIR)/bin/bench_playlist
	QT_QPA_PLATFORM="$${QT_QPA_PLATFORM:-offscreen}" $(BENCH_DIR)/bin/bench_picker
	cmake --build $(BENCH_DIR) --parallel $(JOBS) --target marlet marlet_audio_module
	scripts/desktop-session.sh bench/show_animation.sh $(BENCH_DIR)/bin/marlet

format:
	$(FIND_SOURCES) | xargs -0 -r clang-format -i

format-check:
	$(FIND_SOURCES) | xargs -0 -r clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR) $(BENCH_DIR)
