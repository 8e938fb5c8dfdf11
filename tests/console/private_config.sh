#!/bin/sh
# Runs a command with its own empty settings folder (XDG_CONFIG_HOME), so
# that no test reads or writes the real user's settings, and removes the
# folder afterwards.
dir=$(mktemp -d "${TMPDIR:-/tmp}/lanternfly-config.XXXXXX") || exit 1
XDG_CONFIG_HOME=$dir "$@"
status=$?
rm -rf "$dir"
exit $status
