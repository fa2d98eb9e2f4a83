#!/usr/bin/env bash
# Succeeds when this machine can run 32-bit Windows programs under Wine: its
# 32-bit loader is an i386 Linux program, which some kernels cannot execute.
/usr/lib/wine/wine --version >/dev/null 2>&1
