# The project's commands; each installs what is missing first.
.PHONY: build test demo package screenshots bench clean

build:
	bash scripts/build.sh

test:
	bash scripts/run-tests.sh

demo:
	bash scripts/demo.sh

package:
	bash scripts/package.sh

screenshots:
	bash scripts/screenshots.sh

bench:
	bash scripts/bench.sh

clean:
	rm -rf build
