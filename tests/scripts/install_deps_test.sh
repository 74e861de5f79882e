#!/usr/bin/env bash
# The decisions of install-deps.sh against a stand-in apt that replays a package mirror
# caught mid-sync, an architecture skew, a machine without network and a failing
# download. Runs without root and without touching the real apt.
#   install_deps_test.sh   prints each case and "N passed, N failed"
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
script=$here/../../scripts/install-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# The i386 MQTT library pulls in libssl3:i386; libssl-dev is built from the same source as
# libssl3 and needs it at its own version.
base_status='cmake amd64 3.25.1-1 no cmake
make amd64 4.3-4.1 no make
g++ amd64 4:12.2.0-3 no gcc-defaults
g++-multilib amd64 4:12.2.0-3 no gcc-defaults
libssl3 amd64 3.0.19-1~deb12u2 same openssl
libssl-dev amd64 3.0.19-1~deb12u2 same openssl'
base_deps='libmosquitto-dev:i386 libmosquitto1:i386
libmosquitto1:i386 libssl3:i386
libsqlite3-dev:i386 libsqlite3-0:i386
ccache:amd64 libhiredis0.14:amd64'
lists_in_step='ccache amd64 4.8-1
libhiredis0.14 amd64 0.14.1-3
libmosquitto-dev i386 2.0.11-1.2
libmosquitto1 i386 2.0.11-1.2
libsqlite3-dev i386 3.40.1-2+deb12u2
libsqlite3-0 i386 3.40.1-2+deb12u2
libssl3 amd64 3.0.20-1~deb12u2
libssl3 i386 3.0.20-1~deb12u2
libssl-dev amd64 3.0.20-1~deb12u2'
# The security suite's amd64 index is newer; its i386 index did not arrive.
lists_skewed='ccache amd64 4.8-1
libhiredis0.14 amd64 0.14.1-3
libmosquitto-dev i386 2.0.11-1.2
libmosquitto1 i386 2.0.11-1.2
libsqlite3-dev i386 3.40.1-2+deb12u2
libsqlite3-0 i386 3.40.1-2+deb12u2
libssl3 amd64 3.0.22-1~deb12u2
libssl3 amd64 3.0.20-1~deb12u2
libssl3 i386 3.0.20-1~deb12u2
libssl-dev amd64 3.0.22-1~deb12u2
libssl-dev amd64 3.0.20-1~deb12u2'
lists_no_common='ccache amd64 4.8-1
libhiredis0.14 amd64 0.14.1-3
libmosquitto-dev i386 2.0.11-1.2
libmosquitto1 i386 2.0.11-1.2
libsqlite3-dev i386 3.40.1-2+deb12u2
libsqlite3-0 i386 3.40.1-2+deb12u2
libssl3 amd64 3.0.22-1~deb12u2
libssl3 i386 3.0.20-1~deb12u2
libssl-dev amd64 3.0.22-1~deb12u2'
all_installed="$base_status
ccache amd64 4.8-1 no ccache
libmosquitto-dev i386 2.0.11-1.2 same mosquitto
libsqlite3-dev i386 3.40.1-2+deb12u2 same sqlite3"

# scenario <status> <lists> <update> <install>: a fresh stand-in mirror
scenario() {
  local s=$work/case$((passed + failed))
  rm -rf "$s"
  mkdir -p "$s/bin"
  printf '%s\n' "$1" >"$s/status"
  printf '%s\n' "$2" | sed '/^$/d' >"$s/lists"
  printf '%s\n' "$base_deps" >"$s/deps"
  echo "$3" >"$s/update"
  echo "$4" >"$s/install"
  echo i386 >"$s/foreign"
  for tool in apt-get apt-cache dpkg dpkg-query sudo; do ln -s "$here/apt_stand_in.sh" "$s/bin/$tool"; done
  echo "$s"
}

# check <name> <scenario> <expected status> <expectations...>: runs install-deps.sh linux
# there; each expectation is one of
#   out:TEXT      the output holds TEXT          calls:N:PATTERN  N calls match PATTERN
#   has:PACKAGE   the package ends up installed  version:PKG:ARCH:V  installed at V
check() {
  local name=$1 s=$2 want_rc=$3 rc=0 out problems=() e
  shift 3
  out=$(PATH="$s/bin:$PATH" APT_SCENARIO=$s DEVADO_APT_RETRY_PAUSE=0 bash "$script" linux 2>&1) || rc=$?
  [ "$rc" = "$want_rc" ] || problems+=("exit status $rc, expected $want_rc")
  for e in "$@"; do
    case $e in
      out:*) grep -qF -- "${e#out:}" <<<"$out" || problems+=("output lacks '${e#out:}'") ;;
      calls:*)
        local n=${e#calls:} pattern
        pattern=${n#*:}
        n=${n%%:*}
        [ "$(grep -cE -- "$pattern" "$s/calls" 2>/dev/null)" = "$n" ] ||
          problems+=("expected $n calls matching '$pattern', got $(grep -cE -- "$pattern" "$s/calls" 2>/dev/null)") ;;
      has:*)
        local p=${e#has:}
        awk -v n="${p%%:*}" -v a="$([[ $p == *:* ]] && echo "${p#*:}" || echo amd64)" \
          '$1 == n && $2 == a { f = 1 } END { exit !f }' "$s/status" || problems+=("$p is not installed") ;;
      version:*)
        local v=${e#version:}
        read -r pn pa pv <<<"${v//:/ }"
        [ "$(awk -v n="$pn" -v a="$pa" '$1 == n && $2 == a { print $3 }' "$s/status")" = "$pv" ] ||
          problems+=("$pn:$pa is not at $pv") ;;
    esac
  done
  if [ ${#problems[@]} -eq 0 ]; then
    passed=$((passed + 1))
    echo "ok    $name"
  else
    failed=$((failed + 1))
    echo "FAIL  $name"
    printf '      %s\n' "${problems[@]}"
    echo "      output was:"
    sed 's/^/        /' <<<"$out"
  fi
}

check "everything installed: apt is not touched" \
  "$(scenario "$all_installed" "$lists_in_step" ok ok)" 0 \
  "calls:0:^apt-get"

check "a clean mirror: one update, one install" \
  "$(scenario "$base_status" "$lists_in_step" ok ok)" 0 \
  "calls:1:^apt-get update" "calls:1:^apt-get .*-y -qq" has:ccache has:libmosquitto-dev:i386

check "an update that fails once is tried again and then works" \
  "$(scenario "$base_status" "$lists_in_step" fail-once ok)" 0 \
  "calls:2:^apt-get update" "out:trying again" has:libmosquitto-dev:i386

check "an index that keeps failing: goes on with the lists that arrived" \
  "$(scenario "$base_status" "$lists_in_step" fail ok)" 0 \
  "calls:2:^apt-get update" "out:going on with the package lists" \
  "out:binary-i386/Packages.xz" has:libmosquitto-dev:i386

check "amd64 newer than i386: the pair and its sibling installed at a common version" \
  "$(scenario "$base_status" "$lists_skewed" fail ok)" 0 \
  "out:libssl3: amd64 has 3.0.19-1~deb12u2 installed" "out:installing both at 3.0.20-1~deb12u2" \
  "calls:1:-y -qq .*libssl3=3.0.20-1~deb12u2 libssl3:i386=3.0.20-1~deb12u2 libssl-dev=3.0.20-1~deb12u2" \
  version:libssl3:amd64:3.0.20-1~deb12u2 version:libssl3:i386:3.0.20-1~deb12u2 \
  version:libssl-dev:amd64:3.0.20-1~deb12u2 has:libmosquitto-dev:i386

check "no version offered on both architectures: stops naming the pair and the fix" \
  "$(scenario "$base_status" "$lists_no_common" fail ok)" 1 \
  "out:libssl3: amd64 installed 3.0.19-1~deb12u2, candidate 3.0.22-1~deb12u2" \
  "out:i386 candidate 3.0.20-1~deb12u2" "out:apt-get install libssl3=V libssl3:i386=V" \
  "calls:0:-y -qq"

check "no network and no lists: stops naming the failed index and the missing packages" \
  "$(scenario "$base_status" "" offline ok)" 1 \
  "calls:2:^apt-get update" "out:http://deb.debian.org/debian/dists/bookworm/InRelease" \
  "out:Not in the lists at all: ccache libmosquitto-dev:i386" \
  "calls:0:-y -qq"

check "a download that fails half-way is not taken for an install" \
  "$(scenario "$base_status" "$lists_in_step" ok fail-download)" 1 \
  "out:apt-get install failed" "out:still not installed: libmosquitto-dev:i386" has:ccache

s=$(scenario "$base_status" "$lists_in_step" ok ok)
rc=0
out=$(PATH="$s/bin:$PATH" APT_SCENARIO=$s bash "$script" tests nonsense 2>&1) || rc=$?
if [ $rc -eq 2 ] && grep -qF "unknown group 'nonsense'" <<<"$out" && [ ! -e "$s/calls" ]; then
  passed=$((passed + 1))
  echo "ok    an unknown group is refused before anything runs"
else
  failed=$((failed + 1))
  echo "FAIL  an unknown group is refused before anything runs (status $rc): $out"
fi

echo "install-deps: $passed passed, $failed failed"
[ $failed -eq 0 ]
