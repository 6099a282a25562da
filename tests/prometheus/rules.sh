#!/usr/bin/env bash
# The shipped alert rules: promtool checks them and runs their unit tests. Skipped (exit 77)
# where promtool is missing: scripts/install-deps.sh installs it (Debian package prometheus).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rules=$here/../../packaging/prometheus/calvora-alerts.yml
if ! command -v promtool >/dev/null; then
  echo "SKIP: promtool is missing (apt-get install prometheus, or scripts/install-deps.sh)"
  exit 77
fi
promtool check rules "$rules"
promtool test rules "$here/calvora-alerts.test.yml"
