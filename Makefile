# The front door: every target installs what is missing, configures and builds.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	@cmake -S . -B $(BUILD) -G Ninja $(CMAKE_FLAGS) >/dev/null

configure: deps $(BUILD)/build.ninja

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The host tool over the stand-in's built-in cameras: list them, then grab
# 30 frames from the first and keep the last as a picture.
demo: build
	@echo "demo: kwcam list"
	@env -u MVSIM_CONFIG $(BUILD)/tools/kwcam/kwcam list
	@echo "demo: kwcam grab -n 30 --save $(BUILD)/demo-frame.png"
	@env -u MVSIM_CONFIG $(BUILD)/tools/kwcam/kwcam grab -n 30 --save $(BUILD)/demo-frame.png
	@echo "demo: the last frame is in $(abspath $(BUILD))/demo-frame.png"

clean:
	rm -rf $(BUILD) build-*
