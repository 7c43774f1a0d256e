#!/usr/bin/env bash
# The browser test of "tova view": installs the pinned npm packages from the
# lock file (from npm's cache when offline), builds the tool and runs the test
# under node's test runner with Debian's headless Chromium. The screenshot
# lands in build/viewer-test/viewer.png.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x /usr/bin/chromium ] || { echo "test-viewer: /usr/bin/chromium is missing (apt-get install chromium)" >&2; exit 1; }
if [ ! -d node_modules/playwright-core ] || [ ! -d node_modules/uplot ]; then
  npm ci --ignore-scripts --no-audit --no-fund --prefer-offline
fi
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target tova
node --test tests/viewer/
