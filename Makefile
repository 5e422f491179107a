# One-command set-up for Debian 12: `make run` and `make test` install what is
# missing, configure, build, and then start the console or run every test.
# `make package` builds the release and the Debian package build/socketclient_*.deb.

PRESET ?= default
BUILD_DIR := build/$(PRESET)
APP := $(BUILD_DIR)/src/app/socketclient
FUZZ_SECONDS ?= 60

PACKAGES := g++ cmake ninja-build qt6-base-dev libgtest-dev libgmock-dev \
            libbenchmark-dev libtomlplusplus-dev libssl-dev netbase xvfb xauth libxml2-utils tshark xxd
FUZZ_PACKAGES := clang libclang-rt-14-dev
# The Debian package and its checks (part of `make test`): CPack's DEB
# generator needs dpkg-shlibdeps (dpkg-dev) and file; the checks validate with
# lintian, desktop-file-validate and appstreamcli.
PACKAGE_PACKAGES := dpkg-dev file lintian desktop-file-utils appstream

# Installs the Debian packages in $(1) that are not installed yet.
define install_missing
	@missing=$$(for p in $(1); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed$$' || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:" $$missing; \
	    apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y $$missing || exit 1; \
	  else \
	    echo "Missing packages. Run this once, then try again:"; \
	    echo "  sudo apt-get update && sudo apt-get install -y" $$missing; \
	    exit 1; \
	  fi; \
	fi
endef

.PHONY: all deps package-deps build run test package bench soak fuzz clean

all: build

deps:
	$(call install_missing,$(PACKAGES))

package-deps:
	$(call install_missing,$(PACKAGE_PACKAGES))

build: deps
	@[ -f $(BUILD_DIR)/CMakeCache.txt ] || cmake --preset $(PRESET)
	cmake --build --preset $(PRESET)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ] && [ -z "$$QT_QPA_PLATFORM" ]; then \
	  echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): the console needs a desktop session."; \
	  echo "Start it from a graphical terminal, or try it under a virtual X server:"; \
	  echo "  xvfb-run -a $(APP)"; \
	  exit 1; \
	fi
	$(APP)

test: build package-deps
	ctest --preset $(PRESET)

package: deps package-deps
	@[ -f build/release/CMakeCache.txt ] || cmake --preset release
	cmake --build --preset release
	cpack --preset release

bench: deps
	@[ -f build/bench/CMakeCache.txt ] || cmake --preset bench
	cmake --build --preset bench
	@for b in build/bench/bench/*_bench; do echo "== $$b"; $$b || exit 1; done

# 1000 connect/disconnect cycles and a 10-minute flood through the console;
# e.g. `make soak SOAK_ARGS="--cycles 200 --flood-seconds 60"` for a short run.
SOAK_ARGS ?=
soak: deps
	@[ -f build/bench/CMakeCache.txt ] || cmake --preset bench
	cmake --build --preset bench --target soak
	build/bench/bench/soak $(SOAK_ARGS)

fuzz: deps
	$(call install_missing,$(FUZZ_PACKAGES))
	@[ -f build/fuzz/CMakeCache.txt ] || cmake --preset fuzz
	cmake --build --preset fuzz
	@for f in build/fuzz/fuzz/*_fuzz; do \
	  echo "== $$f for $(FUZZ_SECONDS) s"; \
	  mkdir -p build/fuzz/corpus/$$(basename $$f); \
	  $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 build/fuzz/corpus/$$(basename $$f) || exit 1; \
	done

clean:
	rm -rf build
