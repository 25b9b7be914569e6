# Quick start on a fresh Debian 12 machine:
#   make demo   build in Release and render the demo pictures into build/demo/
#   make test   install what is missing, build, run the test suite
JOBS ?= $(shell nproc)

# What the build, the tests and the packages need. OpenImageIO is found
# through its pkg-config file, with Imath, whose headers its own include.
# dpkg-dev and file: CPack works out the .deb's library dependencies with
# dpkg-shlibdeps, and looks at each binary with file first.
BUILD_PACKAGES := cmake g++ make pkg-config dpkg-dev file libgtest-dev \
  libgmock-dev libopenimageio-dev libimath-dev libcli11-dev nlohmann-json3-dev \
  libhwy-dev clang-format \
  pybind11-dev python3-dev python3-pytest python3-numpy python3-openimageio
BENCH_PACKAGES := libbenchmark-dev libopencv-dev
# The Windows bundles: the MinGW-w64 cross compiler, Wine to run the tests,
# and the same Highway headers and GoogleTest sources as on Linux.
WINDOWS_PACKAGES := cmake make g++-mingw-w64-x86-64-posix wine wine64 \
  libhwy-dev libgtest-dev
FUZZ_PACKAGES  := clang libclang-rt-14-dev

.PHONY: all deps deps-bench deps-fuzz configure build test demo bench python \
  deps-windows windows test-windows package-windows \
  format format-check \
  test-asan test-tsan fuzz install package clean print-build-packages

all: build

# Installs missing Debian packages when run as root; otherwise prints the
# exact command and stops.
# A second argument is passed to apt-get install (--no-install-recommends).
define apt_install
	@missing=$$(for p in $(1); do dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null \
	  | grep -q 'ok installed' || echo $$p; done); \
	if [ -z "$$missing" ]; then exit 0; fi; \
	if [ "$$(id -u)" = 0 ]; then \
	  echo "installing:" $$missing; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $(2) $$missing; \
	else \
	  echo "missing packages; run:"; \
	  echo "  sudo apt-get install -y" $$missing; exit 1; \
	fi
endef

print-build-packages:
	@echo $(BUILD_PACKAGES)

deps:
	$(call apt_install,$(BUILD_PACKAGES))

deps-bench: deps
	$(call apt_install,$(BENCH_PACKAGES))

deps-fuzz: deps
	$(call apt_install,$(FUZZ_PACKAGES))

# Wine's recommended packages (fonts, sound, a desktop) serve nothing here.
deps-windows:
	$(call apt_install,$(WINDOWS_PACKAGES),--no-install-recommends)

configure: deps
	cmake --preset default

build: configure
	cmake --build build -j $(JOBS)

test: build format-check
	ctest --test-dir build --output-on-failure -j $(JOBS)

# The tree keeps one layout (.clang-format); format rewrites it in place,
# format-check fails on the first file that strays and names it.
FORMAT_SOURCES = $(shell find bench demo fuzz gradient host openfx outline python \
  simd tests tools -name '*.h' -o -name '*.c' -o -name '*.cpp' | sort)
format: deps
	@clang-format -i $(FORMAT_SOURCES)

format-check: deps
	@clang-format --dry-run --Werror $(FORMAT_SOURCES)
	@echo "format-check: $(words $(FORMAT_SOURCES)) files in the committed layout"

demo: build
	demo/run.sh build

# The ofxhost Python module in build/python, with what it renders through
# (the effects and the bundle probe); import it with PYTHONPATH=build/python.
python: configure
	cmake --build build -j $(JOBS) --target ofxhost_python Rimlet Tintrow

bench: deps-bench
	cmake --preset bench
	cmake --build build-bench -j $(JOBS)
	@if [ -x bench/run.sh ]; then bench/run.sh build-bench; fi

# Sanitizer runs, each in its own build folder; any report fails the run.
# test-asan: the whole suite under AddressSanitizer (leaks included) and
# UndefinedBehaviorSanitizer. The ASan test processes spend about half
# their time off the CPU, so ctest runs twice as many as there are cores.
ASAN_ENV := ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:check_initialization_order=1:strict_init_order=1 \
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
test-asan: deps
	cmake --preset asan
	cmake --build build-asan -j $(JOBS)
	$(ASAN_ENV) ctest --test-dir build-asan --output-on-failure -j $$(( $(JOBS) * 2 ))

# test-tsan: the multi-threaded renders of every module (the tests labelled
# "threads") under ThreadSanitizer. Only the programs holding them are built.
TSAN_TARGETS := support_unit_tests support_tests host_tests tintrow_tests \
  rimlet_field_pipeline_tests rimlet_field_pool_tests rimlet_processor_tests rimlet_window_tests \
  rimlet_plugin_tests reliability_thread_tests
TSAN_ENV := TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
test-tsan: deps
	cmake --preset tsan
	cmake --build build-tsan -j $(JOBS) --target $(TSAN_TARGETS)
	$(TSAN_ENV) ctest --test-dir build-tsan --output-on-failure -j $(JOBS) -L threads

# fuzz: both effects' fuzz targets (clang, ASan + UBSan) for FUZZ_SECONDS
# each, from the committed seeds in fuzz/corpus/.
FUZZ_SECONDS ?= 60
fuzz: deps-fuzz
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	fuzz/run.sh build-fuzz $(FUZZ_SECONDS)

install: build
	cmake --install build

# Windows x64: both bundles cross-built into build-windows/bundles
# (NAME.ofx.bundle/Contents/Win64/NAME.ofx); test-windows builds the test
# programs too and runs them under Wine, in a Wine folder inside
# build-windows, after bringing up to date the Linux bundles and render
# table whose hashes the Windows ones must equal; package-windows zips the
# bundles with an install note. Now and then a program fails to start under
# Wine with no word (once in some 600 starts), so a failed test runs up to
# twice more there; the same code runs with no second chance in the Linux
# and sanitizer runs.
windows: deps-windows
	cmake --preset windows
	cmake --build build-windows -j $(JOBS) --target Rimlet Tintrow

test-windows: deps deps-windows
	cmake --preset default
	cmake --build build -j $(JOBS) --target Rimlet Tintrow qfx-render-hashes
	cmake --preset windows
	cmake --build build-windows -j $(JOBS)
	ctest --test-dir build-windows --output-on-failure -j $(JOBS) \
	  --repeat until-pass:3

package-windows: windows
	cd build-windows && cpack

# build/qeffects_*.deb (the effects in /usr/OFX/Plugins, ofxrender in
# /usr/bin) and build/qeffects-plugins-*.tar.gz (the two bundles and an
# install note).
package: build
	cd build && cpack

clean:
	rm -rf build build-debug build-asan build-tsan build-bench build-fuzz \
	  build-windows
