#!/usr/bin/env bash
# Installs the packages the builds and tests need, and only those that are missing,
# so that a machine that already has them never touches apt.
#   install-deps.sh [GROUP...]
# The Linux build of the driver and its tools (cmake, g++ with -m32, the MQTT client
# library, ccache) is always installed; the groups add to it:
#   tests     GoogleTest, Google Benchmark, a JSON parser, clang for the fuzz targets, the
#             MinGW cross compiler, and what checking the packages takes: the i386 C and C++
#             runtime that the Debian package depends on, dpkg-shlibdeps, groff for the man
#             pages, unzip; the mosquitto broker and its clients, and openssl for test
#             certificates, for the MQTT tests
#   mqtt      the mosquitto broker and its clients, for the demo's --mqtt
#   helgrind  valgrind and the i386 C library's debug symbols it needs
#   wine      Wine, to run the Windows build
#   qemu      qemu-user, to run i386 programs on a kernel that cannot
# Without a group: tests, helgrind and wine.
#
# A package mirror is often caught half-synchronised: one index fails to download, or the
# i386 index of a suite is older than the amd64 one. So a failed `apt-get update` is tried
# once more and then the lists that did arrive are used; only when the packages cannot be
# resolved from them does the script stop, naming the index that failed and the packages
# that are missing. A Multi-Arch: same library whose i386 candidate differs from the
# amd64 version (installed or candidate) cannot be installed beside it; such a pair is
# installed at a version that both architectures offer. The script ends with status 0
# only when every package asked for is installed.
#   DEVADO_APT_RETRY_PAUSE  seconds before the update is tried again (default 10)
set -euo pipefail

retry_pause=${DEVADO_APT_RETRY_PAUSE:-10}
foreign=i386

say() { echo "install-deps.sh: $*" >&2; }

wanted_packages() {  # wanted_packages GROUP...: the packages, one a line
  local group
  printf '%s\n' cmake make g++ g++-multilib ccache libmosquitto-dev:i386 libsqlite3-dev:i386
  for group in "$@"; do
    case $group in
      linux) ;;
      tests)
        printf '%s\n' clang libclang-rt-14-dev libgtest-dev:i386 libgmock-dev:i386 \
          libbenchmark-dev:i386 g++-mingw-w64-i686-posix nlohmann-json3-dev \
          libc6:i386 libgcc-s1:i386 libstdc++6:i386 dpkg-dev groff-base unzip \
          mosquitto mosquitto-clients openssl ;;
      mqtt) printf '%s\n' mosquitto mosquitto-clients ;;
      helgrind) printf '%s\n' valgrind libc6-dbg:i386 ;;
      wine) printf '%s\n' wine wine32:i386 ;;
      qemu) printf '%s\n' qemu-user-static ;;
      *) say "unknown group '$group'"; return 2 ;;
    esac
  done
}

not_installed() {  # not_installed PACKAGE...: those dpkg does not have installed
  local p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || echo "$p"
  done
}

# The indexes an `apt-get update` log says it could not fetch, one a line.
failed_indexes() {
  sed -n -E 's/^(Err:[0-9]+|[EW]: Failed to fetch) +([a-z+]+:[^ ]+).*/\2/p' "$1" | sort -u
}

# Updates the lists, once more after a pause if that fails, and then goes on with what it
# has: an index that fails for a day must not stop the install. Sets update_failures.
update_failures=""
update_lists() {
  local log attempt
  log=$(mktemp)
  for attempt in 1 2; do
    if $sudo apt-get update -qq >"$log" 2>&1; then
      # Some failures (a host that cannot be resolved) are only warnings to apt.
      update_failures=$(failed_indexes "$log")
      rm -f "$log"
      return 0
    fi
    update_failures=$(failed_indexes "$log")
    [ -n "$update_failures" ] || update_failures=$(grep -E '^(E|W|Err):' "$log" | head -n 5)
    [ "$attempt" -eq 2 ] || {
      say "apt-get update failed; trying again in ${retry_pause}s. It said:"
      sed 's/^/  /' "$log" | grep -E '^  (E|W|Err)' | head -n 6 >&2
      sleep "$retry_pause"
    }
  done
  say "apt-get update failed twice; going on with the package lists this machine has. Not updated:"
  echo "$update_failures" | sed 's/^/  /' >&2
  rm -f "$log"
}

# policy_table PACKAGE...: for each package that the lists know, one line
#   <name[:arch]> <installed or -> <candidate or -> <downloadable versions, newest first>
policy_table() {
  apt-cache policy "$@" 2>/dev/null | awk '
    function flush() {
      if (pkg != "") print pkg, inst, cand, (vers == "" ? "-" : vers)
      pkg = ""; vers = ""; ver = ""
    }
    /^[^ ].*:$/ { flush(); pkg = substr($0, 1, length($0) - 1); inst = "-"; cand = "-"; next }
    /^  Installed:/ { inst = ($2 == "(none)" ? "-" : $2); next }
    /^  Candidate:/ { cand = ($2 == "(none)" ? "-" : $2); next }
    /^ (\*\*\*|   ) [^ ]+ -?[0-9]+$/ { ver = ($1 == "***" ? $2 : $1); next }
    /^ +-?[0-9]+ / && / Packages$/ && ver != "" {
      if (index(" " vers " ", " " ver " ") == 0) vers = (vers == "" ? ver : vers " " ver)
      next
    }
    END { flush() }'
}

# The i386 packages that installing PACKAGE... would pull in (the requests included).
foreign_closure() {
  apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances "$@" 2>/dev/null | grep -E "^[^ <][^ ]*:$foreign\$" | sort -u
}

# Multi-Arch: same pairs that the install needs on both architectures at one version but
# whose lists disagree: installing the i386 half makes apt move the installed amd64 half to
# its own candidate as well, and when the two candidates differ it can only give up ("held
# broken packages"), even where the amd64 version installed is the i386 one. For each, the newest
# version that both architectures offer goes on the install line as `name=V name:i386=V`
# (appended to pins); a pair that has none goes into unmatched, as a line for the user.
pins=()
unmatched=()
find_skew() {
  local closure natives=() queries=() name table line
  mapfile -t closure < <(foreign_closure "$@")
  for line in "${closure[@]}"; do
    name=${line%:"$foreign"}
    [ "$(dpkg-query -W -f='${Multi-Arch}' "$name" 2>/dev/null)" = same ] && natives+=("$name")
  done
  [ ${#natives[@]} -gt 0 ] || return 0
  for name in "${natives[@]}"; do queries+=("$name" "$name:$foreign"); done
  table=$(policy_table "${queries[@]}")
  for name in "${natives[@]}"; do
    local n f common="" v n_inst n_cand n_vers f_cand f_vers
    n=$(awk -v p="$name" '$1 == p' <<<"$table")
    f=$(awk -v p="$name:$foreign" '$1 == p' <<<"$table")
    [ -n "$n" ] && [ -n "$f" ] || continue
    read -r _ n_inst n_cand n_vers <<<"$n"
    read -r _ _ f_cand f_vers <<<"$f"
    [ "$f_cand" != - ] || continue
    [ "$f_cand" != "$n_cand" ] || continue
    for v in $f_vers; do
      [[ " $n_vers " == *" $v "* ]] && { common=$v; break; }
    done
    if [ -n "$common" ]; then
      say "$name: amd64 has $n_inst installed and offers $n_vers, $foreign offers $f_vers: installing both at $common"
      pins+=("$name=$common" "$name:$foreign=$common")
      pin_siblings "$name" "$common"
    else
      unmatched+=("$name: amd64 installed $n_inst, candidate $n_cand (offers: $n_vers); $foreign candidate $f_cand (offers: $f_vers)")
    fi
  done
}

# The installed amd64 packages built from the same source at the same version as NAME
# depend on it at exactly that version (libssl-dev on libssl3): moving NAME alone would
# make apt remove them. Those that the lists offer at VERSION move with it.
pin_siblings() {  # pin_siblings NAME VERSION
  local source version sibling
  read -r source version < <(dpkg-query -W -f='${source:Package} ${Version}\n' "$1" | head -n 1)
  for sibling in $(dpkg-query -W -f='${Package} ${Architecture} ${source:Package} ${Version} ${db:Status-Abbrev}\n' |
    awk -v s="$source" -v v="$version" -v p="$1" -v f="$foreign" \
      '$1 != p && $2 != f && $3 == s && $4 == v && $5 ~ /^ii/ { print $1 }'); do
    policy_table "$sibling" | awk -v v="$2" '{ for (i = 4; i <= NF; i++) if ($i == v) found = 1 }
      END { exit !found }' && pins+=("$sibling=$2")
  done
  return 0
}

# Packages of the list that apt knows no installable version of.
unknown_packages() {
  local table p
  table=$(policy_table "$@")
  for p in "$@"; do
    awk -v p="$p" '$1 == p && $3 != "-" { found = 1 } END { exit !found }' <<<"$table" || echo "$p"
  done
}

stop_unresolved() {  # stop_unresolved <simulation log> PACKAGE...
  local log=$1 unknown
  shift
  unknown=$(unknown_packages "$@" | tr '\n' ' ')
  say "cannot install the packages this project needs from the package lists at hand."
  [ -z "$update_failures" ] || { echo "  These indexes could not be fetched:"; echo "$update_failures" | sed 's/^/    /'; } >&2
  [ -z "$unknown" ] || echo "  Not in the lists at all: $unknown" >&2
  echo "  Missing: $*" >&2
  echo "  apt said:" >&2
  grep -v -E '^(Reading|Building|NOTICE|$)' "$log" | tail -n 12 | sed 's/^/    /' >&2
  echo "  Try again once the mirror has finished synchronising (apt-get update), or point" >&2
  echo "  /etc/apt/sources.list at a mirror that has them." >&2
  exit 1
}

stop_skew() {
  say "these Multi-Arch: same packages have no version that both architectures offer,"
  say "so their $foreign halves cannot be installed beside the amd64 ones:"
  printf '  %s\n' "${unmatched[@]}" >&2
  echo "  Wait for the mirror to carry one version for both (apt-get update), then install each" >&2
  echo "  pair at it, for example: $sudo apt-get install $(for u in "${unmatched[@]}"; do
    n=${u%%:*}; printf '%s=V %s:%s=V ' "$n" "$n" "$foreign"; done)" >&2
  exit 1
}

simulate() {  # simulate <log> PACKAGE...: does apt find a way to install them?
  local log=$1
  shift
  apt-get install -s -y --no-install-recommends --no-remove "$@" >"$log" 2>&1
}

main() {
  local wanted packages missing
  [ $# -gt 0 ] || set -- tests helgrind wine
  wanted=$(wanted_packages "$@") || exit 2
  mapfile -t packages <<<"$wanted"
  mapfile -t missing < <(not_installed "${packages[@]}")
  [ ${#missing[@]} -gt 0 ] || exit 0

  sudo=""
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || {
      say "these packages are missing and only root can install them: ${missing[*]}"
      exit 1
    }
    sudo="sudo"
  fi
  export DEBIAN_FRONTEND=noninteractive
  dpkg --print-foreign-architectures | grep -qx "$foreign" || $sudo dpkg --add-architecture "$foreign"
  echo "installing packages (about a minute on a new machine): ${missing[*]}"
  update_lists

  local log
  log=$(mktemp)
  if ! simulate "$log" "${missing[@]}"; then
    find_skew "${missing[@]}"
    [ ${#unmatched[@]} -eq 0 ] || stop_skew
    [ ${#pins[@]} -gt 0 ] && simulate "$log" "${missing[@]}" "${pins[@]}" ||
      stop_unresolved "$log" "${missing[@]}"
  fi
  if ! $sudo apt-get install -y -qq --no-install-recommends --no-remove "${missing[@]}" ${pins[@]+"${pins[@]}"} >"$log" 2>&1; then
    say "apt-get install failed:"
    grep -v -E '^(Reading|Building|$)' "$log" | tail -n 12 | sed 's/^/  /' >&2
  fi
  rm -f "$log"
  # Whatever apt said, only what dpkg has installed counts.
  mapfile -t missing < <(not_installed "${missing[@]}")
  if [ ${#missing[@]} -gt 0 ]; then
    say "still not installed: ${missing[*]}"
    exit 1
  fi
}

main "$@"
