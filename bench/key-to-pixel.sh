#!/bin/sh
# Typed key to changed pixel at 3840 x 2160 full screen, in a private X
# session: the program against a window the server fills itself.
#   bench/key-to-pixel.sh BUILD_TREE [PRESSES]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tree=$(cd "$1" && pwd)
PRUVEX_XVFB_SCREEN=${PRUVEX_XVFB_SCREEN:-3840x2160x24}
export PRUVEX_XVFB_SCREEN QT_QPA_PLATFORM=xcb
exec "$here/../tests/e2e/run-under-x.sh" "$tree/bench/pruvex_key_to_pixel" \
    "$tree/app/qt/pruvex" "${2:-60}"
