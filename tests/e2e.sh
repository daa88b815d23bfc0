#!/usr/bin/env bash
# End-to-end tests: runs the built programs in scratch folders, as a user would, and checks the
# console byte for byte, the exit status and what is left on disk.
# Usage: e2e.sh BUILD_DIR GROUP   (GROUP: modes, documents, faults, skips, safety, huge)
set -u
build=$(realpath "$1") group=$2
# Each run has a time limit, a guard against hangs, not a measure of speed.
html=$build/html2Ruxa doc=$build/doc2Ruxa runner=(timeout 60)
# shellcheck source=e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"
# Programs built for another processor run under its emulator (RUXA_EMULATOR, qemu-user):
# scripts of the same names stand in for them.
emulator=${RUXA_EMULATOR:-}
if [[ -n $emulator ]]; then
  mkdir "$scratch/bin" && chmod 755 "$scratch" "$scratch/bin"
  for program in html2Ruxa doc2Ruxa; do
    printf '#!/bin/sh\nexec %s %s "$@"\n' "$emulator" "$build/$program" >"$scratch/bin/$program"
    chmod 755 "$scratch/bin/$program"
  done
  html=$scratch/bin/html2Ruxa doc=$scratch/bin/doc2Ruxa
fi

# What runs a command as an ordinary user: root passes every permission check.
unprivileged=()
[[ $(id -u) == 0 ]] && unprivileged=(setpriv --reuid=65534 --regid=65534 --clear-groups)

# zeros_as BYTE COUNT: COUNT copies of BYTE.
zeros_as() { head -c "$2" /dev/zero | tr '\0' "$1"; }
# document NAME SIZE MARKER: a document of SIZE blanks with MARKER at the layout offset.
document() {
  zeros_as ' ' "$2" >"$1" && printf '%s' "$3" | dd of="$1" bs=1 seek=2095 conv=notrunc status=none
}
# put NAME OFFSET BYTES: writes BYTES (printf notation) into NAME at OFFSET.
put() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

case $group in
modes)
  fresh && printf '<p>hi</p>' >a.htm && printf 'x<br>y' >b.HTML
  printf z | tee c.txt x.hxyz >p.ht  # (the name rules' other cases are unit-tested)
  printf q >z.hé  # names are bytes here: 'é' is two, so ".h" is fourth and third from the end
  run "$html"
  batch_is "batch mode, every entry listed, the matching ones converted" 0 <<'EOF'
FICHIER: 1 .$
FICHIER: 2 ..$
FICHIER: 5 a.htm$
--- Ruxa Beta Bramlink 2005 --- $
Size: 9 $
FICHIER: 6 b.HTML$
--- Ruxa Beta Bramlink 2005 --- $
Size: 6 $
FICHIER: 5 c.txt$
FICHIER: 4 p.ht$
FICHIER: 6 x.hxyz$
--- Ruxa Beta Bramlink 2005 --- $
Size: 1 $
FICHIER: 5 z.hM-CM-)$
--- Ruxa Beta Bramlink 2005 --- $
Size: 1 $
EOF
  file_is a.htx 'Ruxa000000ffffffhi' && file_is b..htx 'Ruxa000000ffffffx\ny'
  file_is x..htx 'Ruxa000000ffffffz' && file_is z.htx 'Ruxa000000ffffffq'
  absent c.htx && absent p.htx
  for args in "x" "x y z"; do  # any count but two is batch mode
    rm a.htx && run "$html" $args
    compare "arguments '$args': status" 0 "$status" && file_is a.htx 'Ruxa000000ffffffhi'
  done
  printf '<head>h</head><body text="#0000ff">a<br>b&amp;</body>' >in.txt
  run "$html" in.txt out.bin
  console_is "single mode" 0 <<'EOF'
--- Ruxa Beta Bramlink 2005 --- $
Size: 53 $
removing the headab&
EOF
  file_is out.bin 'Ruxa0000ffab&'
  : >e.htm && run "$html" e.htm e.out
  console_is "empty input" 0 <<'EOF'
--- Ruxa Beta Bramlink 2005 --- $
Size: 0 $
EOF
  file_is e.out 'Ruxa000000ffffff'
  "$html" in.txt closed.out >&- && file_is closed.out 'Ruxa0000ffab&'  # started without a console
  # The output is the file the console goes to: written directly, console lines and all.
  "$html" in.txt self.out >self.out 2>self.err
  compare "output is the console's file: status" 0 "$?" && file_is self.err ''
  holds "output is the console's file: the text is there" grep -q 'ab&' self.out
  # A document rejected with the console's file as output: that file is not emptied.
  printf short >bad.doc && "$doc" bad.doc self.dox >self.dox 2>/dev/null
  compare "rejected, output is the console's file: status" 2 "$?"
  file_is self.dox $'--- Ruxa Bramlink 2005 --- \nSize: 5 \nInvalid doc file! \n'
  stdin=<(printf '<i>x</i>') run "$html" /dev/stdin p.out
  console_is "a pipe as input" 0 <<'EOF'
--- Ruxa Beta Bramlink 2005 --- $
Size: 8 $
x
EOF
  file_is p.out 'Ruxa000000ffffffx'
  # A pipe longer than the memory first taken for it (2 MiB) is read to its end.
  stdin=<(zeros_as z 5000000) run "$html" /dev/stdin p.out
  file_is p.out "Ruxa000000ffffff$(zeros_as z 5000000)"
  # Large inputs are converted while they load: the same bytes, in both programs and modes.
  fresh
  { printf '<body bgcolor="#abcdef"><p>'; zeros_as z 9000000; printf '&amp;<br>y'; } >big.htm
  { printf 'Ruxa000000abcdef'; zeros_as z 9000000; printf '&\\ny'; } >want.htx
  run "$html" && same_bytes "large page, batch mode" big.htx want.htx
  { printf 'Ruxa000000abcdef'; zeros_as z 9000000; printf '&y'; } >want.out
  run "$html" big.htm big.out && same_bytes "large page, single mode" big.out want.out
  { zeros_as '\0' 2095; printf 'D\2\0\331'; zeros_as d 9000000; printf '\4'; } >big.doc
  zeros_as d 9000000 >want.dox
  run "$doc" big.doc big.dox && same_bytes "large document" big.dox want.dox
  ;;
documents)
  fresh && for name in x.doc X.DOC x.Doc x.docx; do
    document "$name" 3000 D && put "$name" 10 '\2\0\331\0o\0\4'
  done
  printf 'short' >bad.doc && run "$doc"
  batch_is "documents" 2 <<'EOF'
FICHIER: 1 .$
FICHIER: 2 ..$
FICHIER: 5 x.doc$
--- Ruxa Bramlink 2005 --- $
Size: 3000 $
FICHIER: 5 X.DOC$
--- Ruxa Bramlink 2005 --- $
Size: 3000 $
FICHIER: 5 x.Doc$
FICHIER: 6 x.docx$
FICHIER: 7 bad.doc$
--- Ruxa Bramlink 2005 --- $
Size: 5 $
Invalid doc file! $
EOF
  errors_are "documents" "doc2Ruxa: 'bad.doc': not a recognised document"
  file_is x.dox o && file_is X.dox o && file_is bad.dox '' && absent x.Dox
  ;;
faults)
  page='<b>x</b>'
  for p in "$html" "$doc"; do
    name=${p##*/}
    fresh && printf "$page" >a.in && mkdir d.in o && ln a.in l.out
    # what | arguments | the reason standard error gives after the program's name, if checked
    while IFS='|' read -r what args reason; do
      run "$p" $args
      console_is "$what" 1 <<<'Error, invalid file name!$'
      [[ -z $reason ]] || errors_are "$what" "$name: $reason"
    done <<'EOF'
missing input|no.in o.out|cannot open 'no.in': No such file or directory
input is a folder|d.in o.out|cannot open 'd.in': Is a directory
output folder missing|a.in no/o.out|cannot create 'no/o.out': No such file or directory
output is a folder|a.in o|cannot create 'o': Is a directory
output is the input|a.in a.in|cannot create 'a.in': it is the input file
output is the input, spelt otherwise|a.in ./a.in|
output is a hard link to the input|a.in l.out|
EOF
    run "$p" a.in ''  # refused before the text is converted, as the other names are
    console_is "output name empty" 1 <<<'Error, invalid file name!$'
    errors_are "output name empty" "$name: cannot create '': No such file or directory"
    absent o.out && file_is a.in "$page" && folder_holds . a.in d.in o l.out
  done
  fresh && printf "$page" >p.htm && mkdir p.htx && run "$html"
  console_ends "batch output is a folder" 1 <<'EOF'
FICHIER: 5 p.htm$
Error!$
EOF
  errors_are "batch output is a folder" "html2Ruxa: cannot create 'p.htx': Is a directory"
  fresh && printf "$page" >x.doc && mkdir x.dox && run "$doc"
  console_ends "batch output is a folder" 1 <<'EOF'
FICHIER: 5 x.doc$
Error, invalid file name!$
EOF
  # Root may replace a device node, and a faulty build might: the full device is written as
  # nobody, with the program and its input copied in.
  mkdir dev && cp "$build/html2Ruxa" dev/ && printf "$page" >dev/a.htm && chmod 755 . dev
  cd dev && run "${unprivileged[@]}" $emulator ./html2Ruxa a.htm /dev/full && cd ..
  console_is "full disk" 1 <<'EOF'
--- Ruxa Beta Bramlink 2005 --- $
Size: 8 $
xError, cannot write the output file!$
EOF
  errors_are "full disk" "html2Ruxa: cannot write '/dev/full': No space left on device"
  zeros_as z 4000000 >big.htm
  "$html" big.htm big.out </dev/null | head -c 1 >/dev/null
  compare "console closes early: status" 0 "${PIPESTATUS[0]}"
  file_is big.out "Ruxa000000ffffff$(cat big.htm)"
  mkfifo open.pipe && exec 3<>open.pipe  # a pipe that never ends nor delivers a line
  stdin=open.pipe run timeout 10 "$html" no o && exec 3>&-
  console_is "failure with an open pipe as standard input" 1 <<<'Error, invalid file name!$'
  # At a terminal the pause ends with Enter, or with the end of input (Ctrl-D). The terminal
  # does not echo what is typed: its echo would land before or after the prompt, whichever
  # comes first.
  for key in '\n' '\004'; do
    printf "$key" | timeout 10 script -qec "stty -echo; $html no o" /dev/null >tty.out
    status=${PIPESTATUS[1]} && cp tty.out "$out"
    console_ends "pause at a terminal, then '$key'" 1 <<<'Press Enter to continue . . . '
  done
  # The pause takes the whole line typed: none of it is left for the shell to run.
  printf 'ab\ncd\n' | timeout 10 script -qec "stty -echo; $html no o; read -r l; echo \"[\$l]\"" \
    /dev/null >tty.out
  compare "what the pause leaves of the input" "Press Enter to continue . . . [cd]" \
    "$(tail -n 1 tty.out | tr -d '\r')"
  # A folder that can be entered but not read; root reads anything, so root runs it as nobody.
  # The program is copied in, so that nobody needs to reach the build folder.
  fresh && cp "$build/html2Ruxa" . && chmod 311 .
  run "${unprivileged[@]}" $emulator ./html2Ruxa
  console_is "unlistable folder" 1 <<<'Error, cannot list the directory!$'
  chmod 700 .
  ;;
skips)  # entries that would be converted onto themselves, and non-regular entries, are only listed
  fresh && for f in notes.htx index..htx h.htm; do printf keep >$f; done
  ln h.htm h.htx && mkdir d.htm && mkfifo f.htm && run "$html"
  batch_is skips 0 <<'EOF'
FICHIER: 1 .$
FICHIER: 2 ..$
FICHIER: 9 notes.htx$
FICHIER: 10 index..htx$
FICHIER: 5 h.htm$
FICHIER: 5 h.htx$
FICHIER: 5 d.htm$
FICHIER: 5 f.htm$
EOF
  file_is notes.htx keep && file_is index..htx keep && file_is h.htm keep
  ;;
safety)
  # Help and version touch nothing, whatever the folder holds.
  fresh && printf '<p>new</p>' >page.htm && printf old >page.htx
  run "$html" --version && console_is "--version" 0 <<<'html2Ruxa (ruxa-tools) 1.1.0$'
  for option in --help -h; do
    run "$html" $option
    compare "$option" "0 Usage: html2Ruxa INPUT OUTPUT" "$status $(head -1 "$out")"
  done
  # Each lists the exit statuses it can return: only doc2Ruxa rejects an input.
  run "$html" --help && compare "html2Ruxa's statuses" \
    "Exit status: 0 done; 1 stopped on a failure." "$(grep '^Exit status' "$out")"
  run "$doc" --help && compare "doc2Ruxa's statuses" \
    "Exit status: 0 done; 1 stopped on a failure; 2 some input not recognised." \
    "$(grep '^Exit status' "$out")"
  run "$doc" --version && console_is "doc2Ruxa --version" 0 <<<'doc2Ruxa (ruxa-tools) 1.1.0$'
  file_is page.htx old && folder_holds . page.htm page.htx
  # A batch replaces a link planted at an output name; the link's target is never written, nor
  # are its permission bits taken.
  mkdir victim && printf secret >victim/notes.txt && chmod 604 victim/notes.txt && rm page.htx
  ln -s victim/notes.txt page.htx && run "$html" && holds "planted link replaced" test ! -L page.htx
  file_is victim/notes.txt secret && file_is page.htx 'Ruxa000000ffffffnew'
  new_mode=$(printf '%o' $((0666 & ~0$(umask))))  # what a new file gets
  compare "mode of a replaced link" "$new_mode" "$(stat -c %a page.htx)"
  # Two entries with one output name: the first one converted creates it, the second replaces
  # it whole, whichever order the listing gives.
  mkdir twins && cd twins && printf '<p>one</p>' >a.htm && printf '<p>two</p>' >a.hTm
  run "$html" && folder_holds . a.htm a.hTm a.htx
  compare "twins converted" "0 2" "$status $(grep -c '^Size: 10 $' "$out")"
  [[ $(cat a.htx) == Ruxa000000ffffff@(one|two) ]] && pass || fail twins one/two "$(cat a.htx)"
  cd ..
  # Single mode follows a link the user named, through a chain of relative links, each read
  # from its own folder; the output is put whole where the last one points, there or not yet.
  ln -s victim/named named && ln -s new.txt victim/named && run "$html" page.htm named
  file_is victim/new.txt 'Ruxa000000ffffffnew'
  inode=$(stat -c %i victim/new.txt) && run "$html" page.htm named
  holds "links kept, their target replaced" test -L named -a -L victim/named -a \
    "$(stat -c %i victim/new.txt)" != "$inode"
  folder_holds victim named new.txt notes.txt
  # A name that only looks like a link (/dev/fd of a deleted file reads "NAME (deleted)") is
  # written directly, as named: no file appears under the name the link shows.
  exec 4>gone.out && rm gone.out && run "$html" page.htm /dev/fd/4
  compare "output to a deleted file's /dev/fd" 'Ruxa000000ffffffnew' "$(cat /dev/fd/4)"
  exec 4>&-
  # A replaced output keeps its permission bits, and its owner when root replaces another
  # user's file; a new one gets the usual ones.
  chmod 640 page.htx && owner=$(stat -c %u:%g page.htx)
  [[ $(id -u) == 0 ]] && owner=65534:65534 && chown "$owner" page.htx
  run "$html" page.htm page.htx
  compare "mode of a replaced output" 640 "$(stat -c %a page.htx)"
  compare "owner of a replaced output" "$owner" "$(stat -c %u:%g page.htx)"
  run "$html" page.htm fresh.htx
  compare "mode of a new output" "$new_mode" "$(stat -c %a fresh.htx)"
  folder_holds . page.htm page.htx victim named fresh.htx twins
  # An output name too long to take the temporary file's suffix: the temporary file gets a
  # short name of its own, in both modes.
  long=$(printf 'n%.0s' {1..246}).htm
  printf '<p>long</p>' >"$long" && printf old >"${long%.htm}.htx"
  run "$html" "$long" "${long%.htm}.htx" && file_is "${long%.htm}.htx" 'Ruxa000000fffffflong'
  printf old >"${long%.htm}.htx" && run "$html" && file_is "${long%.htm}.htx" 'Ruxa000000fffffflong'
  rm "$long" "${long%.htm}.htx"
  # Interrupted while it writes (its console is a pipe nobody reads yet), a run leaves the old
  # output and no temporary file; killed outright it still leaves the old output, and a new
  # output in another folder leaves nothing there, as it had no name yet.
  fresh && zeros_as z 3000000 >big.htm && printf old >big.out && mkdir new
  # (a background job of a script ignores INT)
  for signal_output in TERM:big.out HUP:big.out KILL:big.out KILL:new/big.out; do
    output=${signal_output#*:}
    mkfifo slow && { "$html" big.htm "$output" >slow & } && pid=$! && exec 3<slow && sleep 0.5
    kill -"${signal_output%:*}" $pid && wait $pid 2>/dev/null
    exec 3<&- && rm slow
  done
  file_is big.out old && folder_holds new && rmdir new
  find . -mindepth 1 -maxdepth 1 ! -name big.htm ! -name big.out -exec rm -f {} +
  # A signal ignored when the program starts (nohup) stays ignored: the run completes.
  mkfifo slow && { (trap '' HUP && exec "$html" big.htm big.out >slow) & } && pid=$!
  exec 3<slow && sleep 0.5 && kill -HUP $pid && cat <&3 >/dev/null && wait $pid
  compare "hang-up ignored at start: status" 0 "$?"
  exec 3<&- && rm slow && file_is big.out "Ruxa000000ffffff$(cat big.htm)"
  printf old >big.out
  run "$html" big.htm big.out && file_is big.out "Ruxa000000ffffff$(cat big.htm)"
  folder_holds . big.htm big.out
  # A full disk keeps the old output and leaves no temporary file.
  if mkdir small && mount -t tmpfs -o size=1m ruxa-e2e small 2>/dev/null; then
    mounts+=("$PWD/small")
    printf old >small/o.htx && run "$html" big.htm small/o.htx
    console_ends "disk fills up" 1 <<<'Error, cannot write the output file!$'
    errors_are "disk fills up" "html2Ruxa: cannot write 'small/o.htx': No space left on device"
    file_is small/o.htx old && folder_holds small o.htx
    umount small && mounts=()
    # No inode left for a new file: the output cannot be replaced and stays as it was.
    mount -t tmpfs -o size=1m,nr_inodes=2 ruxa-e2e small && mounts+=("$PWD/small")
    printf old >small/o.htx && run "$html" big.htm small/o.htx
    errors_are "no inode left" "html2Ruxa: cannot create 'small/o.htx': No space left on device"
    file_is small/o.htx old && folder_holds small o.htx
    umount small && mounts=()
  else
    echo "skipped: a small tmpfs cannot be mounted here"
  fi
  # A file-size limit (ulimit -f) fails the write as a full disk does, in both modes: a reason,
  # the old output kept, no temporary file left.
  fresh && zeros_as z 300000 >p.htm && printf old >p.htx
  for args in "p.htm p.htx" ""; do
    # shellcheck disable=SC2086  # no arguments at all for the batch
    run bash -c 'ulimit -f 100 && exec "$@"' limit "$html" $args
    compare "file-size limit ($args): status" 1 "$status"
    errors_are "file-size limit ($args)" "html2Ruxa: cannot write 'p.htx': File too large"
    file_is p.htx old && folder_holds . p.htm p.htx
  done
  # Nested signatures with no terminator: the output would grow with the square of the input.
  fresh && document n.doc 4096 D && printf '\2A\331B' >nest
  for ((i = 0; i < 18; i++)); do cat nest nest >n2 && mv n2 nest; done
  cat nest >>n.doc && rm nest && printf old >n.dox && run "$doc"  # 1 MiB of signatures
  batch_is "nested signatures" 2 <<'EOF'
FICHIER: 1 .$
FICHIER: 2 ..$
FICHIER: 5 n.dox$
FICHIER: 5 n.doc$
--- Ruxa Bramlink 2005 --- $
Size: 1052672 $
Invalid doc file! $
EOF
  errors_are "nested signatures" "doc2Ruxa: 'n.doc': output would pass the size bound"
  file_is n.dox '' && folder_holds . n.doc n.dox
  # Whether the output existed or not, in either mode, a rejected document leaves it empty.
  rm n.dox && run "$doc" && file_is n.dox '' && folder_holds . n.doc n.dox
  for old in "" old; do
    rm -f n.out && [[ -n $old ]] && printf old >n.out
    run "$doc" n.doc n.out && compare "single mode, output '$old': status" 2 "$status"
    errors_are "single mode" "doc2Ruxa: 'n.doc': output would pass the size bound"
    file_is n.out '' && folder_holds . n.doc n.dox n.out
  done
  # A folder that refuses new files, holding outputs its user may write: they are rewritten in
  # place, quietly, in both modes. Root writes anywhere, so root runs the case as nobody.
  fresh && cp "$build/html2Ruxa" . && printf '<p>new</p>' >a.htm && printf old | tee a.htx >b.htx
  chmod 666 a.htx b.htx && chmod 755 . && as_user=("${unprivileged[@]}")
  [[ $(id -u) == 0 ]] || chmod 555 .  # (the program is copied in, so that nobody can reach it)
  if "${as_user[@]}" true 2>/dev/null; then
    run "${as_user[@]}" $emulator ./html2Ruxa a.htm b.htx
    console_is "read-only folder, single mode" 0 <<'EOF'
--- Ruxa Beta Bramlink 2005 --- $
Size: 10 $
new
EOF
    errors_are "read-only folder, single mode"
    run "${as_user[@]}" $emulator ./html2Ruxa
    batch_is "read-only folder, batch mode" 0 <<'EOF'
FICHIER: 1 .$
FICHIER: 2 ..$
FICHIER: 9 html2Ruxa$
FICHIER: 5 a.htm$
--- Ruxa Beta Bramlink 2005 --- $
Size: 10 $
FICHIER: 5 a.htx$
FICHIER: 5 b.htx$
EOF
    errors_are "read-only folder, batch mode"
    file_is a.htx 'Ruxa000000ffffffnew' && file_is b.htx 'Ruxa000000ffffffnew'
    folder_holds . html2Ruxa a.htm a.htx b.htx
    # An output rewritten in place may be another name of an entry already read ahead: that
    # entry is read again in its turn, whichever of the two the listing gives first.
    chmod 755 . && printf old >a.htx && ln a.htx c.htm && printf x >c.htx && chmod 666 c.htx
    [[ $(id -u) == 0 ]] || chmod 555 .
    run "${as_user[@]}" $emulator ./html2Ruxa
    if [[ $(grep -o -m1 'FICHIER: 5 [ac].htm' "$out") == *a.htm ]]; then
      file_is c.htx 'Ruxa000000ffffffRuxa000000ffffffnew'
    else
      file_is c.htx 'Ruxa000000ffffffold'
    fi
  else
    echo "skipped: cannot run as another user here"
  fi
  chmod 755 .
  ;;
huge)  # past 2 GiB the size must still load whole and count right; slow, so CI or on request
  [[ -n ${CI:-}${RUXA_SLOW_TESTS:-} ]] || { echo "set RUXA_SLOW_TESTS=1 to run"; exit 77; }
  [[ -z $emulator ]] || { echo "left out under an emulator: too slow there"; exit 77; }
  runner=(timeout 600)  # gigabytes, under the sanitizers too
  fresh && printf '<p>x</p>' >big.htm && truncate -s 2684354560 big.htm && printf y >>big.htm
  run "$html"
  if [[ $(od -An -tx1 -j4 -N1 "$build/html2Ruxa") == " 01" ]]; then
    # A 32-bit program has no room for it: it says so, and leaves no output.
    console_ends "huge, 32-bit" 1 <<<'Error, invalid file name!$'
    errors_are "huge, 32-bit" "html2Ruxa: cannot read 'big.htm': too large for this machine's memory"
    folder_holds . big.htm
  else
    batch_is huge 0 <<'EOF'
FICHIER: 1 .$
FICHIER: 2 ..$
FICHIER: 7 big.htm$
--- Ruxa Beta Bramlink 2005 --- $
Size: 2684354561 $
EOF
    file_is big.htx 'Ruxa000000ffffffxy'
  fi
  rm big.htm
  # 2000 nested runs with no terminator, followed by a gigabyte of zeros: each run is the tail
  # of the one before, and the zeros must not be walked again for each of them.
  fresh && zeros_as '\0' 4096 >s.doc && put s.doc 2095 D
  for ((i = 0; i < 2000; i++)); do printf '\2a\331'; done >>s.doc && truncate -s 1G s.doc
  run timeout 60 "$doc" s.doc s.dox
  console_is "sparse document" 0 <<'EOF'
--- Ruxa Bramlink 2005 --- $
Size: 1073741824 $
EOF
  compare "sparse document output size" $((2000 + 3 * 2000 * 1999 / 2)) "$(stat -c %s s.dox)"
  compare "sparse document output start" "$(printf 'a\2a\331' | cat -e)" \
    "$(head -c 4 s.dox | cat -e)"
  ;;
esac
finish
