#!/usr/bin/env bash
# Sets everything up (scripts/setup.sh) and runs the show from the build tree, where the data set is.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
"$here/scripts/setup.sh"
cd "$here/build"
exec ./quillet
