# make test: install what is missing, build both builds, run every test (native, then under Wine).
# make demo: install what is missing, build, run the stub under Wine and report what it did.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
# The Windows build that Wine can run here (see scripts/wine-arch); the shipped stub is always win32.
WINE_ARCH := $(shell scripts/wine-arch)
NATIVE_DIR := build/native
WIN32_DIR := build/win32
WINE_DIR := build/$(WINE_ARCH)
WIN32_TESTS := $(if $(filter win32,$(WINE_ARCH)),ON,OFF)

.PHONY: all deps build build-native build-win32 build-wine test test-native test-wine demo clean

all: build

deps:
	@scripts/install-deps

build: build-native build-win32 build-wine

build-native: deps
	@cmake --no-warn-unused-cli -S . -B $(NATIVE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=g++ >/dev/null
	@cmake --build $(NATIVE_DIR) -j $(JOBS)

build-win32: deps
	@cmake --no-warn-unused-cli -S . -B $(WIN32_DIR) -G Ninja -DCMAKE_BUILD_TYPE=MinSizeRel \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DSORVANE_BUILD_WINE_TESTS=$(WIN32_TESTS) >/dev/null
	@cmake --build $(WIN32_DIR) -j $(JOBS)

build-wine: deps
ifeq ($(WINE_ARCH),win64)
	@cmake --no-warn-unused-cli -S . -B $(WINE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DSORVANE_BUILD_WINE_TESTS=ON >/dev/null
	@cmake --build $(WINE_DIR) -j $(JOBS)
endif

test: build
	@echo "== native tests (plain code under ASan and UBSan) =="
	@ctest --test-dir $(NATIVE_DIR) --output-on-failure -j $(JOBS)
	@echo "== Wine tests ($(WINE_ARCH) build) =="
	@scripts/wine-session ctest --test-dir $(WINE_DIR) --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo $(WINE_DIR)/bin/SorvaneProSetup.exe

clean:
	rm -rf build dist
