# Thin wrapper over the CMake presets. Every target first makes sure the Debian packages
# the build needs are there (installing them when run as root).
PACKAGES := cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev libpng-dev \
            libclang-rt-14-dev
JOBS ?= 2
ARGS ?=

.PHONY: deps test asan tsan demo bench clean

deps:
	@missing=""; for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "installing:$$missing"; apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	  else \
	    echo "missing packages; run: sudo apt-get install -y$$missing"; exit 1; \
	  fi; \
	fi

test: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	ctest --preset dev

asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

demo: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target orv_demo
	./build/release/examples/orv_demo $(ARGS)

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	./bench/run.sh build/release

clean:
	rm -rf build
