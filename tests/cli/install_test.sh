#!/bin/sh
# Installs a build into a temporary prefix, moves the prefix elsewhere and runs
# the installed programs from there, without LD_LIBRARY_PATH and from a folder
# outside the build tree. Checks that exactly the two programs, libsitehost.so,
# the plug-in and the two copyright files are installed; that every RPATH
# entry is relative to $ORIGIN; that every shared library resolves and
# libsitehost.so inside the moved prefix; that the installed host completes a
# cycle of its built-in simulator and one of the installed simulator over
# Modbus/TCP; and that the installed plug-in exports only get_providers. The
# installed programs, and the dynamic loader that resolves their libraries,
# run through VELMOCAIR_LAUNCHER (the emulator of a cross build; empty
# natively).
# Usage: install_test.sh CMAKE BUILD_DIR BINDIR LIBDIR PLUGINDIR CHECK_EXPORTS
set -eu
cmake=$1
build=$2
bindir=$3
libdir=$4
plugindir=$5
check_exports=$6
launcher=${VELMOCAIR_LAUNCHER:-}

here=$(cd "$(dirname "$0")" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "install test: $*" >&2
  exit 1
}

if ! "$cmake" --install "$build" --prefix "$work/staged" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  fail "cmake --install failed"
fi
mv "$work/staged" "$work/moved"
prefix=$(realpath "$work/moved")
unset LD_LIBRARY_PATH
cd "$work"

host=$bindir/velmocair-host
sim=$bindir/velmocair-sim
sitehost=$libdir/libsitehost.so
plugin=$plugindir/libvelmocair.so

binaries=$(printf '%s\n' "$host" "$sim" "$sitehost" "$plugin" | LC_ALL=C sort)
copyrights=$(printf 'share/doc/velmocair-%s/copyright\n' plugin tools)
expected=$(printf '%s\n' "$binaries" "$copyrights" 'lib/systemd/system/velmocair-host@.service' |
  LC_ALL=C sort)
installed=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
[ "$installed" = "$expected" ] || fail "installed files:
$installed
expected:
$expected"

# The dynamic loader the programs name; run with --list it resolves a file's
# libraries as ldd does, for the target's files too.
loader=$(readelf -l "$prefix/$host" | sed -n 's/.*Requesting program interpreter: \(.*\)]$/\1/p')
[ -n "$loader" ] || fail "$host names no program interpreter"

for file in $binaries; do
  path=$prefix/$file
  dynamic=$(readelf -d "$path") || fail "$file: readelf failed"
  for entry in $(echo "$dynamic" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]$/\2/p' | tr ':' ' '); do
    case $entry in
      '$ORIGIN' | '$ORIGIN/'*) ;;
      *) fail "$file: RPATH entry $entry is not relative to \$ORIGIN" ;;
    esac
  done
  resolved=$($launcher "$loader" --list "$path") || fail "$file: $loader --list failed"
  if echo "$resolved" | grep -q 'not found'; then
    fail "$file: unresolved libraries:
$resolved"
  fi
  if echo "$dynamic" | grep -q '(NEEDED).*\[libsitehost\.so\]'; then
    found=$(echo "$resolved" | sed -n 's/^[[:space:]]*libsitehost\.so => \(.*\) (0x[0-9a-f]*)$/\1/p')
    [ -n "$found" ] && [ "$(realpath "$found")" = "$prefix/$sitehost" ] ||
      fail "$file: libsitehost.so resolves to '$found', not $prefix/$sitehost"
  fi
done

"$check_exports" "$prefix/$plugin"

# The embedded default: the host starts the built-in simulator and polls it.
$launcher "$prefix/$host" --cycles 1 >host.out 2>host.err || fail "velmocair-host --cycles 1 exited $?:
$(cat host.err)"
grep -q '^cycle 1 unit simulator: updated ' host.out || fail "no completed cycle:
$(cat host.out host.err)"

# The installed simulator, polled by the installed host over Modbus/TCP.
"$here/../poll_simulator.sh" "$prefix/$host" "$prefix/$sim" 1 >/dev/null
