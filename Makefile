# Entry points: deps, build, test, sanitize, run. See README.md.
BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
JOBS         ?= $(shell nproc)
CMAKE_TYPE   ?= RelWithDebInfo

.PHONY: all deps build test sanitize run bench clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(CMAKE_TYPE)
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DDPC_SANITIZE=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

bench: build
	$(BUILD_DIR)/bench/stream_bench
	$(BUILD_DIR)/bench/dialog_bench
	bench/cli_start.sh $(BUILD_DIR)/doorphonectl

run: build
	$(BUILD_DIR)/doorphoneconfig --simulate

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR)
