# The set-up commands of the README. Each one installs what it needs first.
JOBS ?= $(shell nproc)

.PHONY: deps build sample run demo test test-asan bench bench-compare install package clean

deps:
	scripts/install-deps

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

# A sample clip: 4 s of 720x576 at 25 fps with a tone.
DEMO = build/demo
sample: build
	@mkdir -p $(DEMO)
	@test -f $(DEMO)/sample.avi || ffmpeg -v error -y \
	  -f lavfi -i testsrc2=size=720x576:rate=25:duration=4 \
	  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=4 \
	  -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 2 $(DEMO)/sample.avi

# The GUI with the sample clip open as its source. Without a display the same
# conversion (the stored settings, the proposed sample_proc.avi) runs through
# tavrick with its progress line, after one line saying why.
run: sample
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY$$QT_QPA_PLATFORM" ]; then \
	  build/app/converter $(CURDIR)/$(DEMO)/sample.avi; \
	else \
	  echo "converter needs a display (X11 or Wayland); converting with tavrick instead."; \
	  build/cli/tavrick convert $(DEMO)/sample.avi $(DEMO)/sample_proc.avi --yes; \
	fi

# The same conversion without the GUI: the sample to 50 fps with Lansin 2.
demo: sample
	TAVRICK_REGISTRY_DIR=$(DEMO)/registry build/cli/tavrick convert $(DEMO)/sample.avi $(DEMO)/sample-50fps.avi \
	  --rate 50 --method lansin2 --deinterlace off --resample coarse --aspect 1:1 --yes
	@echo "Converted $(DEMO)/sample.avi (25 fps) into $(DEMO)/sample-50fps.avi (50 fps)."

test: build
	ctest --preset default -j $(JOBS)

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

bench: build
	build/bench/tavrick_bench_kernels

# tavrick against FFmpeg's framerate filter on the same clips (several GB of temporary files).
bench-compare: build
	bench/compare-ffmpeg

# The programs, the guide, the desktop entry, the icons and the man page below
# PREFIX (DESTDIR is honoured); package makes build/tavrick_2.03c_<arch>.deb.
PREFIX ?= /usr/local
install: build
	cmake --install build --prefix $(PREFIX)

package: build
	cd build && cpack -G DEB

clean:
	rm -rf build build-asan
