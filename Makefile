# Front door for the usual tasks; CMake does the real work.
BUILD_DIR    ?= build
SANITIZE_DIR ?= build-sanitize
JOBS         ?= 2
GENERATOR    := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")

.PHONY: all build test sanitize release run bench clean docs mutation

# The bundled example: a traffic light run for one simulated second, traced.
run: build
	$(BUILD_DIR)/zebu_interpreter/kova -t 1000 examples/traffic_light.kova

# kova against Lua 5.4 (bench/bench.py), then the evaluator against native
# code. Not part of the tests.
bench: build
	python3 bench/bench.py --build $(BUILD_DIR)
	$(BUILD_DIR)/bench/eval_bench

# The guide's list of built-in calls, from the prototype tables.
docs: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) --target docs

all: build

$(BUILD_DIR)/CMakeCache.txt:
	cmake -S . -B $(BUILD_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOVA_WERROR=ON

build: $(BUILD_DIR)/CMakeCache.txt
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

$(SANITIZE_DIR)/CMakeCache.txt:
	cmake -S . -B $(SANITIZE_DIR) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Debug -DKOVA_SANITIZE=ON \
	    -DKOVA_WERROR=ON

sanitize: $(SANITIZE_DIR)/CMakeCache.txt
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ctest --test-dir $(SANITIZE_DIR) --output-on-failure -j $(JOBS)

# Fully optimised builds with both compilers, warning-free, suite included.
release:
	for cxx in g++ clang++; do \
	  dir=build-release-$$cxx; \
	  cmake -S . -B $$dir -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=Release -DKOVA_WERROR=ON \
	      -DCMAKE_CXX_COMPILER=$$cxx && \
	  cmake --build $$dir -j $(JOBS) && \
	  ctest --test-dir $$dir --output-on-failure -j $(JOBS) || exit 1; \
	done

# Mutation testing of the core files (minutes to hours; not part of CI):
# planted faults the suite must notice. Options through MUTATION_ARGS, e.g.
#   make mutation MUTATION_ARGS="--sample 10 interpreterLib/buffer.cpp"
#   make mutation MUTATION_ARGS="--rerun build-mutation/results.txt"
mutation:
	nice -n 5 python3 tools/mutation/mutate.py --jobs $(JOBS) $(MUTATION_ARGS)

clean:
	rm -rf $(BUILD_DIR) $(SANITIZE_DIR) build-release-g++ build-release-clang++ build-mutation
