# shellcheck shell=sh
# Sourced by the tool's test scripts: a scratch folder $work (removed on exit), failed checks
# counted by fail, and finish NAME to report them and exit.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# expect STATUS CMD...: runs CMD, keeps its output in $work/out and $work/err, checks the status
expect() {
    want=$1
    shift
    "$@" >"$work/out" 2>"$work/err"
    got=$?
    if [ "$got" -ne "$want" ]; then
        fail "exit $got (wanted $want): $*"
        sed 's/^/    /' "$work/out" "$work/err" >&2
    fi
}

contains() {  # contains FILE TEXT
    grep -qF -- "$2" "$1" || fail "'$2' missing from $(basename "$1"): $(cat "$1")"
}

finish() {  # finish NAME
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed" >&2
        exit 1
    fi
    echo "$1: all checks passed"
}
