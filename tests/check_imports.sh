#!/usr/bin/env bash
# The plug-in may import only what every host framework offers: the members
# of the framework's classes that the plug-in relies on, their vtables and
# type information, and get_ttime; besides those the C and C++ runtime,
# jsoncpp and Boost. A symbol that only our stand-in host defines (its
# controllers, reply decoding, services, members of its own) would leave the
# plug-in unloadable in the site host.
# Usage: check_imports.sh NM LIBRARY  (NM: the nm of the library's target)
set -euo pipefail
nm=$1
library=$2

classes='VDeviceInterface|ORBVDevice|ORBSPDevice|SPModbus|Provider|ORBSPDeviceProvider'
members='Get_Value|LoadFromCache|DataId|DeviceType|DeviceIoControl|RoundDone|UseControllerDb'
members+='|Reset|InitV|Init|InitSetting|IsSupportDevice|GetChildVDevice|GetAllChildVDevices'
members+='|SendSP|SendDelayData|SendDoData|ReadDi|ReadAi|Get_SP_Value|RefreshStatus'
members+='|SaveDeviceHistory|CheckThresholdBool|CheckAOReport|CheckThreshold|DoBatchCheckThreshold'
members+='|process|IsProcessing|IsStalled|SendData|SendParityData|OpenPort|ClosePort'
members+='|process_payload|on_error|modbus_read_bits|modbus_read_registers|modbus_write_register'
members+='|create'

# Where an import may come from: one extended regular expression each, over
# the name as nm prints it demangled, with its version after an @.
allowed=(
  # the host framework: members of its classes, constructors and destructors,
  "^($classes)::(~?($classes)|$members)\("
  # their vtables and type information,
  "^(vtable|typeinfo|typeinfo name|VTT) for ($classes)(@.*)?$"
  # and the calendar form of a time
  "^get_ttime\("
  # the C and C++ runtime (glibc, libstdc++ with its ARM EABI helpers, libgcc),
  # which version every symbol
  "@(GLIBC|GLIBCXX|CXXABI(_ARM)?|GCC)_[0-9.]+$"
  # the C runtime's start-up code, weak and unversioned
  "^(__gmon_start__|_ITM_(de)?registerTMCloneTable)$"
  # the sanitizers' runtime, in an instrumented build
  "^__(asan|lsan|tsan|ubsan|sanitizer)_"
  # jsoncpp and Boost
  "^((vtable|typeinfo|typeinfo name) for )?(Json|boost)::"
)
patterns=()
for pattern in "${allowed[@]}"; do
  patterns+=(-e "$pattern")
done

imports=$("$nm" -D --undefined-only -C "$library" | sed -E 's/^ *[A-Za-z] //')
if [ -z "$imports" ]; then
  echo "$nm found no imports in $library" >&2
  exit 1
fi
# A sanitizer's runtime replaces functions of the C and C++ runtime and
# defines them unversioned; in an instrumented build those are accepted by
# name: plain C names and the operators new and delete.
if grep -Eq '^__(asan|tsan)_init$' <<<"$imports"; then
  patterns+=(-e '^[A-Za-z_][A-Za-z0-9_]*$' -e '^operator (new|delete)(\[\])?\(')
fi
status=0
unexpected=$(grep -Ev "${patterns[@]}" <<<"$imports") || status=$?
if [ "$status" -gt 1 ]; then
  exit "$status"
fi
if [ -n "$unexpected" ]; then
  echo "$library imports what a host framework need not offer:" >&2
  echo "$unexpected" >&2
  exit 1
fi
