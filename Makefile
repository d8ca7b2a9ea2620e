# Thin wrapper over the CMake presets. Every target first makes sure the Debian packages
# the build needs are there (installing them when run as root).
PACKAGES := cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev libpng-dev \
            libclang-rt-14-dev clang-format-14 python3 libnanoflann-dev libeigen3-dev
JOBS ?= 2
ARGS ?=
# Seconds of live fuzzing per target in `make fuzz`.
FUZZ_SECONDS ?= 60
FUZZ_DIR ?= build/fuzz
FUZZ_TARGETS := builder_sequences query_records policy_bytes las_reader

.PHONY: deps test test-alternate asan tsan fuzz demo bench clean

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

# The same suite on the alternate host (host/README.md): the dev build again, run with
# ORV_HOST_VARIANT=alternate, so a test that leans on one of the reference host's own choices
# fails here.
test-alternate: deps
	cmake --preset dev
	cmake --build --preset dev -j $(JOBS)
	ORV_HOST_VARIANT=alternate ctest --preset dev

asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan

tsan: deps
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan

# Builds the libFuzzer targets (clang) and runs each for FUZZ_SECONDS over the committed seeds
# and the inputs earlier runs kept in $(FUZZ_DIR)/corpus. A failing input is saved in
# fuzz-artifacts/; the target's log is in $(FUZZ_DIR)/<target>.log.
fuzz: deps
	cmake --preset fuzz -B $(FUZZ_DIR)
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	@mkdir -p fuzz-artifacts
	@for t in $(FUZZ_TARGETS); do \
	  echo "== fuzz $$t: $(FUZZ_SECONDS) s"; \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t; \
	  dict=""; [ -f fuzz/$$t.dict ] && dict="-dict=fuzz/$$t.dict"; \
	  if ! $(FUZZ_DIR)/fuzz/orv_fuzz_$$t $(FUZZ_DIR)/corpus/$$t fuzz/corpus/$$t $$dict \
	      -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
	      -malloc_limit_mb=256 -artifact_prefix=fuzz-artifacts/$$t- -print_final_stats=1 \
	      > $(FUZZ_DIR)/$$t.log 2>&1; then \
	    tail -n 80 $(FUZZ_DIR)/$$t.log; echo "fuzz target $$t failed"; exit 1; \
	  fi; \
	  grep -E '^(Done|stat::(number_of_executed_units|new_units_added|peak_rss_mb))' $(FUZZ_DIR)/$$t.log; \
	done

demo: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS) --target orv_demo orv_clip
	./build/release/examples/orv_demo $(ARGS)

bench: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	./bench/run.sh build/release

clean:
	rm -rf build
