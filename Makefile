# Quillmar: top-level commands. Every target first makes sure the machine has
# what the build needs (a fresh Debian 12 gets it through apt), then drives CMake.

BUILD      := build
STAMP      := $(BUILD)/.deps-ok
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure test demo bench fuzz clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

# Installs only what is missing, so a second run costs a few command look-ups.
deps: $(STAMP)
$(STAMP): Makefile cmake/install-deps.sh
	@bash cmake/install-deps.sh
	@mkdir -p $(BUILD) && touch $@

configure: deps
	@if [ ! -f $(BUILD)/CMakeCache.txt ]; then \
	  cmake -S . -B $(BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release; \
	fi

test: all
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

demo: all
	bash cmake/demo.sh

bench: all
	bash cmake/bench.sh

# Each reader of outside files, fuzzed natively with libFuzzer and ASan/UBSan.
FUZZ_SECONDS ?= 300
fuzz: deps
	bash platform/dbghelp/fuzz/run-fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD)
