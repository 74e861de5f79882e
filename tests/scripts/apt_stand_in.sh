#!/usr/bin/env bash
# A stand-in for apt-get, apt-cache, dpkg, dpkg-query and sudo, chosen by the name it is
# called by, that replays a package mirror from the files of $APT_SCENARIO:
#   status   installed packages: name arch version multi-arch source
#   lists    what the package lists offer: name arch version (newest first per name and arch)
#   deps     dependencies: name:arch dep:arch ...
#   update   how apt-get update goes: ok, fail-once, fail (an index of the security suite
#            is caught mid-sync) or offline
#   install  how apt-get install goes: ok, or fail-download (the first package only)
# Every call is appended to $APT_SCENARIO/calls. Its resolver knows just what the install
# script must cope with: a Multi-Arch: same pair installs only at one version on both
# architectures, and a library moved alone leaves its same-source siblings to be removed.
set -euo pipefail
dir=${APT_SCENARIO:?}
native=amd64
echo "$(basename "$0") $*" >>"$dir/calls"

arch_of() { [[ $1 == *:* ]] && echo "${1#*:}" || echo "$native"; }
name_of() { echo "${1%%:*}"; }
offered() { awk -v n="$1" -v a="$2" '$1 == n && $2 == a { print $3 }' "$dir/lists"; }
installed() { awk -v n="$1" -v a="$2" '$1 == n && $2 == a { print $3 }' "$dir/status"; }
field() { awk -v n="$1" -v a="$2" -v f="$3" '$1 == n && $2 == a { print $f }' "$dir/status"; }
qualified() { [ "$2" = "$native" ] && echo "$1" || echo "$1:$2"; }

closure() {  # closure PACKAGE...: the packages reached through deps, as name:arch
  local todo=() seen=" " p a
  for p in "$@"; do todo+=("$(name_of "$p"):$(arch_of "$p")"); done
  while [ ${#todo[@]} -gt 0 ]; do
    p=${todo[0]}
    todo=("${todo[@]:1}")
    [[ $seen == *" $p "* ]] && continue
    seen+="$p "
    echo "$p"
    for a in $(awk -v p="$p" '$1 == p { $1 = ""; print }' "$dir/deps"); do todo+=("$a"); done
  done
}

dpkg_query() {  # -W -f=FORMAT [NAME...]
  local format=${2#-f=} names=("${@:3}") line
  [ ${#names[@]} -gt 0 ] || mapfile -t names < <(awk '{ print $1 ":" $2 }' "$dir/status")
  for line in "${names[@]}"; do
    local n a
    n=$(name_of "$line")
    a=$( [[ $line == *:* ]] && arch_of "$line" || echo "$native")
    [ -n "$(installed "$n" "$a")" ] || continue
    local out=$format
    out=${out//'${Package}'/$n}
    out=${out//'${Architecture}'/$a}
    out=${out//'${Version}'/$(installed "$n" "$a")}
    out=${out//'${Multi-Arch}'/$(field "$n" "$a" 4)}
    out=${out//'${source:Package}'/$(field "$n" "$a" 5)}
    out=${out//'${db:Status-Abbrev}'/ii }
    printf '%b' "$out"
  done
}

policy() {
  local p n a v inst cand
  for p in "$@"; do
    n=$(name_of "$p")
    a=$(arch_of "$p")
    inst=$(installed "$n" "$a")
    cand=$(offered "$n" "$a" | head -n 1)
    [ -n "$cand$inst" ] || continue
    echo "$p:"
    echo "  Installed: ${inst:-(none)}"
    echo "  Candidate: ${cand:-${inst:-(none)}}"
    echo "  Version table:"
    for v in $(offered "$n" "$a"); do
      [ "$v" = "$inst" ] && echo " *** $v 500" || echo "     $v 500"
      echo "        500 http://deb.debian.org/debian bookworm/main $a Packages"
      [ "$v" != "$inst" ] || echo "        100 /var/lib/dpkg/status"
    done
    if [ -n "$inst" ] && ! offered "$n" "$a" | grep -qxF "$inst"; then
      echo " *** $inst 100"
      echo "        100 /var/lib/dpkg/status"
    fi
  done
}

update() {
  local mode
  mode=$(cat "$dir/update")
  if [ "$mode" = fail-once ]; then
    echo ok >"$dir/update"
    mode=fail
  fi
  case $mode in
    ok) return 0 ;;
    fail)
      echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." ;;
    offline)
      echo "W: Failed to fetch http://deb.debian.org/debian/dists/bookworm/InRelease  Temporary failure resolving 'deb.debian.org'"
      echo "W: Some index files failed to download. They have been ignored, or old ones used instead." ;;
  esac
  return 100
}

install() {
  local simulate=0 requests=() pins=() arg p n a want
  for arg in "$@"; do
    case $arg in
      -s) simulate=1 ;;
      -* | install) ;;
      *=*) pins+=("$arg"); requests+=("${arg%%=*}") ;;
      *) requests+=("$arg") ;;
    esac
  done
  pinned() { printf '%s\n' ${pins[@]+"${pins[@]}"} | awk -F= -v p="$1" '$1 == p { print $2 }'; }
  for p in "${requests[@]}"; do
    [ -n "$(offered "$(name_of "$p")" "$(arch_of "$p")")" ] || { echo "E: Unable to locate package $p"; return 100; }
  done
  for p in $(closure "${requests[@]}"); do
    n=${p%%:*}
    a=${p#*:}
    [ "$a" != "$native" ] && [ "$(field "$n" "$native" 4)" = same ] || continue
    want=$(pinned "$n:$a")
    [ -n "$want" ] || want=$(offered "$n" "$a" | head -n 1)
    local mine
    mine=$(pinned "$n")
    [ -n "$mine" ] || mine=$(offered "$n" "$native" | head -n 1)
    if [ "$want" != "$mine" ]; then
      echo " $p : Depends: $n:$a but it is not going to be installed"
      echo "E: Unable to correct problems, you have held broken packages."
      return 100
    fi
    local src ver s
    src=$(field "$n" "$native" 5)
    ver=$(installed "$n" "$native")
    [ "$mine" != "$ver" ] || continue
    for s in $(awk -v s="$src" -v v="$ver" -v n="$n" -v a="$native" \
      '$5 == s && $3 == v && $1 != n && $2 == a { print $1 }' "$dir/status"); do
      local follows
      follows=$(pinned "$s")
      [ -n "$follows" ] || follows=$(offered "$s" "$native" | head -n 1)
      [ "$follows" = "$mine" ] || { echo "E: Packages need to be removed but remove is disabled."; return 100; }
    done
  done
  [ $simulate -eq 0 ] || { printf 'Inst %s\n' "${requests[@]}"; return 0; }
  if [ "$(cat "$dir/install")" = fail-download ]; then
    requests=("${requests[0]}")
    echo "E: Failed to fetch http://deb.debian.org/debian/pool/main/x/x.deb  Connection timed out"
  fi
  for p in "${requests[@]}"; do
    n=$(name_of "$p")
    a=$(arch_of "$p")
    want=$(pinned "$p")
    awk -v n="$n" -v a="$a" '!($1 == n && $2 == a)' "$dir/status" >"$dir/status.new"
    echo "$n $a ${want:-$(offered "$n" "$a" | head -n 1)} no $n" >>"$dir/status.new"
    mv "$dir/status.new" "$dir/status"
  done
  [ "$(cat "$dir/install")" != fail-download ] || return 100
}

case $(basename "$0") in
  sudo) exec "$@" ;;
  dpkg)
    case $1 in
      -s) [ -n "$(installed "$(name_of "$2")" "$(arch_of "$2")")" ] ;;
      --print-foreign-architectures) cat "$dir/foreign" 2>/dev/null || true ;;
      --add-architecture) echo "$2" >>"$dir/foreign" ;;
      *) exit 2 ;;
    esac ;;
  dpkg-query) dpkg_query "$@" ;;
  apt-cache)
    case $1 in
      policy) shift; policy "$@" ;;
      depends)
        args=()
        for a in "$@"; do [[ $a == -* || $a == depends ]] || args+=("$a"); done
        closure "${args[@]}" | sed "s/:$native\$//" ;;
      *) exit 2 ;;
    esac ;;
  apt-get)
    case " $* " in
      *" update "*) update ;;
      *" install "*) install "$@" ;;
      *) exit 2 ;;
    esac ;;
  *) exit 2 ;;
esac
