#!/usr/bin/env bash
# The page's browser tests: playwright-core (pinned in package-lock.json, no
# browser download) drives Debian's /usr/bin/chromium against the site built by
# `cmake --workflow --preset web`, and compares its labels with the native
# library's (the Python package of `cmake --workflow --preset test`).
# Without Chromium, Node.js, the built site or the built package the tests are
# skipped, unless WEB_TESTS_REQUIRED=1 (as in CI), which makes that a failure.
# Arguments go to page.test.mjs (--speed: update times on 1024 x 1024).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
site="${WEB_SITE:-$root/build/web/site}"
package="${FORESTING_PYTHONPATH:-$root/build/release/python}"

missing=""
[ -x "${CHROMIUM:-/usr/bin/chromium}" ] || missing="Chromium (apt-get install chromium)"
command -v node >/dev/null && command -v npm >/dev/null || missing="Node.js and npm (apt-get install nodejs npm)"
[ -f "$site/ift.wasm" ] || missing="the site (cmake --workflow --preset web)"
[ -f "$package/foresting/__init__.py" ] || missing="the Python package (cmake --workflow --preset test)"
if [ -n "$missing" ]; then
  if [ "${WEB_TESTS_REQUIRED:-0}" = 1 ]; then
    echo "web tests: missing $missing" >&2
    exit 1
  fi
  echo "web tests skipped: missing $missing"
  exit 0
fi

cd "$here"
npm ci --no-audit --no-fund --loglevel=error
WEB_SITE="$site" FORESTING_PYTHONPATH="$package" node page.test.mjs "$@"
