# Quillmar: top-level commands. Every target first makes sure the machine has
# what the build needs (a fresh Debian 12 gets it through apt), then drives CMake.
#
# Two builds of the same tree: build/ for 32-bit Windows (the product) and
# build-x64/ for 64-bit Windows, which exists so that hosts whose kernel runs no
# 32-bit code can run every test under 64-bit Wine. Where the host runs 32-bit
# code, `make test` tests both; elsewhere the 64-bit one. `make demo` and
# `make bench` use the 32-bit build where they can. ARCH=x86 or ARCH=x64
# forces one build for every target; HOST_I386=no acts as such a host would.

JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
# CMake's build runs make within make, and a make started by another one
# names every directory it enters: about 150 lines before the first figure of
# make bench. The flag reaches those makes through MAKEFLAGS.
MAKEFLAGS  += --no-print-directory
ifeq ($(origin HOST_I386),undefined)
  HOST_I386 := $(shell bash cmake/host-runs-i386.sh && echo yes || echo no)
endif

ifeq ($(ARCH),)
  ifeq ($(HOST_I386),yes)
    ARCHES  := x86 x64
    RUN_ARCH := x86
  else
    ARCHES  := x64
    RUN_ARCH := x64
  endif
else ifneq ($(filter $(ARCH),x86 x64),)
  ARCHES   := $(ARCH)
  RUN_ARCH := $(ARCH)
else
  $(error ARCH must be x86 or x64, not "$(ARCH)")
endif

build_dir  = $(if $(filter x64,$(1)),build-x64,build)
toolchain  = $(if $(filter x64,$(1)),cmake/mingw-x86_64.cmake,cmake/mingw-i686.cmake)
arch_name  = $(if $(filter x64,$(1)),64-bit,32-bit)
RUN_BUILD  := $(call build_dir,$(RUN_ARCH))
HOST_NOTE  := $(if $(filter no,$(HOST_I386)),$(if $(ARCH),,this host runs no 32-bit code: testing the 64-bit build only))

.PHONY: all deps test demo bench fuzz screenshots package clean $(addprefix build-,$(ARCHES))

all: $(addprefix build-,$(ARCHES))

# Installs only what is missing, so a run on a ready machine costs a few
# command look-ups. The 32-bit Wine packages only where the host can run them.
deps:
	@QX3_HOST_I386=$(HOST_I386) bash cmake/install-deps.sh

$(addprefix build-,$(ARCHES)): build-%: deps
	@if [ ! -f $(call build_dir,$*)/CMakeCache.txt ]; then \
	  cmake -S . -B $(call build_dir,$*) -DCMAKE_TOOLCHAIN_FILE=$(call toolchain,$*) \
	        -DCMAKE_BUILD_TYPE=Release; \
	fi
	cmake --build $(call build_dir,$*) -j $(JOBS) $(if $(TARGETS),--target $(TARGETS))

# Runs every suite even when an earlier one fails, and fails if any did.
test: all
	@$(if $(HOST_NOTE),echo "$(HOST_NOTE)";) \
	status=0; \
	for arch in $(ARCHES); do \
	  if [ $$arch = x64 ]; then dir=build-x64; name=64-bit; else dir=build; name=32-bit; fi; \
	  echo "== Testing the $$name build ($$dir)"; \
	  (cd $$dir && ctest --output-on-failure -j $(JOBS) --timeout 600) || status=1; \
	done; \
	exit $$status

# Builds only what the demo runs.
demo:
	@$(MAKE) build-$(RUN_ARCH) HOST_I386=$(HOST_I386) TARGETS=demo_programs
	@echo "== make demo: the $(call arch_name,$(RUN_ARCH)) build ($(RUN_BUILD))"
	QX3_BUILD=$(CURDIR)/$(RUN_BUILD) bash cmake/demo.sh

bench: build-$(RUN_ARCH)
	@echo "== make bench: the $(call arch_name,$(RUN_ARCH)) build ($(RUN_BUILD))"
	QX3_BUILD=$(CURDIR)/$(RUN_BUILD) bash cmake/bench.sh

# The add-in's dialogs as PNG files in docs/screenshots/, drawn by Wine's X11
# driver under Xvfb (installed when missing).
screenshots:
	@$(MAKE) build-$(RUN_ARCH) HOST_I386=$(HOST_I386) TARGETS=demo_programs
	QX3_BUILD=$(CURDIR)/$(RUN_BUILD) bash cmake/screenshots.sh

# A zip of the 32-bit build (the product) for a real Windows machine.
package:
	@$(MAKE) build-x86 ARCH=x86 HOST_I386=$(HOST_I386) TARGETS=demo_programs
	bash cmake/package.sh build

# Each reader of outside files, fuzzed natively with libFuzzer and ASan/UBSan.
FUZZ_SECONDS ?= 300
fuzz: deps
	bash dbghelp/fuzz/run-fuzz.sh $(FUZZ_SECONDS)
	bash hook/fuzz/run-fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf build build-x64
