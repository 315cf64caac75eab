# The one entry a newcomer needs: `make run` and `make test`.
# `make install` (PREFIX, DESTDIR) and `make package` (a .deb in build/) for packagers.
BUILD    ?= build
PREFIX   ?= /usr/local
BENCHDIR ?= build-bench
SANDIR   ?= build-asan
FUZZDIR  ?= build-fuzz
# Seconds each fuzz target runs for under `make fuzz`.
FUZZ_SECONDS ?= 60
# Minutes the mutation run over the whole decode path takes under `make fuzz-decoder`.
MUTATE_MINUTES ?= 30
JOBS     ?= $(shell nproc)
SUDO     := $(shell [ "$$(id -u)" -eq 0 ] || echo sudo)

# Debian packages the build, the tests and the program need.
# clang with libFuzzer and its sanitizer runtimes builds the fuzz targets.
PACKAGES := cmake make g++ pkg-config qt6-base-dev qt6-svg-dev qt6-image-formats-plugins qt6-wayland libgl-dev \
            libwmf-dev libjpeg62-turbo-dev libspng-dev libdeflate-dev libpng-dev libtiff-dev libwebp-dev libheif-dev libjxl-dev libraw-dev liblcms2-dev zlib1g-dev libseccomp-dev libgtest-dev libgmock-dev libbenchmark-dev fonts-dejavu-core \
            desktop-file-utils appstream dpkg-dev file groff-base \
            clang-14 libclang-rt-14-dev libfuzzer-14-dev ccache

# What `make bench` measures with beside its own rows: LibRaw's own dcraw_emu (the raw
# reader's yardstick, at the reader's settings), perf (perf stat, perf record) and
# valgrind (callgrind's instruction counts, steady on a shared machine).
BENCH_PACKAGES := libraw-bin linux-perf valgrind

.PHONY: run test bench bench-deps clean deps build install package test-sanitize test-sanitize-decoding fuzz fuzz-build fuzz-decoder

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

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

package: build
	cmake --build $(BUILD) --target package

bench-deps:
	@missing=""; for p in $(BENCH_PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y $$missing; \
	fi

$(BENCHDIR)/CMakeCache.txt: | deps
	cmake -S . -B $(BENCHDIR) -DCMAKE_BUILD_TYPE=Release

bench: deps bench-deps $(BENCHDIR)/CMakeCache.txt
	cmake --build $(BENCHDIR) -j $(JOBS) --target vistrel_bench
	cd $(BENCHDIR) && QT_QPA_PLATFORM=offscreen ./vistrel_bench --benchmark_counters_tabular=true

# The whole suite under AddressSanitizer (with its leak checker) and
# UndefinedBehaviorSanitizer, in a Debug build of its own. SANITIZE_TARGET
# (one area's test program) and SANITIZE_FILTER (a gtest filter) run a part.
SANITIZE_TARGET ?= vistrel_tests
SANITIZE_FILTER ?=
SANITIZE_ENV := ASAN_OPTIONS=detect_leaks=1 \
                UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
                LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize-leaks.supp:print_suppressions=0 \
                QT_QPA_PLATFORM=offscreen

$(SANDIR)/CMakeCache.txt: | deps
	cmake -S . -B $(SANDIR) -DCMAKE_BUILD_TYPE=Debug -DVISTREL_SANITIZE=ON

test-sanitize: deps $(SANDIR)/CMakeCache.txt
ifeq ($(SANITIZE_FILTER),)
	cmake --build $(SANDIR) -j $(JOBS)
	cd $(SANDIR) && $(SANITIZE_ENV) ctest -j $(JOBS) --output-on-failure
else
	cmake --build $(SANDIR) -j $(JOBS) --target $(SANITIZE_TARGET)
	cd $(SANDIR) && $(SANITIZE_ENV) ./$(SANITIZE_TARGET) --gtest_filter='$(SANITIZE_FILTER)'
endif

# The decoder, the worker, the header readers, the colour conversion and the hostile
# corpus under the sanitizers.
test-sanitize-decoding:
	@$(MAKE) --no-print-directory test-sanitize SANITIZE_TARGET=vistrel_tests_colour SANITIZE_FILTER='Colour*'
	@$(MAKE) --no-print-directory test-sanitize SANITIZE_TARGET=vistrel_tests_decoding \
	  SANITIZE_FILTER='Decode*:Worker*:HostileFiles*:MetafileWalk*:HeaderReaders*:TiffReader*:WebpReader*:HeifReaders*:Orientation*:Jpeg*:RawReader*'

# libFuzzer targets over the program's own readers of file bytes, each run
# for FUZZ_SECONDS from the seed corpus in fuzz/corpus/<target>/; what they
# discover goes to $(FUZZDIR)/corpus/<target>/, never into the repository.
# worker_messages reads what a decoder worker sends the program; icc_jpeg, colour_png,
# icc_tiff and icc_webp read what colours a file says it means; boxes walks HEIF's and
# JPEG XL's boxes and size header, sizes every format's size walker (camera raw files' too);
# heif_decode, jxl_decode and raw_decode are the libraries' readers.
FUZZ_TARGETS := jpeg_scan gif_frame metafile sizes worker_messages png_decode bmp_decode tiff_decode webp_decode \
                icc_jpeg colour_png icc_tiff icc_webp boxes heif_decode jxl_decode raw_decode
# Targets over a library's code whose crashes are its own: the run goes on past each one
# (kept as an artifact), as the confined decoder outlives it in the program.
FUZZ_PAST_CRASHES := raw_decode
FUZZ_FLAGS := -std=c++20 -O1 -g -I. -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all

$(FUZZDIR)/fuzz_worker_messages: fuzz/fuzz_worker_messages.cpp decoding/worker/WorkerMessages.cpp decoding/worker/WorkerMessages.h \
  kernels/pixelmask.cpp kernels/pixelmask.h | deps
	@mkdir -p $(FUZZDIR)
	clang++-14 $(FUZZ_FLAGS) -fPIC $$(pkg-config --cflags Qt6Gui) fuzz/fuzz_worker_messages.cpp \
	  decoding/worker/WorkerMessages.cpp kernels/pixelmask.cpp $$(pkg-config --libs Qt6Gui) -o $@

# Our own PNG and BMP readers, whole, into a band sink and into a surface.
# The shared walkers (the byte reader, TIFF directories, JPEG segments) are headers in formats/.
WALKER_HEADERS := $(wildcard formats/*.h)
$(FUZZDIR)/fuzz_png_decode: fuzz/fuzz_png_decode.cpp fuzz/reader_checks.h decoding/readers/PngDecode.cpp decoding/readers/PngDecode.h \
  decoding/readers/Orientation.cpp decoding/readers/Orientation.h decoding/readers/OpaqueRgb.cpp $(WALKER_HEADERS) | deps
	@mkdir -p $(FUZZDIR)
	clang++-14 $(FUZZ_FLAGS) -fPIC $$(pkg-config --cflags Qt6Gui spng libdeflate zlib) fuzz/fuzz_png_decode.cpp \
	  decoding/readers/PngDecode.cpp decoding/readers/Orientation.cpp decoding/readers/OpaqueRgb.cpp platform/Surface.cpp \
	  $$(pkg-config --libs Qt6Gui spng libdeflate zlib) -o $@

$(FUZZDIR)/fuzz_bmp_decode: fuzz/fuzz_bmp_decode.cpp fuzz/reader_checks.h decoding/readers/BmpDecode.cpp decoding/readers/BmpDecode.h \
  $(WALKER_HEADERS) | deps
	@mkdir -p $(FUZZDIR)
	clang++-14 $(FUZZ_FLAGS) -fPIC $$(pkg-config --cflags Qt6Gui) fuzz/fuzz_bmp_decode.cpp \
	  decoding/readers/BmpDecode.cpp platform/Surface.cpp $$(pkg-config --libs Qt6Gui) -o $@

# The streaming readers, with the conversion and the surface they fill.
READER_SOURCES := decoding/readers/RowOutput.cpp decoding/readers/OpaqueRgb.cpp decoding/readers/Orientation.cpp platform/Surface.cpp
$(FUZZDIR)/fuzz_tiff_decode: fuzz/fuzz_tiff_decode.cpp fuzz/band_check.h decoding/readers/TiffDecode.cpp $(READER_SOURCES) \
  $(WALKER_HEADERS) | deps
	@mkdir -p $(FUZZDIR)
	clang++-14 $(FUZZ_FLAGS) -fPIC $$(pkg-config --cflags Qt6Gui libtiff-4) fuzz/fuzz_tiff_decode.cpp \
	  decoding/readers/TiffDecode.cpp $(READER_SOURCES) $$(pkg-config --libs Qt6Gui libtiff-4) -o $@

$(FUZZDIR)/fuzz_webp_decode: fuzz/fuzz_webp_decode.cpp fuzz/band_check.h decoding/readers/WebpDecode.cpp $(READER_SOURCES) \
  $(WALKER_HEADERS) | deps
	@mkdir -p $(FUZZDIR)
	clang++-14 $(FUZZ_FLAGS) -fPIC $$(pkg-config --cflags Qt6Gui libwebp libwebpdemux) fuzz/fuzz_webp_decode.cpp \
	  decoding/readers/WebpDecode.cpp $(READER_SOURCES) $$(pkg-config --libs Qt6Gui libwebp libwebpdemux) -o $@

# HEIC, AVIF and JPEG XL through their libraries, with the colour conversion their tags ask for.
# The colour conversion with the kernels its fast path runs on.
COLOUR_SOURCES := colour/ColourConvert.cpp colour/ColourTags.cpp kernels/matrix_curves.cpp kernels/simd.cpp
LIBRARY_READER_SOURCES := decoding/readers/DecodedRows.cpp decoding/readers/ColourBands.cpp $(COLOUR_SOURCES) \
                          formats/FileHeaders.cpp $(READER_SOURCES)
$(FUZZDIR)/fuzz_heif_decode $(FUZZDIR)/fuzz_jxl_decode: $(FUZZDIR)/fuzz_%_decode: fuzz/fuzz_%_decode.cpp fuzz/band_check.h \
  $(LIBRARY_READER_SOURCES) decoding/readers/HeifDecode.cpp decoding/readers/JxlDecode.cpp $(WALKER_HEADERS) | deps
	@mkdir -p $(FUZZDIR)
	clang++-14 $(FUZZ_FLAGS) -fPIC $$(pkg-config --cflags Qt6Gui lcms2 libheif libjxl libjxl_threads) fuzz/fuzz_$*_decode.cpp \
	  $(if $(filter heif,$*),decoding/readers/HeifDecode.cpp,decoding/readers/JxlDecode.cpp) $(LIBRARY_READER_SOURCES) \
	  $$(pkg-config --libs Qt6Gui lcms2 libheif libjxl libjxl_threads) -lz -o $@

# Camera raw files through LibRaw, which brings GCC's OpenMP runtime: the reader's own
# pragmas are left out of this build (clang makes them for another runtime).
$(FUZZDIR)/fuzz_raw_decode: fuzz/fuzz_raw_decode.cpp fuzz/band_check.h decoding/readers/RawDecode.cpp \
  decoding/readers/RawDecode.h formats/RawHeaders.cpp $(READER_SOURCES) $(WALKER_HEADERS) | deps
	@mkdir -p $(FUZZDIR)
	clang++-14 $(FUZZ_FLAGS) -fPIC -Wno-unknown-pragmas $$(pkg-config --cflags Qt6Gui) -I/usr/include/libraw \
	  fuzz/fuzz_raw_decode.cpp decoding/readers/RawDecode.cpp formats/RawHeaders.cpp $(READER_SOURCES) \
	  $$(pkg-config --libs Qt6Gui) -lraw_r -lgomp -llcms2 -o $@

# The header walkers (formats/) and the colour tags (colour/), which read file bytes without Qt.
$(FUZZDIR)/fuzz_%: fuzz/fuzz_%.cpp formats/FileHeaders.cpp formats/RawHeaders.cpp $(WALKER_HEADERS) colour/ColourTags.cpp \
  colour/ColourTags.h | deps
	@mkdir -p $(FUZZDIR)
	clang++-14 $(FUZZ_FLAGS) fuzz/fuzz_$*.cpp formats/FileHeaders.cpp formats/RawHeaders.cpp colour/ColourTags.cpp -lz -o $@

fuzz-build: $(FUZZ_TARGETS:%=$(FUZZDIR)/fuzz_%)

fuzz: fuzz-build
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZDIR)/corpus/$$t; \
	  echo "== $$t ($(FUZZ_SECONDS) s)"; \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitize-leaks.supp:print_suppressions=0 \
	  past=""; case " $(FUZZ_PAST_CRASHES) " in *" $$t "*) past="-fork=1 -ignore_crashes=1 -ignore_ooms=1 -ignore_timeouts=1";; esac; \
	  $(FUZZDIR)/fuzz_$$t $(FUZZDIR)/corpus/$$t fuzz/corpus/$$t -max_total_time=$(FUZZ_SECONDS) $$past \
	    -timeout=5 -max_len=65536 -artifact_prefix=$(FUZZDIR)/$$t- -print_final_stats=1 || exit 1; \
	done

# Mutants of seed pictures of every format decoded through the worker, as the program
# loads them, for MUTATE_MINUTES; each decode must leave the program unharmed. The
# workers' complaints go to $(FUZZDIR)/decoder-stderr.log, findings to
# $(FUZZDIR)/decoder-findings/. MUTATE_SEED repeats a run.
MUTATE_SEED ?=
fuzz-decoder: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target mutate_decode
	@mkdir -p $(FUZZDIR)
	$(BUILD)/mutate_decode --minutes $(MUTATE_MINUTES) --findings $(FUZZDIR)/decoder-findings \
	  $(if $(MUTATE_SEED),--seed $(MUTATE_SEED)) tests/hostile fuzz/corpus/* 2>$(FUZZDIR)/decoder-stderr.log

clean:
	rm -rf $(BUILD) $(BENCHDIR) $(SANDIR) $(FUZZDIR)
