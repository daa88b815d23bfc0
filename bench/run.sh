#!/usr/bin/env bash
# Times html2Ruxa and doc2Ruxa in batch mode, in one run, against two yardsticks:
#   floor  bench/floor.cc: reads each input whole into one buffer and writes as many bytes as
#          the converter wrote to a new file; no converter can beat it
#   cp     cp of the single file, or a tar copy of the folder
# once for each vector kernel this processor runs (bench_html2Ruxa and bench_doc2Ruxa: the
# programs with the kernels their first argument names, all from one build), on these jobs (every timed command writes new output files,
# its old ones removed first):
#   synthetic page   one generated 100 MB page (bench/make_bench_inputs.cc)
#   real page        about 100 MB of the HTML documentation installed on this machine, in one file
#   dense page       95 MiB of generated markup-dense pages: entities, line breaks, cut-off tags
#   hostile page     100 MB of generated pages that take every slow turn: heads, body tags, cut-off
#                    tags and entities, stray '<' and '>', zero bytes
#   single mode      the real and the hostile page again, converted as one named file into
#                    another (the text echoed to the null device)
#   document         one generated 100 MB document, layout 'D'
#   3000 pages       3000 real pages, in a folder on disk and in a folder on tmpfs
# and, for each kernel, the conversion alone of each single file, in memory, and of pages of one
# pattern repeated, each the worst case of one slow turn.
# The commands of a job run in turn, round after round; each reports its median, and its ratio
# to the floor and to the copy as the median of the ratios within each round.
# Usage: bash bench/run.sh [rounds] [KERNEL...]   (default 9 rounds, every kernel; inputs go to
#        build/bench/ and /dev/shm/)
#        BASELINE=DIR bash bench/run.sh ...: DIR is a checkout of an earlier version (git worktree
#        add DIR main); its programs, built the same way, race beside these as was-KERNEL.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-9}
shift || true
cmake --preset release >/dev/null
cmake --build --preset release --target make_bench_inputs bench_floor bench_convert_in_memory \
  bench_html2Ruxa bench_doc2Ruxa >/dev/null
bin=$PWD/build/release
work=$PWD/build/bench
shm=/dev/shm/ruxa-bench

# The kernels this processor runs, as the programs themselves list them, narrowest first.
mapfile -t kernels < <("$bin/bench_html2Ruxa" --kernels)
if (($#)); then  # only the kernels named
  chosen=()
  for k in "${kernels[@]}"; do [[ " $* " == *" $k "* ]] && chosen+=("$k"); done
  kernels=("${chosen[@]}")
fi
# A baseline with the benchmark's programs is built once; an older one, whose programs took
# their kernel from the build (RUXA_KERNEL_CAP: 0 portable, 1 sse2, 2 avx2, 3 avx512), once per
# kernel.
baseline=${BASELINE:+$(realpath "$BASELINE")}
if [[ -n $baseline && -f $baseline/bench/kernel_program.cc ]]; then
  cmake -S "$baseline" -B "$baseline/build/bench" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$baseline/build/bench" --target bench_html2Ruxa bench_doc2Ruxa >/dev/null
elif [[ -n $baseline ]]; then
  caps=(portable sse2 avx2 avx512)
  for k in "${kernels[@]}"; do
    for cap in "${!caps[@]}"; do [[ ${caps[$cap]} == "$k" ]] && break; done
    cmake -S "$baseline" -B "$baseline/build/bench-$k" -DCMAKE_BUILD_TYPE=Release \
      -DRUXA_BUILD_TESTS=OFF -DRUXA_KERNEL_CAP="$cap" >/dev/null
    cmake --build "$baseline/build/bench-$k" --target html2Ruxa doc2Ruxa >/dev/null
  done
fi
# The contenders of each job: each kernel, and each kernel of the baseline.
contenders=("${kernels[@]}")
[[ -z $baseline ]] || contenders+=("${kernels[@]/#/was-}")
# command_of CONTENDER PROGRAM: the command that runs PROGRAM (html2Ruxa or doc2Ruxa) as that
# contender.
command_of() {
  local kernel=${1#was-}
  if [[ $1 != was-* ]]; then echo "$bin/bench_$2 $kernel"
  elif [[ -x $baseline/build/bench/bench_$2 ]]; then echo "$baseline/build/bench/bench_$2 $kernel"
  else echo "$baseline/build/bench-$kernel/$2"; fi
}
# peak_of CONTENDER PROGRAM FOLDER: that contender's peak memory in FOLDER, in KiB.
peak_of() {
  local command
  read -ra command <<<"$(command_of "$1" "$2")"
  (cd "$3" && peak_kb "${command[@]}")
}

# Real HTML: the documentation packages installed, in a fixed order, each file at least 1 kB.
real_html() {
  find /usr/share/doc /usr/share/gtk-doc /usr/lib/node_modules /root/.rustup/toolchains \
    \( -name '*.html' -o -name '*.htm' \) -type f -size +1k 2>/dev/null | LC_ALL=C sort
}
# Made again whenever the program that makes them changed.
if [[ ! -f $work/.complete || $bin/make_bench_inputs -nt $work/.complete ]]; then
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && "$bin/make_bench_inputs")
  mkdir -p "$work/real" "$work/real-pages"
  real_html >"$work/real-list"
  [[ -s $work/real-list ]] ||
    { echo "no HTML documentation installed to make the real page" >&2; exit 1; }
  while (($(stat -c %s "$work/real/page.htm" 2>/dev/null || echo 0) < 100 << 20)); do
    (set +o pipefail
     xargs -d '\n' cat <"$work/real-list" 2>/dev/null | head -c $((100 << 20)) \
       >>"$work/real/page.htm")
  done
  truncate -s $((100 << 20)) "$work/real/page.htm"
  head -n 3000 "$work/real-list" | awk '{ printf "%s\t%04d.htm\n", $0, NR }' |
    while IFS=$'\t' read -r from to; do cp "$from" "$work/real-pages/$to"; done
  touch "$work/.complete"
fi
rm -rf "$shm" && mkdir -p "$shm" && cp -r "$work/real-pages" "$shm/pages"
trap 'rm -rf "$shm"' EXIT
cd "$work"

now() { date +%s%N; }
# race NAME PREPARE COMMAND...: one contender; `prepare` runs untimed before each of its runs.
names=() prepares=() commands=()
race() { names+=("$1"); prepares+=("$2"); commands+=("$3"); }
# run_races: the contenders in turn, `rounds` times; then each one's median in milliseconds,
# and the median over the rounds of its time divided by each other contender's in the same round
# (`against[NAME/OTHER]`): the machine's speed drifts from round to round, and a ratio taken
# within a round leaves that drift out. Each round runs them in an order of its own (fixed by
# the round's number): on disk, whichever ran right after a copy of 3000 files was the slowest
# of its round, and no contender must always be the one.
declare -A median against
run_races() {
  local -A times=()
  local order i
  for ((r = 0; r < rounds; r++)); do
    mapfile -t order < <(shuf -i "0-$((${#names[@]} - 1))" --random-source=<(yes "$r"))
    for i in "${order[@]}"; do
      eval "${prepares[$i]}"
      sync
      local start
      start=$(now)
      eval "${commands[$i]}" >/dev/null
      times[$i]+="$(( ($(now) - start) / 100000 )) "
    done
  done
  for i in "${!names[@]}"; do
    median[${names[$i]}]=$(tr ' ' '\n' <<<"${times[$i]}" | sed '/^$/d' | sort -n |
      sed -n "$(( (rounds + 1) / 2 ))p" | awk '{ printf "%.1f", $1 / 10 }')
    for j in "${!names[@]}"; do
      against[${names[$i]}/${names[$j]}]=$(
        paste -d ' ' <(tr ' ' '\n' <<<"${times[$i]}" | sed '/^$/d') \
          <(tr ' ' '\n' <<<"${times[$j]}" | sed '/^$/d') |
          awk '{ printf "%.4f\n", ($2 > 0 ? $1 / $2 : 0) }' | sort -n |
          sed -n "$(( (rounds + 1) / 2 ))p" | awk '{ printf "%.2f", $1 }')
    done
  done
  names=() prepares=() commands=()
}
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
# One line of the report; the ratios are those within a round (see run_races).
report() {  # JOB KERNEL COPY_NAME PEAK_KB LARGEST_INPUT
  printf '%-28s %8s ms   floor %8s ms  %5s x   %-4s %8s ms  %5s x   memory: input + %s MiB\n' \
    "$1, $2" "${median[$2]}" "${median[floor]}" "${against[$2/floor]}" "$3" "${median[$3]}" \
    "${against[$2/$3]}" "$(awk -v k="$4" -v b="$5" 'BEGIN { printf "%.1f", (k * 1024 - b) / 1048576 }')"
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "vector extensions: $(grep -o 'avx[^ ]*' /proc/cpuinfo | sort -u | tr '\n' ' ')"
echo "median of $rounds rounds; each command writes new files; kernels: ${kernels[*]}"

# One file: the converter of each kernel in the file's folder, in batch mode, or in single mode
# with ARGUMENTS (its echo of the text goes to the null device), the floor writing as many bytes
# as the output file holds.
single_job() {  # NAME PROGRAM FOLDER INPUT OUTPUT [ARGUMENTS]
  local name=$1 program=$2 folder=$3 input=$4 output=$5 args=${6:-} k
  (cd "$folder" && rm -f "$output" && eval "$(command_of "${kernels[-1]}" "$program") $args" >/dev/null)
  local bytes c
  bytes=$(stat -c %s "$folder/$output")
  for c in "${contenders[@]}"; do
    race "$c" "rm -f $folder/$output" "(cd $folder && $(command_of "$c" "$program") $args)"
  done
  race floor "rm -f $folder/floor.out" "$bin/bench_floor $folder/$input $folder/floor.out $bytes"
  race cp "rm -f $folder/copy.out" "cp $folder/$input $folder/copy.out"
  run_races
  rm -f "$folder/floor.out" "$folder/copy.out"
  for c in "${contenders[@]}"; do
    report "$name" "$c" cp \
      "$(peak_of "$c" "$program" "$folder")" "$(stat -c %s "$folder/$input")"
  done
}
single_job "synthetic page" html2Ruxa page page.htm page.htx
single_job "real page" html2Ruxa real page.htm page.htx
single_job "dense page" html2Ruxa dense page.htm page.htx
single_job "hostile page" html2Ruxa hostile page.htm page.htx
single_job "real page, single mode" html2Ruxa real page.htm page.out "page.htm page.out"
single_job "hostile page, single mode" html2Ruxa hostile page.htm page.out "page.htm page.out"
single_job "document" doc2Ruxa doc big.doc big.dox

# The conversion alone (bench/convert_in_memory.cc): each input already in memory, no file
# written, no second thread; what the converter itself costs, apart from the load and the write
# it overlaps with in the programs.
echo "conversion alone, in memory, best of 7:"
"$bin/bench_convert_in_memory" page/page.htm real/page.htm dense/page.htm hostile/page.htm \
  doc/big.doc |
  awk -v chosen=" ${kernels[*]} " 'index(chosen, " " $2 " ")'
# Inputs of one pattern repeated: no kernel should fall far below its speed on the hostile page
# (or, for a document, on the document).
echo "conversion alone of one pattern repeated (patterns/), GB/s, best of 7:"
"$bin/bench_convert_in_memory" patterns/* |
  awk -v chosen=" ${kernels[*]} " 'index(chosen, " " $2 " ") {
         name = $1; sub(/.*\//, "", name); sub(/\.htm$/, "", name)
         if (name != last) { if (line != "") print line; line = sprintf("%-22s", name); last = name }
         line = line sprintf("  %s %5.2f", $2, $5) }
       END { if (line != "") print line }'

# A folder: the converter's batch, the floor's batch, and a tar copy.
folder_job() {  # NAME FOLDER
  local name=$1 folder=$2 c
  for c in "${contenders[@]}"; do
    race "$c" "rm -f $folder/*.htx" "(cd $folder && $(command_of "$c" html2Ruxa))"
  done
  (cd "$folder" && rm -f ./*.htx && eval "$(command_of "${kernels[-1]}" html2Ruxa)" >/dev/null)
  race floor "rm -f $folder/*.flr" "(cd $folder && $bin/bench_floor --folder .htm .htx .flr)"
  race tar "rm -rf $folder-copy; mkdir $folder-copy" \
    "tar -C $folder -cf - . | tar -C $folder-copy -xf -"
  run_races
  rm -rf "$folder"/*.flr "$folder-copy"
  for c in "${contenders[@]}"; do
    report "$name" "$c" tar \
      "$(peak_of "$c" html2Ruxa "$folder")" \
      "$(ls -S "$folder"/*.htm | head -1 | xargs stat -c %s)"
  done
  rm -f "$folder"/*.htx
}
folder_job "3000 pages, disk" real-pages
folder_job "3000 pages, tmpfs" "$shm/pages"
