# make test: install what is missing, build both builds, run every test (native, then under Wine).
# make demo [SCENARIO=...]: install what is missing, build, and install the demo product with the
# packed stub in quiet mode under Wine, against loopback package and report servers; tell what
# happened.
# make package REPORT_HOST=host PACKAGE_URL=https://... PACKAGE_SIGNER=name|PACKAGE_SHA256=hex
# [THANK_YOU_URL=... CHANNEL=... TIMESTAMP_URL=...]: build the win32 stub for that release, pin its
# package, sign it and pack the UI payload into it: dist/SorvaneProSetup.exe.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
NATIVE_DIR := build/native
WIN32_DIR := build/win32
WIN64_DIR := build/win64
# The shipped stub (make package): the win32 build again, for the report server in REPORT_HOST.
RELEASE_DIR := build/release
# The release settings, all in one place (tools/release checks them together). Passed to the recipes
# through the environment, so that no value is ever read as shell code.
REPORT_HOST ?=
PACKAGE_URL ?=
THANK_YOU_URL ?=
CHANNEL ?=
PACKAGE_SHA256 ?=
PACKAGE_SIGNER ?=
TIMESTAMP_URL ?=
export REPORT_HOST PACKAGE_URL THANK_YOU_URL CHANNEL PACKAGE_SHA256 PACKAGE_SIGNER TIMESTAMP_URL
# The build-machine tools (stubpack) that the Windows builds use to pack their stubs for the tests.
NATIVE_TOOLS := $(abspath $(NATIVE_DIR)/bin)
PAYLOAD_DIR := build/payload
DIST_DIR := dist
# The native build makes a self-signed test certificate; a release passes its own pair.
SIGN_CERT ?= $(NATIVE_DIR)/test-cert/test-cert.pem
SIGN_KEY ?= $(NATIVE_DIR)/test-cert/test-key.pem
# The Windows build that Wine can run here: win32 where the kernel runs 32-bit programs, otherwise
# the x86_64 build of the same sources (scripts/wine-arch). Asked when a recipe runs, after
# install-deps has put Wine in place. The shipped stub is always the win32 one.
WINE_ARCH = $$(scripts/wine-arch)

.PHONY: all deps build build-native build-win32 build-win64 test demo package bench fuzz clean

all: build

deps:
	@scripts/install-deps

build: build-native build-win32 build-win64

build-native: deps
	@cmake --no-warn-unused-cli -S . -B $(NATIVE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(NATIVE_DIR) -j $(JOBS)

# The Windows builds come after the native one: their packed-stub tests run its stubpack.
build-win32: deps build-native
	@wine_tests=$$([[ $(WINE_ARCH) == win32 ]] && echo ON || echo OFF); \
	cmake --no-warn-unused-cli -S . -B $(WIN32_DIR) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DSORVANE_BUILD_WINE_TESTS=$$wine_tests \
	  -DSORVANE_NATIVE_TOOLS=$(NATIVE_TOOLS) >/dev/null
	@cmake --build $(WIN32_DIR) -j $(JOBS)

# Only where Wine cannot run the win32 build.
build-win64: deps build-native
	@if [[ $(WINE_ARCH) == win64 ]]; then \
	  cmake --no-warn-unused-cli -S . -B $(WIN64_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DSORVANE_BUILD_WINE_TESTS=ON \
	    -DSORVANE_NATIVE_TOOLS=$(NATIVE_TOOLS) >/dev/null && \
	  cmake --build $(WIN64_DIR) -j $(JOBS); \
	fi

test: build
	@echo "== native tests (plain code under ASan and UBSan) =="
	@ctest --test-dir $(NATIVE_DIR) --output-on-failure -j $(JOBS)
	@echo "== Wine tests ($(WINE_ARCH) build) =="
	@scripts/wine-session ctest --test-dir build/$(WINE_ARCH) --output-on-failure -j $(JOBS)

# SCENARIO: success (the default), download-404, no-network, no-setup, installer-fails,
# installer-cancelled, or all (scripts/demo).
SCENARIO ?= success
demo: build
	@scripts/demo build/$(WINE_ARCH) $(SCENARIO)

# The shipped file: the win32 stub built for the release's report server, signed, with the staged UI
# payload (its js/stubparams.js written from the release settings) in its certificate table and the
# package pins in its signed trust slot; then the signature is checked and the container listed.
# There are no defaults: a shipped stub never talks to a test host. Every missing or unusable
# setting is named before anything is built.
package: build-native
	@$(NATIVE_DIR)/bin/release-settings --environment
	@cmake --no-warn-unused-cli -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DSORVANE_BUILD_WINE_TESTS=OFF \
	  -DSORVANE_NATIVE_TOOLS=$(NATIVE_TOOLS) -DSORVANE_REPORT_HOST="$$REPORT_HOST" >/dev/null
	@cmake --build $(RELEASE_DIR) -j $(JOBS) --target SorvaneProSetup
	@scripts/stage-payload $(PAYLOAD_DIR)
	@$(NATIVE_DIR)/bin/release-settings --environment --stubparams $(PAYLOAD_DIR)/js/stubparams.js 2>/dev/null
	@mkdir -p $(DIST_DIR)
	@rm -f $(DIST_DIR)/SorvaneProSetup.exe
	@$(NATIVE_DIR)/bin/stubpack pack --stub $(RELEASE_DIR)/bin/SorvaneProSetup.exe --payload $(PAYLOAD_DIR) \
	  --list ui/payload.list --cert $(SIGN_CERT) --key $(SIGN_KEY) --out $(DIST_DIR)/SorvaneProSetup.exe \
	  $${PACKAGE_SHA256:+--package-sha256 "$$PACKAGE_SHA256"} $${PACKAGE_SIGNER:+--package-signer "$$PACKAGE_SIGNER"} \
	  $${TIMESTAMP_URL:+--timestamp-url "$$TIMESTAMP_URL"}
	@echo "== osslsigncode verify =="
	@osslsigncode verify -CAfile $(SIGN_CERT) -in $(DIST_DIR)/SorvaneProSetup.exe
	@echo "== payload entries =="
	@$(NATIVE_DIR)/bin/stubpack list $(DIST_DIR)/SorvaneProSetup.exe

# make bench: one table: the download benchmark (the stub's engine, the platform's
# URLDownloadToFileW, curl), the extraction benchmark (the stub's unzipping, native unzip) and the
# start-up benchmark (process creation to the first report), with the machine they ran on.
bench: build
	@bench/run-bench

# make fuzz [FUZZ_SECONDS=60]: build the native build, then run every libFuzzer target for
# FUZZ_SECONDS each over its persistent corpus build/native/fuzz/<target>/corpus (which grows from run
# to run; the committed seeds and regression inputs beside the target are read with it). Prints the
# figures libFuzzer ends with for each target, and fails naming the crash file of every target that
# found one (a regression input to keep under src/<subsystem>/fuzz_regressions/<target>/).
FUZZ_SECONDS ?= 60
fuzz: build-native
	@shopt -s nullglob; failed=(); fuzzers=($(NATIVE_DIR)/bin/*_fuzz); \
	if (( $${#fuzzers[@]} == 0 )); then echo "make fuzz: no fuzz targets in $(NATIVE_DIR)/bin (clang builds them)" >&2; exit 2; fi; \
	for fuzzer in "$${fuzzers[@]}"; do \
	  target=$${fuzzer##*/}; subsystem=$${target%%.*}; stem=$${target#*.}; \
	  work=$(NATIVE_DIR)/fuzz/$$target; mkdir -p $$work/corpus $$work/artifacts; \
	  inputs=(); \
	  for folder in src/$$subsystem/fuzz_corpus/$$stem src/$$subsystem/fuzz_regressions/$$stem; do \
	    [[ -d $$folder ]] && inputs+=($$folder); \
	  done; \
	  echo "== $$target ($(FUZZ_SECONDS) s) =="; \
	  if $$fuzzer -max_total_time=$(FUZZ_SECONDS) -timeout=10 -artifact_prefix=$$work/artifacts/ \
	       $$work/corpus "$${inputs[@]}" > $$work/last-run.log 2>&1; then \
	    grep -E '^#[0-9]+[[:space:]]+DONE|^Done [0-9]+ runs' $$work/last-run.log; \
	  else \
	    crash=$$(sed -n 's/.*Test unit written to //p' $$work/last-run.log | tail -n 1); \
	    grep -m 1 '^SUMMARY' $$work/last-run.log; \
	    echo "$$target FAILED: $${crash:-no crash file, see $$work/last-run.log}"; \
	    failed+=("$$target: $${crash:-$$work/last-run.log}"); \
	  fi; \
	done; \
	if (( $${#failed[@]} )); then printf 'make fuzz: %s\n' "$${failed[@]}" >&2; exit 1; fi

# A test run that was cut short can leave the test server running and its tiny volume mounted.
clean:
	@for state in build/*/http-server build/*/report-collector; do [[ -d $$state ]] && scripts/test-http-server stop $$state; done; true
	rm -rf build dist
