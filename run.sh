#!/usr/bin/env bash
# Builds pixremap and runs it on the bundled example image: the outputs land
# beside it as examples/outfirst.png and examples/outsecond.png.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
need_packages "${build_packages[@]}"

# The tests have packages of their own (./test.sh installs them); not needed here.
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build --target pixremap -j "$(nproc)" >/dev/null
(cd examples && ../build/pixremap default.png)
echo "wrote examples/outfirst.png and examples/outsecond.png"
