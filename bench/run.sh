#!/usr/bin/env bash
# Times html2Ruxa and doc2Ruxa in batch mode against copying the same bytes, in one run:
#   one 100 MB page        vs  cp of the page
#   3000 small pages       vs  a tar copy of the folder
#   one 100 MB document    vs  cp of the document
# and reports the median of several runs, the ratio, and the peak memory as a multiple of the
# input size. Usage: bash bench/run.sh [runs]   (default 7; inputs go to build/bench/)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
cmake --preset release >/dev/null
cmake --build --preset release --target html2Ruxa doc2Ruxa make_bench_inputs >/dev/null
bin=$PWD/build/release
work=$PWD/build/bench
if [[ ! -f $work/.complete ]]; then
  rm -rf "$work" && mkdir -p "$work"
  (cd "$work" && "$bin/make_bench_inputs") && touch "$work/.complete"
fi
cd "$work"

now() { date +%s%N; }
# Median wall time in milliseconds of running "$@" $runs times, after `prepare` each time.
median_ms() {
  local prepare=$1; shift
  local times=() start
  for ((i = 0; i < runs; i++)); do
    eval "$prepare"
    start=$(now); "$@" >/dev/null; times+=($(( ($(now) - start) / 1000000 )))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p"
}
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

in_dir() { (cd "$1" && shift && "$@"); }
tar_copy() { tar -C pages -cf - . | tar -C pages-copy -xf -; }

report() {  # name, tool ms, reference name, reference ms, peak kB, largest input in bytes
  printf '%-26s %6s ms   %-4s %6s ms   ratio %5s   peak memory: input + %s MiB\n' \
    "$1" "$2" "$3" "$4" "$(ratio "$2" "$4")" \
    "$(awk -v k="$5" -v b="$6" 'BEGIN { printf "%.1f", (k * 1024 - b) / 1048576 }')"
}

page_size=$(stat -c %s page/page.htm)
doc_size=$(stat -c %s doc/big.doc)
pages_size=$(cat pages/*.htm | wc -c)
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "inputs: page $page_size bytes, document $doc_size bytes, 3000 pages $pages_size bytes; median of $runs runs"

t_cp=$(median_ms 'rm -f page/copy.bin; sync' cp page/page.htm page/copy.bin); rm -f page/copy.bin
t_html=$(median_ms 'rm -f page/page.htx; sync' in_dir page "$bin/html2Ruxa")
report "html2Ruxa, 100 MB page" "$t_html" cp "$t_cp" "$(in_dir page peak_kb "$bin/html2Ruxa")" "$page_size"

t_tar=$(median_ms 'rm -rf pages-copy; mkdir pages-copy; sync' tar_copy); rm -rf pages-copy
t_pages=$(median_ms 'rm -f pages/*.htx; sync' in_dir pages "$bin/html2Ruxa")
report "html2Ruxa, 3000 pages" "$t_pages" "tar" "$t_tar" "$(in_dir pages peak_kb "$bin/html2Ruxa")" \
  "$(ls -S pages/*.htm | head -1 | xargs stat -c %s)"
rm -f pages/*.htx

t_cp=$(median_ms 'rm -f doc/copy.bin; sync' cp doc/big.doc doc/copy.bin); rm -f doc/copy.bin
t_doc=$(median_ms 'rm -f doc/big.dox; sync' in_dir doc "$bin/doc2Ruxa")
report "doc2Ruxa, 100 MB document" "$t_doc" cp "$t_cp" "$(in_dir doc peak_kb "$bin/doc2Ruxa")" "$doc_size"
