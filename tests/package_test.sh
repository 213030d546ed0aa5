#!/usr/bin/env bash
# Fails unless a release package holds just what an operator needs, in a
# form they can use as it is: the program, the example map list and the
# operator's README.txt, free of build and test instructions, with CR LF
# line ends in the Windows ZIP and LF in the Linux tarball, whose program
# must be static and run, and whose manual pages give the check's own exit
# statuses.
set -euo pipefail
[ -f "$1" ] || { echo "skipped: $1 is not built"; exit 77; }
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

# What every operator must be told, whatever the platform.
topics=('read-only' 'priority' '//' '8 KiB' 'SW_rotate2.cfg' 'exec SW_rotate.cfg'
        'no +map' 'SW_rotate*.cfg' '54')
case "$archive" in
  *.zip)
    top=.
    program=map_rotation.exe check=map_rotation_check.exe
    for text in README.txt map_list.cfg; do
      crlf_only "$text" || fail "$text has lines without CR LF"
    done
    topics+=('Windows XP SP3' 'map_rotation.exe')
    ;;
  *.tar.gz)
    top=$(ls)
    program=map_rotation check=map_rotation_check
    for text in README.txt map_list.cfg; do
      ! grep -q $'\r' "$top/$text" || fail "$text has CR LF line ends"
    done
    ! readelf -l "$top/map_rotation" | grep -q 'program interpreter' ||
      fail "the program is not statically linked"
    (cd "$top" && ./map_rotation) && [ -s "$top/SW_rotate.cfg" ] ||
      fail "the packaged program wrote no script from the example map list"
    rm -f "$top/SW_rotate.cfg" "$top/SW_rotate.cfg.map_rotation-lock"
    topics+=('ExecStartPre=' '/opt/map_rotation/map_rotation' 'chmod a-w')
    # The manual's exit statuses are the check's own, word for word.
    words() { tr -s ' \n' '  '; }
    help=$("$top/$check" --help | sed -n '/^Exit status:/,/^$/p' | tail -n +2 | words)
    manual=$(sed -n '/^\.SH "EXIT STATUS"/,/^\.SH FILES/p' "$top/map_rotation_check.1" |
      grep -v -e '^\.SH' -e '^\.TP' | sed -e 's/^\.B //' -e 's/\\-/-/g' | words)
    [ "$(echo $help)" = "$(echo $manual)" ] ||
      fail "the manual's exit statuses differ from --help's: $manual"
    # The manual's list rules are the programs' own: a comment whose words
    # end in a number gives an entry, a name without a priority is left
    # out and costs nothing more.
    grep -qF '// top 5' "$top/map_rotation.1" || fail "the manual's list example is gone"
    list=$(mktemp -d)
    printf '// top 5\r\nalpha\r\nbravo 1\r\n' >"$list/map_list.cfg"
    report=$(cd "$list" && "$OLDPWD/$top/$check" || true)  # status 1: a token left out
    grep -qF '"top"' <<<"$report" && grep -qF '"alpha" is left out' <<<"$report" &&
      grep -qF '"bravo"' <<<"$report" ||
      fail "the check reads the manual's list otherwise: $report"
    (cd "$list" && "$OLDPWD/$top/$program") && grep -q 'map top ' "$list/SW_rotate.cfg" ||
      fail "a run reads the manual's list otherwise"
    rm -rf "$list"
    ;;
  *) echo "not a package: $archive"; exit 1 ;;
esac
contents=$(cd "$top" && find . -type f | sort | tr '\n' ' ')
expected="./README.txt ./map_list.cfg ./$program ./$check "
[ "$top" = . ] || expected="./README.txt ./map_list.cfg ./$program ./$program.1 ./$check ./$check.1 "
[ "$contents" = "$expected" ] ||
  fail "the package holds $contents"
! grep -qiE 'cmake|ctest|scripts/|apt-get|preset|@[A-Z_]+@' "$top/README.txt" ||
  fail "README.txt holds build or test instructions, or an unfilled placeholder"
for topic in "${topics[@]}"; do
  grep -qF -- "$topic" "$top/README.txt" || fail "README.txt says nothing of $topic"
done
[ "$status" -ne 0 ] || echo "$(basename "$archive"): $contents"
exit $status
