# Entry points (README.md and docs/DEVELOPING.md say more):
#   run, test                the two a newcomer needs: the window on the virtual controller, and every suite
#   deps, build, clean       Debian's packages; every program and suite; the build folders away
#   sanitize, tsan, fuzz     the suites under ASan+UBSan and under TSan; libFuzzer on each target
#   format-check, format, tidy   the tree's formatting checked or applied; clang-tidy's checks
#   bench                    the benchmarks, which measure and print
#   package, check-package   the Debian package; it installed, run and purged again
#   windows, test-windows    the Windows programs cross-built with MinGW-w64, and their suites under Wine
#   windows-gui, test-windows-gui   the window for Windows (a static Qt built once), and its tests under Wine
#   windows-installer, check-windows-installer   the signed NSIS installer, and its silent round trip under Wine
BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
TSAN_DIR     ?= build-tsan
FUZZ_DIR     ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_TARGETS  = reports controller state profile commands
PACKAGE_DIR  ?= build-package
WINDOWS_DIR  ?= build-windows
WINDOWS_GUI_DIR ?= build-windows-gui
DPC_QT_MINGW_CACHE ?= $(HOME)/.cache/doorphoneconfig/qt6-mingw-6.4.2
JOBS         ?= $(shell nproc)
CMAKE_TYPE   ?= RelWithDebInfo

.PHONY: all deps build test sanitize tsan fuzz run bench package check-package windows test-windows windows-gui \
  test-windows-gui windows-installer check-windows-installer format-check format tidy clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(CMAKE_TYPE) -DDPC_WERROR=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

# ctest says only "(Skipped)" of a skipped test; its reason comes from the JUnit record after the run.
TEST_RESULTS = $(abspath $(BUILD_DIR))/Testing/results.xml
test: build
	@rm -f $(TEST_RESULTS)
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS) --output-junit $(TEST_RESULTS); \
	  status=$$?; scripts/show-skipped-tests $(TEST_RESULTS); exit $$status

sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DDPC_SANITIZE=ON -DDPC_WERROR=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

# The suites under ThreadSanitizer; reports that are Qt's own are suppressed, each with its reason, in
# tests/tsan.supp. The kernel-level emulation preloads libraries TSan cannot follow, so it stays out.
tsan: deps
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DDPC_TSAN=ON -DDPC_WERROR=ON
	cmake --build $(TSAN_DIR) -j $(JOBS)
	TSAN_OPTIONS="suppressions=$(CURDIR)/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
	  ctest --test-dir $(TSAN_DIR) --output-on-failure -j $(JOBS) -E 'RealBackend|emulate|maintainer_scripts'

# libFuzzer on each target for FUZZ_SECONDS, starting from the committed corpus; new finds stay in
# $(FUZZ_DIR)/corpus (copy the ones worth keeping into fuzz/corpus).
fuzz:
	@scripts/install-deps clang libclang-rt-14-dev
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDPC_FUZZ=ON
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_all
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t && \
	  $(FUZZ_DIR)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -max_len=4096 $(FUZZ_DIR)/corpus/$$t fuzz/corpus/$$t \
	    || exit 1; \
	done

bench: build
	$(BUILD_DIR)/benchmarks/stream_bench
	$(BUILD_DIR)/benchmarks/dialog_bench
	benchmarks/cli_start.sh $(BUILD_DIR)/doorphonectl
	benchmarks/parallel_provision.sh $(BUILD_DIR)/emulate-controller $(BUILD_DIR)/doorphonectl

# A Debian package of a release build for /usr, without the tests: $(PACKAGE_DIR)/package/*.deb
# Built with Debian's own flags and every hardening feature (stack protector, fortified functions, PIE,
# relocations read-only and bound at start), as dpkg-buildflags gives them; CMake reads no CPPFLAGS, so they
# go in front of the compiler's flags. No -g: CPack strips the programs and no debug package is made.
DEB_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g \
  dpkg-buildflags --get
package: deps
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF -DDPC_WERROR=ON \
	  -DCMAKE_C_FLAGS="$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CFLAGS)" \
	  -DCMAKE_CXX_FLAGS="$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)"
	cmake --build $(PACKAGE_DIR) -j $(JOBS)
	cd $(PACKAGE_DIR) && cpack
	dpkg-deb -c $(PACKAGE_DIR)/package/*.deb

# The package installed on this machine with apt, run, removed and purged again (as root; CI runs it).
check-package: package
	scripts/check-package

# The window for Windows, cross-built with MinGW-w64 (posix threads) against a static Qt that
# scripts/build-qt-mingw makes once from Debian's own source, in a cache outside the tree (the first time
# takes the better part of an hour on two cores; it is made again only when its inputs change). Gives
# $(WINDOWS_GUI_DIR)/doorphoneconfig.exe and doorphonectl.exe, which need no DLL beside them, and the window's
# suites that run under Wine (make test-windows-gui runs them).
WINDOWS_GUI_TARGETS = doorphoneconfig doorphonectl windows_hid_probe test_ui test_app
windows-gui:
	@scripts/install-deps $(WINDOWS_DEPS) ninja-build
	DPC_QT_MINGW_CACHE=$(DPC_QT_MINGW_CACHE) JOBS=$(JOBS) scripts/build-qt-mingw
	cmake -S . -B $(WINDOWS_GUI_DIR) -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
	  -DCMAKE_PREFIX_PATH=$(DPC_QT_MINGW_CACHE) -DDPC_WINDOWS_GUI=ON \
	  -DCMAKE_BUILD_TYPE=Release -DDPC_WERROR=ON -DDPC_LINUX_BUILD=$(CURDIR)/$(BUILD_DIR)
	cmake --build $(WINDOWS_GUI_DIR) -j $(JOBS) --target $(WINDOWS_GUI_TARGETS)

# The 64-bit installer of both programs (NSIS): $(WINDOWS_GUI_DIR)/installer/doorphoneconfig-VERSION-setup.exe.
# Signed with osslsigncode when DPC_SIGN_PKCS12 (a PKCS#12 file) and DPC_SIGN_PASSWORD (its password) are set;
# DPC_SIGN_TIMESTAMP_URL adds a time stamp. See README, Windows.
windows-installer: windows-gui
	@scripts/install-deps nsis osslsigncode
	scripts/make-windows-installer $(WINDOWS_GUI_DIR)

# That installer under Wine: a silent install, the installed doorphonectl.exe run (--version, list on the emulated
# controller), a silent uninstall that must leave no file and no registry key behind. With DPC_SIGN_CA (the
# signing certificate), every signature is verified too (README, Windows: a throwaway certificate for that).
check-windows-installer: windows-installer build
	@scripts/install-deps wine wine64
	scripts/check-windows-installer $(WINDOWS_GUI_DIR)/installer/doorphoneconfig-*-setup.exe $(BUILD_DIR) \
	  $(WINDOWS_GUI_DIR)/tests/windows/windows_hid_probe.exe $(WINDOWS_GUI_DIR)/installer-check $(DPC_SIGN_CA)

# The window on the virtual controller: only the two programs are built, not the test suites. Without a
# display there is nothing to show it on, and make says so in one line before it installs or builds.
ifneq ($(filter run,$(MAKECMDGOALS)),)
NO_DISPLAY := $(shell scripts/check-display)
ifneq ($(NO_DISPLAY),)
$(error $(NO_DISPLAY))
endif
endif
run: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(CMAKE_TYPE) -DDPC_WERROR=ON
	cmake --build $(BUILD_DIR) -j $(JOBS) --target doorphoneconfig doorphonectl
	$(BUILD_DIR)/doorphoneconfig --simulate

# doorphonectl.exe and the Qt-free test programs for 64-bit Windows, cross-built with MinGW-w64 and linked
# statically, so each .exe runs alone: $(WINDOWS_DIR)/doorphonectl.exe
WINDOWS_DEPS = g++-mingw-w64-x86-64-posix
# A program under Wine that hangs fails after this many seconds, with what it said, instead of holding CI up.
WINE_TEST_TIMEOUT ?= 900
windows:
	@scripts/install-deps $(WINDOWS_DEPS)
	cmake -S . -B $(WINDOWS_DIR) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release -DDPC_WERROR=ON \
	  -DDPC_LINUX_BUILD=$(CURDIR)/$(BUILD_DIR)
	cmake --build $(WINDOWS_DIR) -j $(JOBS)

# The Windows build's suites under Wine, and doorphonectl.exe on the emulated controller through Windows' own HID
# calls, its wire log compared with the Linux build's byte for byte (which is why it builds Linux too); and
# doorphonectl.exe built a second time from a fresh copy of the tree, which must give the same bytes. Then the
# window for Windows, as make test-windows-gui runs it.
test-windows: build
	@scripts/install-deps $(WINDOWS_DEPS) wine wine64
	$(MAKE) windows
	ctest --test-dir $(WINDOWS_DIR) --output-on-failure -j $(JOBS) --timeout $(WINE_TEST_TIMEOUT)
	scripts/check-windows-reproducible $(WINDOWS_DIR) $(WINDOWS_DIR)/reproducible doorphonectl
	$(MAKE) test-windows-gui

# The window for Windows: its suites under Wine, and the program itself on an X server (Xvfb) driven with
# xdotool on the emulated controller, its wire log compared with the Linux window's for the same steps.
test-windows-gui: build
	@scripts/install-deps $(WINDOWS_DEPS) wine wine64 xvfb xdotool
	$(MAKE) windows-gui
	ctest --test-dir $(WINDOWS_GUI_DIR) --output-on-failure -L window --timeout $(WINE_TEST_TIMEOUT)

# Formatting by the tree's .clang-format: format-check fails on any line that differs (CI runs it first), format
# rewrites them. The sources are the tracked C and C++ files; the bundled corpus is data.
FORMAT_SOURCES = $(shell git ls-files '*.c' '*.cpp' '*.h')
format-check:
	@scripts/install-deps clang-format
	@echo "clang-format --dry-run --Werror on $(words $(FORMAT_SOURCES)) files"
	@clang-format --dry-run --Werror $(FORMAT_SOURCES)

format:
	@scripts/install-deps clang-format
	clang-format -i $(FORMAT_SOURCES)

# clang-tidy with the checks in .clang-tidy (bugprone and performance, less those that only restate the style)
# over every translation unit of the build; a finding fails it.
TIDY_DIR ?= build-tidy
tidy: deps
	@scripts/install-deps clang-tidy
	cmake -S . -B $(TIDY_DIR) -DCMAKE_BUILD_TYPE=Debug -DCMAKE_EXPORT_COMPILE_COMMANDS=ON
	run-clang-tidy -quiet -p $(TIDY_DIR) -j $(JOBS) '^$(CURDIR)/(app|backend|cli|device|portable|session|settings|sim|testbed|ui)/'

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(PACKAGE_DIR) $(TSAN_DIR) $(FUZZ_DIR) $(WINDOWS_DIR) $(WINDOWS_GUI_DIR) $(TIDY_DIR)
