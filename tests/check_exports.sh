#!/bin/sh
# The plug-in must export get_providers and nothing else under a plain name.
set -eu
library=$1
symbols=$(nm -D --defined-only "$library" | awk '{print $3}')
if [ "$symbols" != "get_providers" ]; then
  echo "exported symbols of $library are not just get_providers:" >&2
  echo "$symbols" >&2
  exit 1
fi
