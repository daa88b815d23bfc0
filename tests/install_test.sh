#!/usr/bin/env bash
# Installs into a temporary prefix, as a packager would, and runs the installed programs there.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
for f in bin/html2Ruxa bin/doc2Ruxa share/man/man1/html2Ruxa.1 share/man/man1/doc2Ruxa.1; do
  [[ -f $tmp/prefix/$f ]] || { echo "not installed: $f"; exit 1; }
done
if command -v groff >/dev/null; then
  for page in "$tmp"/prefix/share/man/man1/*.1; do
    warnings=$(groff -ww -z -man "$page" 2>&1)
    [[ -z $warnings ]] || { echo "$page: $warnings"; exit 1; }
  done
fi
mkdir "$tmp/work" && cd "$tmp/work"
printf '<head><title>t</title></head><body bgcolor="#abcdef">a&amp;b<br>c' > page.html
expected_console=$'FICHIER: 9 page.html\n--- Ruxa Beta Bramlink 2005 --- \nSize: 65 \nremoving the head'
console=$(PATH="$tmp/prefix/bin" html2Ruxa)
[[ $console == *"$expected_console"* ]] || { echo "unexpected console: $console"; exit 1; }
[[ $(cat page..htx) == 'Ruxa000000abcdefa&b\nc' ]] || { echo "unexpected page..htx"; exit 1; }
echo "installed programs work"
