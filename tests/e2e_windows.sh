#!/usr/bin/env bash
# End-to-end tests of the Windows programs, run under wine in scratch folders: the console and
# the files with their CR LF line ends, the pause rule, the failure lines, and the same bytes as
# the Linux programs (LF stored as CR LF) on the examples and the fuzz corpus, in both modes.
# Usage: e2e_windows.sh BUILD_DIR GROUP [LINUX_BUILD_DIR]
#   GROUP: console, files, names, same, huge
set -u
export WINEDEBUG=-all
# Under this locale wine's narrow code page is 1252, whatever the machine's own setting.
export LC_ALL=C.UTF-8
build=$(realpath "$1") group=$2 native=$(realpath "${3:-/nonexistent}" 2>/dev/null)
source_dir=$(realpath "$(dirname "$0")/..")
html=$build/html2Ruxa.exe doc=$build/doc2Ruxa.exe runner=(timeout 60 wine)
silent_retry=1
command -v wine >/dev/null || { echo "wine is not installed"; exit 77; }
# shellcheck source=e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

crlf() { perl -0777 -pe 's/\n/\r\n/g' "$@"; }

case $group in
console)
  fresh && printf '<p>hi</p>\n' >a.htm
  # (Batch mode's console is checked in the "names" group, single mode's in the "same" group.)
  run "$html" --version && console_is "--version" 0 <<<'html2Ruxa (ruxa-tools) 1.1.0^M$'
  # After a failure the program waits for a key only at a real console: the null device and a
  # pipe that stays open must not make it wait.
  run "$html" no.in o.out && console_is "missing input" 1 <<<'Error, invalid file name!^M$'
  errors_start "missing input" "html2Ruxa: cannot open 'no.in': "
  mkfifo open.pipe && exec 3<>open.pipe
  stdin=open.pipe run "$html" no.in o.out && exec 3>&-
  console_is "open pipe as standard input" 1 <<<'Error, invalid file name!^M$'
  mkdir d.in && run "$html" d.in o.out
  console_is "input is a folder" 1 <<<'Error, invalid file name!^M$'
  errors_start "input is a folder" "html2Ruxa: cannot open 'd.in': Is a directory"
  run "$html" a.htm A.HTM
  console_is "output is the input in other letters" 1 <<<'Error, invalid file name!^M$'
  errors_start "output is the input in other letters" \
    "html2Ruxa: cannot create 'A.HTM': it is the input file"
  ;;
files)
  # Outputs are replaced whole, and nothing is left over. Whether the output existed or not, a
  # rejected document leaves it empty, in both modes.
  fresh && printf 'old' >p.htx && printf '<b>new</b>' >p.htm && run "$html" p.htm p.htx
  file_is p.htx 'Ruxa000000ffffffnew'
  printf short >bad.doc && printf old >bad.dox && run "$doc" && file_is bad.dox ''
  folder_holds . bad.doc bad.dox p.htm p.htx
  for old in "" old; do
    rm -f r.out && [[ -n $old ]] && printf old >r.out
    run "$doc" bad.doc r.out && compare "single mode, output '$old': status" 2 "$status"
    file_is r.out ''
  done
  rm r.out
  run "$html" p.htm nul
  console_is "the null device" 0 <<'EOF'
--- Ruxa Beta Bramlink 2005 --- ^M$
Size: 10 ^M$
new
EOF
  # A large page is converted while it loads and its text written by the loading thread.
  fresh && { printf '<p>'; head -c 9000000 /dev/zero | tr '\0' z; printf '&amp;<br>y\n'; } >big.htm
  { printf 'Ruxa000000ffffff'; head -c 9000000 /dev/zero | tr '\0' z; printf '&\\ny\r\n'; } >want
  run "$html" && same_bytes "large page" big.htx want
  # An old output in other capitals is the new output's file here. Whenever it is listed, it must
  # be read in its turn (after the page before it replaced it: it is then skipped as its own
  # output), never ahead, which would convert its old text over the new output.
  fresh
  for i in 1 2 3 4 5 6 7 8; do printf '<p>new%s</p>' $i >p$i.htm && printf '<p>old' >P$i.HTX; done
  run "$html"
  for i in 1 2 3 4 5 6 7 8; do file_is P$i.HTX "Ruxa000000ffffffnew$i"; done
  # The output name in other letters, given to the page itself (a hard link): left alone.
  fresh && printf '<p>x</p>' >az.htm && ln az.htm AZ.HTX && run "$html"
  batch_is "output is the page in other letters" 0 <<'EOF'
FICHIER: 1 .^M$
FICHIER: 2 ..^M$
FICHIER: 6 az.htm^M$
FICHIER: 6 AZ.HTX^M$
EOF
  holds "AZ.HTX is still the page" test az.htm -ef AZ.HTX
  ;;
names)
  # Names in any script: the console shows them in the code page (a character it lacks as '?',
  # or as the system's look-alike), and each is converted under its own name.
  fresh && for name in café 中文 Привет '📄 note' $'e\xcc\x81t\xc3\xa9'; do
    printf '<p>x</p>' >"$name.htm"
  done
  run "$html"
  batch_is "names in several scripts" 0 <<'EOF'
FICHIER: 1 .^M$
FICHIER: 2 ..^M$
FICHIER: 8 cafM-i.htm^M$
--- Ruxa Beta Bramlink 2005 --- ^M$
Size: 8 ^M$
FICHIER: 6 ??.htm^M$
--- Ruxa Beta Bramlink 2005 --- ^M$
Size: 8 ^M$
FICHIER: 10 ??????.htm^M$
--- Ruxa Beta Bramlink 2005 --- ^M$
Size: 8 ^M$
FICHIER: 11 ?? note.htm^M$
--- Ruxa Beta Bramlink 2005 --- ^M$
Size: 8 ^M$
FICHIER: 8 eM-4tM-i.htm^M$
--- Ruxa Beta Bramlink 2005 --- ^M$
Size: 8 ^M$
EOF
  for name in café 中文 Привет '📄 note' $'e\xcc\x81t\xc3\xa9'; do
    file_is "$name.htx" "Ruxa000000ffffffx"
  done
  run "$html" 中文.htm 'Привет 2.out'
  console_is "single mode, names outside the code page" 0 <<'EOF'
--- Ruxa Beta Bramlink 2005 --- ^M$
Size: 8 ^M$
x
EOF
  file_is 'Привет 2.out' 'Ruxa000000ffffffx'
  run "$html" нет.htm x.out
  errors_start "a missing name outside the code page" "html2Ruxa: cannot open '???.htm': "
  # A path of more than 300 characters, in single mode.
  long=$(printf 'folder%.0s' {1..20})/$(printf 'sub%.0s' {1..40})/$(printf 'page%.0s' {1..20})
  mkdir -p "$long" && printf '<b>deep</b>' >"$long/café.htm"
  compare "length of the long path" 322 "${#long}"
  run "$html" "$long/café.htm" "$long/out.htx" && compare "long path: status" 0 "$status"
  file_is "$long/out.htx" 'Ruxa000000ffffffdeep'
  ;;
same)  # the Linux bytes with LF stored as CR LF, files and console, in both modes
  [[ -x $native/html2Ruxa ]] || { echo "no Linux build in '$native' to compare with"; exit 77; }
  fresh && mkdir inputs && i=0
  for f in "$source_dir"/fuzz/corpus/html/* "$source_dir"/examples/pages/*; do
    cp "$f" inputs/$((i++)).htm
  done
  for f in "$source_dir"/fuzz/corpus/doc/*; do cp "$f" inputs/$((i++)).doc; done
  cp -r inputs linux && cp -r inputs windows
  batch() { (cd "$1" && "${@:2}") </dev/null >/dev/null 2>&1; }
  # Every Linux output has its Windows twin.
  twins() { for f in linux/*."$1"; do [[ -e windows/${f#linux/} ]] || return 1; done; }
  for program in html2Ruxa:htx doc2Ruxa:dox; do
    name=${program%:*} ext=${program#*:}
    batch linux "$native/$name"
    want=$?
    # Wine now and then starts a program that does nothing at all; a second run of the whole
    # batch tells its hiccup from a real difference, and the bytes are compared below.
    batch windows wine "$build/$name.exe"
    got=$?
    if [[ $got != "$want" ]] || ! twins "$ext"; then
      batch windows wine "$build/$name.exe"
      got=$?
    fi
    compare "batch status of $name, as on Linux" "$want" "$got"
  done
  for f in linux/*.htx linux/*.dox; do
    same_bytes "batch output ${f#linux/}" "windows/${f#linux/}" <(crlf "$f")
  done
  for f in inputs/*; do
    case $f in *.htm) lin=$native/html2Ruxa win=$html ;; *) lin=$native/doc2Ruxa win=$doc ;; esac
    "$lin" "$f" linux.out >linux.console 2>/dev/null </dev/null
    linux_status=$?
    same() {
      run "$win" "$f" windows.out
      [[ $status == "$linux_status" ]] && cmp -s <(crlf linux.console) "$out" &&
        cmp -s <(crlf linux.out) windows.out
    }
    holds "single mode ${f#inputs/}, as on Linux" same
  done
  ;;
huge)  # sizes past 4 GiB load whole and count right; slow, so CI or on request
  [[ -n ${CI:-}${RUXA_SLOW_TESTS:-} ]] || { echo "set RUXA_SLOW_TESTS=1 to run"; exit 77; }
  # The first read of a fresh sparse file fills the page cache, and wine commits the buffer a
  # 4 KiB page at a time: half a minute on an idle machine, longer beside the other groups.
  runner=(timeout 600 wine)
  fresh && printf '<p>x</p>' >big.htm && truncate -s 4294967296 big.htm && printf y >>big.htm
  run "$html" big.htm big.htx
  console_is huge 0 <<'EOF'
--- Ruxa Beta Bramlink 2005 --- ^M$
Size: 4294967297 ^M$
xy
EOF
  file_is big.htx 'Ruxa000000ffffffxy'
  ;;
esac
finish
