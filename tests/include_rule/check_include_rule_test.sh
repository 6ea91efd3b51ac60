#!/bin/sh
# The include rule's check reports each include the rule refuses, with its
# file and line, and nothing else: run on a tree holding five among allowed
# ones (an option file over host/services and common/, the plug-in's seam
# naming the host directly or by a macro, a mode over scan/, history/ and the
# plug-in).
set -u
checker=$1
tree=$2
output=$("$checker" "$tree")
status=$?
expected="cli/options/parse.cc:3: cli/options/ includes cli/runtime/host_runtime.h
device/poll.cc:1: device/ includes host/SPModbus.h
device/poll.cc:2: device/ includes the header VELMOCAIR_HOST_FRAMEWORK_HEADER names
simulator/frames.cc:1: simulator/ includes host/services/adu.h
simulator/frames.cc:2: simulator/ includes tests/support/child_process.h"
if [ "$status" != 1 ] || [ "$output" != "$expected" ]; then
  echo "exit status $status, reported:"
  echo "$output"
  exit 1
fi
