#!/usr/bin/env bash
# Fails when a driver file includes by a relative path: each library of the
# driver sees only its own headers and those below it, and "../" would get
# round that.
set -u
if hits=$(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"\.\./' "$@"); then
    echo "$hits" >&2
    echo "error: include by a relative path; include by name from a library below instead" >&2
    exit 1
fi
exit 0
