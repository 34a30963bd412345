# make test: install what is missing, build both builds, run every test (native, then under Wine).
# make demo: install what is missing, build, run the stub under Wine and report what it did.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
NATIVE_DIR := build/native
WIN32_DIR := build/win32
WIN64_DIR := build/win64
# The Windows build that Wine can run here: win32 where the kernel runs 32-bit programs, otherwise
# the x86_64 build of the same sources (scripts/wine-arch). Asked when a recipe runs, after
# install-deps has put Wine in place. The shipped stub is always the win32 one.
WINE_ARCH = $$(scripts/wine-arch)

.PHONY: all deps build build-native build-win32 build-win64 test demo clean

all: build

deps:
	@scripts/install-deps

build: build-native build-win32 build-win64

build-native: deps
	@cmake --no-warn-unused-cli -S . -B $(NATIVE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(NATIVE_DIR) -j $(JOBS)

build-win32: deps
	@wine_tests=$$([[ $(WINE_ARCH) == win32 ]] && echo ON || echo OFF); \
	cmake --no-warn-unused-cli -S . -B $(WIN32_DIR) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DSORVANE_BUILD_WINE_TESTS=$$wine_tests >/dev/null
	@cmake --build $(WIN32_DIR) -j $(JOBS)

# Only where Wine cannot run the win32 build.
build-win64: deps
	@if [[ $(WINE_ARCH) == win64 ]]; then \
	  cmake --no-warn-unused-cli -S . -B $(WIN64_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DSORVANE_BUILD_WINE_TESTS=ON >/dev/null && \
	  cmake --build $(WIN64_DIR) -j $(JOBS); \
	fi

test: build
	@echo "== native tests (plain code under ASan and UBSan) =="
	@ctest --test-dir $(NATIVE_DIR) --output-on-failure -j $(JOBS)
	@echo "== Wine tests ($(WINE_ARCH) build) =="
	@scripts/wine-session ctest --test-dir build/$(WINE_ARCH) --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo build/$(WINE_ARCH)/bin/SorvaneProSetup.exe

clean:
	rm -rf build dist
