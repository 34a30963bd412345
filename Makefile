# make test: install what is missing, build both builds, run every test (native, then under Wine,
# then a short soak).
# make demo [SCENARIO=...]: install what is missing, build, and install the demo product with the
# packed stub in quiet mode under Wine, against loopback package and report servers; tell what
# happened.
# make package REPORT_HOST=host PACKAGE_URL=https://.../Name.zip PACKAGE_SHA256=hex | PACKAGE_MANIFEST_KEY=hex
# PACKAGE_VERSION_FLOOR=a.b.c.d [PACKAGE_SIGNER=name PACKAGE_SIGNER_KEY=hex]
# [THANK_YOU_URL=... OFFLINE_URL=... CHANNEL=... TIMESTAMP_URL=...]: build the win32 stub for that release, pin its
# package, sign it and pack the UI payload into it: dist/SorvaneProSetup.exe.
# make verify-release DIST=file with the same release settings: rebuild the commit checked out here
# and compare: "reproduced", or the first part of the file that differs.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
NATIVE_DIR := build/native
WIN32_DIR := build/win32
WIN64_DIR := build/win64
# The shipped stub (make package): the win32 build again, for the report server in REPORT_HOST.
RELEASE_DIR := build/release
# The release settings, all in one place: whatever makes one shipped file differ from another built
# from the same commit (tools/release checks them together). make package takes them, and make
# verify-release hands the same ones to its rebuild. They reach the recipes through the environment,
# so that no value is ever read as shell code.
RELEASE_SETTINGS := REPORT_HOST PACKAGE_URL THANK_YOU_URL CHANNEL PACKAGE_SHA256 PACKAGE_SIGNER PACKAGE_SIGNER_KEY PACKAGE_MANIFEST_KEY PACKAGE_VERSION_FLOOR TIMESTAMP_URL OFFLINE_URL
REPORT_HOST ?=
PACKAGE_URL ?=
THANK_YOU_URL ?=
CHANNEL ?=
PACKAGE_SHA256 ?=
PACKAGE_SIGNER ?=
PACKAGE_SIGNER_KEY ?=
PACKAGE_MANIFEST_KEY ?=
PACKAGE_VERSION_FLOOR ?=
TIMESTAMP_URL ?=
OFFLINE_URL ?=
export $(RELEASE_SETTINGS)
# The stub's PE timestamp: the time of the commit being built, so that two builds of it agree. A
# SOURCE_DATE_EPOCH in the environment wins (a rebuild from an export, which has no git history).
SOURCE_DATE_EPOCH ?= $(shell git log -1 --format=%ct 2>/dev/null)
VERIFY_DIR := build/verify
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

.PHONY: all deps build build-native build-tools build-win32 build-win64 test soak demo package verify-release bench fuzz clean receiver

all: build

deps:
	@scripts/install-deps

build: build-native build-win32 build-win64

NATIVE_CONFIGURE = cmake --no-warn-unused-cli -S . -B $(NATIVE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null

build-native: deps
	@$(NATIVE_CONFIGURE)
	@cmake --build $(NATIVE_DIR) -j $(JOBS)

# Only what packing needs from the native build: stubpack and the test certificate.
build-tools: deps
	@$(NATIVE_CONFIGURE)
	@cmake --build $(NATIVE_DIR) -j $(JOBS) --target stubpack stubpack_test_cert release-settings

# The Windows builds come after the native one: their packed-stub tests run its stubpack. The win32
# build is the shipped one, and it always builds every Wine test and test program, whether or not
# this machine can run them: a fault of the 32-bit build (a calling convention, a pointer size, a
# structure layout) must break the build on every machine.
build-win32: deps build-native
	@cmake --no-warn-unused-cli -S . -B $(WIN32_DIR) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DSORVANE_BUILD_WINE_TESTS=ON \
	  -DSORVANE_NATIVE_TOOLS=$(NATIVE_TOOLS) >/dev/null
	@cmake --build $(WIN32_DIR) -j $(JOBS)

# Only where Wine cannot run the win32 build: the same sources for x86_64, at the optimisation that
# ships, so that the tests, the demo and the benchmarks run code built as the stub is.
build-win64: deps build-native
	@if [[ $(WINE_ARCH) == win64 ]]; then \
	  cmake --no-warn-unused-cli -S . -B $(WIN64_DIR) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DSORVANE_BUILD_WINE_TESTS=ON \
	    -DSORVANE_NATIVE_TOOLS=$(NATIVE_TOOLS) >/dev/null && \
	  cmake --build $(WIN64_DIR) -j $(JOBS); \
	fi

test: build
	@echo "== native tests (plain code under ASan and UBSan) =="
	@ctest --test-dir $(NATIVE_DIR) --output-on-failure -j $(JOBS)
	@scripts/wine-arch --why | sed -n '2s/^/== note: /p'
	@echo "== window tests in a new prefix, in its first session ($(WINE_ARCH) build) =="
	@scripts/fresh-prefix-check build/$(WINE_ARCH)
	@echo "== Wine tests ($(WINE_ARCH) build) =="
	@scripts/wine-session ctest --test-dir build/$(WINE_ARCH) --output-on-failure -j $(JOBS)
	@echo "== soak, short: the stub from the shell, each scenario three times ($(WINE_ARCH) build) =="
	@scripts/soak build/$(WINE_ARCH) --repeat 3 --part shell

# make soak [SOAK_REPEAT=20]: every end-to-end scenario SOAK_REPEAT times, from a Windows parent (the
# end-to-end test programs, their cases repeated) and from the shell through Wine with stand-in
# installers; fails on any leftover, any wrong exit code, any run far slower than its siblings.
SOAK_REPEAT ?= 20
soak: build
	@scripts/soak build/$(WINE_ARCH) --repeat $(SOAK_REPEAT)

# SCENARIO: success (the default), download-404, no-network, no-setup, installer-fails, tampered-package,
# old-package, wrong-key, signed-manifest,
# installer-cancelled, or all (scripts/demo).
SCENARIO ?= success
demo: build
	@scripts/demo build/$(WINE_ARCH) $(SCENARIO)

# The shipped file: the win32 stub built for the release's report server, signed, with the staged UI
# payload (its js/stubparams.js written from the release settings) in its certificate table and the
# package pins in its signed trust slot; then the signature is checked, the container listed and the
# digest printed. There are no defaults: a shipped stub never talks to a test host. Every missing or
# unusable setting is named before anything is built.
package: build-tools
	@$(NATIVE_DIR)/bin/release-settings --environment
	@cmake --no-warn-unused-cli -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DSORVANE_BUILD_WINE_TESTS=OFF \
	  -DSORVANE_NATIVE_TOOLS=$(NATIVE_TOOLS) -DSORVANE_REPORT_HOST="$$REPORT_HOST" \
	  -DSORVANE_SOURCE_DATE_EPOCH="$(SOURCE_DATE_EPOCH)" >/dev/null
	@cmake --build $(RELEASE_DIR) -j $(JOBS) --target SorvaneProSetup
	@scripts/stage-payload $(PAYLOAD_DIR)
	@$(NATIVE_DIR)/bin/release-settings --environment --stubparams $(PAYLOAD_DIR)/js/stubparams.js 2>/dev/null
	@mkdir -p $(DIST_DIR)
	@rm -f $(DIST_DIR)/SorvaneProSetup.exe
	@$(NATIVE_DIR)/bin/stubpack pack --stub $(RELEASE_DIR)/bin/SorvaneProSetup.exe --payload $(PAYLOAD_DIR) \
	  --list ui/payload.list --cert $(SIGN_CERT) --key $(SIGN_KEY) --out $(DIST_DIR)/SorvaneProSetup.exe \
	  --release $${PACKAGE_SHA256:+--package-sha256 "$$PACKAGE_SHA256"} $${PACKAGE_SIGNER:+--package-signer "$$PACKAGE_SIGNER"} \
	  $${PACKAGE_SIGNER_KEY:+--package-signer-key "$$PACKAGE_SIGNER_KEY"} \
	  $${PACKAGE_MANIFEST_KEY:+--manifest-key "$$PACKAGE_MANIFEST_KEY"} \
	  $${PACKAGE_VERSION_FLOOR:+--version-floor "$$PACKAGE_VERSION_FLOOR"} $${TIMESTAMP_URL:+--timestamp-url "$$TIMESTAMP_URL"}
	@echo "== osslsigncode verify =="
	@osslsigncode verify -CAfile $(SIGN_CERT) -in $(DIST_DIR)/SorvaneProSetup.exe
	@echo "== payload entries =="
	@$(NATIVE_DIR)/bin/stubpack list $(DIST_DIR)/SorvaneProSetup.exe
	@echo "== Authenticode digest =="
	@$(NATIVE_DIR)/bin/stubpack digest $(DIST_DIR)/SorvaneProSetup.exe

# make verify-release DIST=path/to/SorvaneProSetup.exe with the release settings of make package:
# runs make package on a clean export of the commit checked out here (in build/verify), then compares
# the given file with that rebuild, the signature aside (scripts/verify-release).
verify-release:
	@if [[ -z "$(DIST)" ]]; then \
	  echo "make verify-release: name the file, e.g. make verify-release DIST=dist/SorvaneProSetup.exe and the release settings of make package" >&2; exit 2; \
	fi
	@scripts/verify-release "$(DIST)" $(VERIFY_DIR)

# make bench: one table: the download benchmark (the stub's engine, the platform's
# URLDownloadToFileW, curl), the extraction benchmark (the stub's unzipping, native unzip) and the
# start-up benchmark (process creation to the first report), with the machine they ran on.
bench: build
	@bench/run-bench

# make fuzz [FUZZ_SECONDS=60]: build the native build, then run every libFuzzer target for
# FUZZ_SECONDS each (scripts/fuzz).
FUZZ_SECONDS ?= 60
fuzz: build-native
	@scripts/fuzz $(NATIVE_DIR) $(FUZZ_SECONDS)

# make receiver: build the vendor's report receiver and run it in the foreground until Ctrl-C: reports
# on RECEIVER_LISTEN, the dashboard on DASHBOARD_LISTEN, stored in RECEIVER_DB (docs/receiver.md).
RECEIVER_LISTEN ?= 127.0.0.1:80
DASHBOARD_LISTEN ?= 127.0.0.1:8640
RECEIVER_DB ?= sqlite:build/receiver/receiver.sqlite
receiver: deps
	@$(NATIVE_CONFIGURE)
	@cmake --build $(NATIVE_DIR) -j $(JOBS) --target sorvane-receiver
	@RECEIVER_LISTEN="$(RECEIVER_LISTEN)" DASHBOARD_LISTEN="$(DASHBOARD_LISTEN)" RECEIVER_DB="$(RECEIVER_DB)" \
	  $(NATIVE_DIR)/bin/sorvane-receiver

# A test run that was cut short can leave the test server running and its tiny volume mounted.
clean:
	@for state in build/*/http-server build/*/report-collector; do [[ -d $$state ]] && scripts/test-http-server stop $$state; done; true
	rm -rf build dist
