#!/usr/bin/env bash
# Fails unless a release package holds just what an operator needs, in a
# form they can use as it is: the Windows ZIP the program, the example map
# list and README.txt, both text files with CR LF line ends and the README
# free of build and test instructions; the Linux tarball a static program
# that runs, the example map list and the README with its start lines.
set -euo pipefail
archive=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cmake -E tar xf "$archive"
status=0
fail() { echo "$*"; status=1; }

crlf_only() {  # every line of the file ends in CR LF, and there are lines
  [ "$(grep -c '' "$1")" -gt 0 ] && [ "$(grep -c $'\r$' "$1")" -eq "$(grep -c '' "$1")" ]
}

case "$archive" in
  *.zip)
    contents=$(find . -type f | sort | tr '\n' ' ')
    [ "$contents" = "./README.txt ./map_list.cfg ./map_rotation.exe " ] ||
      fail "the ZIP holds $contents"
    for text in README.txt map_list.cfg; do
      crlf_only "$text" || fail "$text has lines without CR LF"
    done
    ! grep -qiE 'cmake|ctest|scripts/|apt-get|preset' README.txt ||
      fail "README.txt holds build or test instructions"
    for topic in 'Windows XP SP3' 'map_rotation.exe' 'read-only' '128 KiB' \
                 'priority' '//'; do
      grep -qF "$topic" README.txt || fail "README.txt says nothing of $topic"
    done
    ;;
  *.tar.gz)
    top=$(ls)
    contents=$(cd "$top" && find . -type f | sort | tr '\n' ' ')
    [ "$contents" = "./README.md ./map_list.cfg ./map_rotation " ] ||
      fail "the tarball holds $contents"
    ! readelf -l "$top/map_rotation" | grep -q 'program interpreter' ||
      fail "the program is not statically linked"
    grep -q 'ExecStartPre=' "$top/README.md" || fail "README.md has no systemd line"
    (cd "$top" && ./map_rotation) && [ -s "$top/SW_rotate.cfg" ] ||
      fail "the packaged program wrote no script from the example map list"
    ;;
  *) fail "not a package: $archive" ;;
esac
[ "$status" -ne 0 ] || echo "$(basename "$archive"): $contents"
exit $status
