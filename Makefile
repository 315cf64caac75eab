# The one entry a newcomer needs: `make run` and `make test`.
BUILD    ?= build
BENCHDIR ?= build-bench
JOBS     ?= $(shell nproc)
SUDO     := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

# Debian packages the build, the tests and the program need.
PACKAGES := cmake make g++ pkg-config qt6-base-dev qt6-image-formats-plugins libgl-dev \
            libwmf-dev libjpeg62-turbo-dev libseccomp-dev libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core

.PHONY: run test bench clean deps build

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y $$missing; \
	fi

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: build
	cd $(BUILD) && ./vistrel

test: build
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest -j $(JOBS) --output-on-failure

$(BENCHDIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BENCHDIR) -DCMAKE_BUILD_TYPE=Release

bench: deps $(BENCHDIR)/CMakeCache.txt
	cmake --build $(BENCHDIR) -j $(JOBS) --target vistrel_bench
	cd $(BENCHDIR) && QT_QPA_PLATFORM=offscreen ./vistrel_bench --benchmark_counters_tabular=true

clean:
	rm -rf $(BUILD) $(BENCHDIR)
