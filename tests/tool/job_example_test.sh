#!/bin/sh
# The README's C program that runs a whole job writes what zavimage annotate writes for the same
# options, and prints the same summary. Arguments: the zavimage binary, the example, the README.
set -u
zav=$1
example=$2
readme=$3
# shellcheck source-path=SCRIPTDIR source=checks.sh
. "$(dirname "$0")/checks.sh"

# the README shows the program as it is built here
sed -n '/^int main(void) {$/,/^}$/p' "$(dirname "$0")/job_example.c" >"$work/program"
awk 'NR == FNR {want[NR] = $0; n = NR; next}
     k < n {k = $0 == want[k + 1] ? k + 1 : $0 == want[1] ? 1 : 0}
     END {exit k == n ? 0 : 1}' "$work/program" "$readme" ||
    fail "the README does not show job_example.c's program as it is"

cd "$work" || exit 1
mkdir shots
"$zav" demo demo >/dev/null || fail "demo"
cp demo/input.bmp shots/street.bmp
cp demo/output.jpg shots/marked.jpg
"$example" >example.out 2>example.err || fail "the example failed: $(cat example.err)"
"$zav" annotate shots --out-dir tool --format jpg --resize 1280x720 --box 200,120,64,48 \
    --text "cam 1" --anchor top-left >tool.out || fail "annotate"
cmp -s example.out tool.out || fail "summaries differ: $(cat example.out) / $(cat tool.out)"
for f in street.jpg marked.jpg; do
    cmp -s "marked/$f" "tool/$f" || fail "$f differs from the tool's"
done
contains example.out "annotate: 2 succeeded, 0 failed"
finish "job example"
