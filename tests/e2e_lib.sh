# shellcheck shell=bash
# Helpers shared by the end-to-end scripts (e2e.sh on Linux, e2e_windows.sh under wine). A script
# sets `runner` (what goes before a program: nothing, or wine with a time limit), sources this
# file, runs its checks and ends with `finish`.
#
# Everything a test makes lies under one scratch folder in $TMPDIR, removed when the script ends,
# however it ends (a failed check, an error, an interruption).
#
# Console text is written as `cat -e` shows it: every line end as `$`, so that the blanks before
# a line end stay visible; a CR shows as `^M`, a byte above 127 as `M-` and that byte less 128.

passed=0 failed=0 mounts=()
scratch=$(mktemp -d "${TMPDIR:-/tmp}/ruxa-e2e.XXXXXX") || exit 1
out=$scratch/stdout err=$scratch/stderr
cleanup() {
  cd / || return
  local m
  for m in "${mounts[@]}"; do umount "$m" 2>/dev/null; done
  chmod -R u+rwx "$scratch" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# fresh: a new, empty folder for a case, made the current one.
fresh() { dir=$(mktemp -d "$scratch/case.XXXXXX") && cd "$dir" || exit 1; }

# run PROGRAM ARG...: runs the program (through $runner), standard input from $stdin or the null
# device; sets $status and keeps standard output and standard error for the checks below. A
# program that hangs ($runner's time limit, status 124) ends the script at once, as a failure.
# Every run of the programs prints something; where `silent_retry` is set (under wine, which now
# and then starts a program that does nothing at all), a run that printed nothing runs again.
run() {
  local again=${silent_retry:-}
  while :; do
    # shellcheck disable=SC2154  # runner is set by the script that sources this file
    "${runner[@]}" "$@" <"${stdin:-/dev/null}" >"$out" 2>"$err"
    status=$?
    [[ -n $again && $status != 124 && ! -s $out ]] || break
    again=
  done
  if [[ $status == 124 ]]; then
    fail "$* ended" "within the time limit" "killed by it"
    finish
    exit 1
  fi
}

pass() { passed=$((passed + 1)); }
# fail WHAT EXPECTED GOT: counts a failed check and shows what was expected and what came.
fail() {
  failed=$((failed + 1))
  printf 'FAIL: %s\n' "$1"
  show "expected:" "$2"
  show "got:" "$3"
}
# show LABEL TEXT: the text under its label, indented, cut after 20 lines.
show() {
  printf '%s\n' "$2" | head -n 20 | sed "1s/^/  $(printf '%-10s' "$1")/; 2,\$s/^/            /"
}
# compare WHAT EXPECTED GOT: passes when the two texts are equal.
compare() { if [[ $2 == "$3" ]]; then pass; else fail "$1" "$2" "$3"; fi; }

# console_is WHAT STATUS <<'EOF' ... : the exit status and the whole standard output.
console_is() { compare "$1" "status $2"$'\n'"$(cat)" "status $status"$'\n'"$(cat -e "$out")"; }
# console_ends WHAT STATUS <<'EOF' ... : the exit status and the last lines of standard output.
console_ends() {
  local want got
  want=$(cat) got=$(cat -e "$out")
  [[ $got == *"$want" ]] && got=$want
  compare "$1" "status $2"$'\n'"$want" "status $status"$'\n'"$got"
}
# batch_is WHAT STATUS <<'EOF' ... : the exit status and the whole standard output of a batch, as
# a set of blocks, each a FICHIER line and what converting that entry printed: the folder lists
# its entries in an order of its own.
batch_is() {
  compare "$1" "status $2"$'\n'"$(blocks)" "status $status"$'\n'"$(cat -e "$out" | blocks)"
}
blocks() {
  awk 'BEGIN { RS = "FICHIER: " } NR == 1 && $0 != "" { print } NR > 1 {
         sub(/\n$/, ""); gsub(/\n/, " | "); print "FICHIER: " $0 }' | sort
}
# errors_are WHAT LINE...: standard error holds exactly these lines.
errors_are() { compare "$1 (standard error)" "$(printf '%s\n' "${@:2}")" "$(cat "$err")"; }
# errors_start WHAT TEXT: standard error's first line starts with TEXT (the system's own wording
# follows).
errors_start() {
  local got
  got=$(head -n 1 "$err" | tr -d '\r')
  [[ $got == "$2"* ]] && got=$2
  compare "$1 (standard error)" "$2" "$got"
}
# file_is PATH BYTES: the file holds exactly these bytes.
file_is() {
  if [[ ! -f $1 ]]; then
    fail "$1" "a file" "none"
  elif cmp -s <(printf '%s' "$2") "$1"; then
    pass
  else
    fail "$1" "$(printf '%s' "$2" | cat -e | head -c 300)" "$(cat -e "$1" | head -c 300)"
  fi
}
# same_bytes WHAT PATH EXPECTED_PATH: two files hold the same bytes (large ones, say).
same_bytes() {
  if cmp -s "$2" "$3"; then pass; else fail "$1" "$(wc -c <"$3") bytes" "$(cmp "$2" "$3" 2>&1)"; fi
}
absent() { if [[ ! -e $1 && ! -L $1 ]]; then pass; else fail "$1" "no such file" "it exists"; fi; }
# folder_holds DIR NAME...: the folder holds exactly these names (so no temporary file was left).
folder_holds() {
  local want got
  want=$(printf '%s\n' "${@:2}" | LC_ALL=C sort) got=$(ls -A "$1" | LC_ALL=C sort)
  compare "what $1 holds" "$want" "$got"
}
# holds WHAT COMMAND...: the command succeeds.
holds() { if "${@:2}"; then pass; else fail "$1" "success" "failure of: ${*:2}"; fi; }

# Ends the script: prints the count and gives its status.
finish() {
  echo "$passed passed, $failed failed"
  [[ $failed == 0 ]]
}
