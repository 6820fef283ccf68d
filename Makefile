# Entry points: deps, build, test, sanitize, run, package. See README.md.
BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
PACKAGE_DIR  ?= build-package
JOBS         ?= $(shell nproc)
CMAKE_TYPE   ?= RelWithDebInfo

.PHONY: all deps build test sanitize run bench package clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=$(CMAKE_TYPE) -DDPC_WERROR=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

sanitize: deps
	cmake -S . -B $(SANITIZE_DIR) -DCMAKE_BUILD_TYPE=Debug -DDPC_SANITIZE=ON -DDPC_WERROR=ON
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

bench: build
	$(BUILD_DIR)/bench/stream_bench
	$(BUILD_DIR)/bench/dialog_bench
	bench/cli_start.sh $(BUILD_DIR)/doorphonectl

# A Debian package of a release build for /usr, without the tests: $(PACKAGE_DIR)/package/*.deb
package: deps
	cmake -S . -B $(PACKAGE_DIR) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DBUILD_TESTING=OFF -DDPC_WERROR=ON
	cmake --build $(PACKAGE_DIR) -j $(JOBS)
	cd $(PACKAGE_DIR) && cpack
	dpkg-deb -c $(PACKAGE_DIR)/package/*.deb

run: build
	$(BUILD_DIR)/doorphoneconfig --simulate

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) $(PACKAGE_DIR)
