#!/usr/bin/env bash
# tools/deps.sh as a normal user and as root, with stand-ins for dpkg-query
# (nothing installed), id, sudo and apt-get on a PATH of their own.
# usage: test_deps.sh SOURCE_DIR
set -uo pipefail
deps="$1/tools/deps.sh"
tmp=$(mktemp -d); trap 'rm -rf "$tmp"' EXIT
failures=0

stub() {  # name, body
  printf '#!/bin/bash\n%s\n' "$2" > "$tmp/bin/$1"; chmod +x "$tmp/bin/$1"
}

# case: uid, sudo (none | refuses | allows), expected exit (0 | 1), expected
# first word of every apt-get call ("" none, "sudo", "root").
run() {
  local uid=$1 sudo=$2 rc=$3 via=$4
  rm -rf "$tmp/bin" "$tmp/calls"; mkdir "$tmp/bin"; touch "$tmp/calls"
  ln -s "$(command -v grep)" "$tmp/bin/grep"
  stub dpkg-query 'exit 1'
  stub id "echo $uid"
  stub apt-get "echo root DEBIAN_FRONTEND=\$DEBIAN_FRONTEND apt-get \$* >> $tmp/calls"
  case $sudo in
    refuses) stub sudo "[ \"\$1\" = apt-get ] && echo sudo >> $tmp/calls; exit 1" ;;
    allows) stub sudo "[ \"\$1\" = -n ] && exit 0; echo sudo \$* >> $tmp/calls" ;;
  esac
  PATH="$tmp/bin" "$BASH" "$deps" < /dev/null > "$tmp/out" 2> "$tmp/err"
  local got=$? why=""
  [ "$got" = "$rc" ] || why="exit $got, not $rc"
  if [ "$rc" = 1 ]; then
    [ "$(wc -l < "$tmp/err")" = 1 ] && grep -q 'as root: apt-get install .*cmake .*libusb-1.0-0-dev' "$tmp/err" \
      || why="$why; not one line naming the packages and apt-get install"
  fi
  if [ -n "$via" ]; then
    [ "$(cut -d' ' -f1 "$tmp/calls" | sort -u)" = "$via" ] && grep -q "DEBIAN_FRONTEND=noninteractive apt-get install .*cmake" "$tmp/calls" \
      || why="$why; install not run as $via without questions"
  elif [ -s "$tmp/calls" ]; then
    why="$why; apt-get ran"
  fi
  if [ -n "$why" ]; then
    echo "FAIL uid=$uid sudo=$sudo:${why#;}"; sed 's/^/  stderr: /' "$tmp/err"; failures=$((failures + 1))
  else
    echo "ok   uid=$uid sudo=$sudo"
  fi
}

run 1000 none 1 ""
run 1000 refuses 1 ""
run 1000 allows 0 sudo
run 0 none 0 root
[ "$failures" = 0 ] && echo "4 passed, 0 failed" || { echo "$((4 - failures)) passed, $failures failed"; exit 1; }
