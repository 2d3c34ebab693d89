#!/usr/bin/env bash
# Drives the bash completion (its path is $1) the way bash calls it, in a scratch folder with a
# folder, a data file and another file; prints each mismatch and exits non-zero on any.
set -u
export LC_ALL=C
source "$1"
cd "$(mktemp -d)" || exit 2
trap 'rm -rf "$PWD"' EXIT
mkdir "My Mail"
touch archive.pst notes.txt
failed=0
expect() {  # expect "WANTED REPLIES" WORD...
    local want=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _eml2pst
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd' ')
    [[ $got == "$want" ]] || { echo "eml2pst ${*:2}: got '$got', want '$want'"; failed=1; }
}
expect "convert" eml2pst con
expect "--mailboxes --max-size" eml2pst convert --m
expect "My Mail" eml2pst convert ""
expect "My Mail archive.pst" eml2pst convert --json - "My Mail" ""
expect "My Mail" eml2pst convert --mailboxes "My Mail" ""
expect "My Mail" eml2pst convert --mailboxes --jobs 2 --shard 0/4 "My Mail" ""
expect "merge" eml2pst summary m
expect "" eml2pst convert "My Mail" archive.pst ""
expect "--json" eml2pst list --
expect "" eml2pst list archive.pst --
expect "My Mail archive.pst" eml2pst verify --json ""
expect "My Mail" eml2pst scan ""
exit $failed
