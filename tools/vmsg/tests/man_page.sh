#!/usr/bin/env bash
# The manual page against the program: man_page.sh VMSG PAGE VERSION.
#   - the page formats without a warning from man (as lintian checks it);
#   - every command of `vmsg --help` is in its COMMANDS section, every
#     option of `vmsg --help` and of each `vmsg COMMAND --help` in its
#     OPTIONS section, and every exit status that a help names in its EXIT
#     STATUS section;
#   - the limits and the flag bit that the helps state (built from the
#     library's constants) are the ones the page states;
#   - `vmsg --version` prints "vmsg VERSION", and the page's header names
#     the same version.
set -uo pipefail
vmsg=$1 page=$2 version=$3
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
[[ -z "$warnings" ]] || fail "man reports: $warnings"

# The page as a reader sees it, in ASCII and with lines long enough that
# nothing is broken or hyphenated.
rendered=$(LC_ALL=C MANWIDTH=1000 man -l "$page" 2>/dev/null | col -b)
[[ -n "$rendered" ]] || { echo "FAIL: man -l $page printed nothing" >&2; exit 1; }
section() {
    awk -v name="$1" '$0 == name { inside = 1; next } /^[A-Z][A-Z ]*$/ { inside = 0 } inside' <<<"$rendered"
}
# has TEXT WORD: WORD stands in TEXT on its own, not inside a longer option
# or word ("-o" is not found in "--output").
has() {
    grep -qE -- "(^|[^-[:alnum:]])$2([^-[:alnum:]]|$)" <<<"$1"
}

main_help=$("$vmsg" --help) || fail "vmsg --help failed"
# Commands: the leading words of each line of the list ("dict check FILE"
# gives "dict check").
mapfile -t commands < <(awk '/^Commands:/ { inside = 1; next } inside && /^$/ { exit }
    inside { phrase = $1; for (i = 2; i <= NF && $i ~ /^[a-z]+$/; i++) phrase = phrase " " $i; print phrase }' <<<"$main_help")
((${#commands[@]} >= 5)) || fail "found only ${#commands[@]} commands in vmsg --help"
commands_section=$(section COMMANDS)
helps=$main_help
declare -A seen
for command in "${commands[@]}"; do
    has "$commands_section" "$command" || fail "command '$command' is not in the COMMANDS section"
    name=${command%% *}
    [[ -n "${seen[$name]:-}" ]] && continue
    seen[$name]=1
    help=$("$vmsg" "$name" --help) || fail "vmsg $name --help failed"
    helps+=$'\n'$help
done

options_section=$(section OPTIONS)
mapfile -t options < <(grep -oE -- '(^|[^-[:alnum:]])--?[a-zA-Z][-a-zA-Z]*' <<<"$helps" |
    sed -E 's/^[^-]+//' | sort -u)
((${#options[@]} >= 10)) || fail "found only ${#options[@]} options in the helps"
for option in "${options[@]}"; do
    has "$options_section" "$option" || fail "option '$option' is not in the OPTIONS section"
done

exit_section=$(section 'EXIT STATUS')
mapfile -t statuses < <(grep -i 'exit status' <<<"$helps" | grep -oE '\b[0-9]+ ' | tr -d ' ' | sort -u)
((${#statuses[@]} >= 3)) || fail "found only ${#statuses[@]} exit statuses in the helps"
for status in "${statuses[@]}"; do
    grep -qE "^ +$status +[A-Z]" <<<"$exit_section" || fail "exit status $status is not in the EXIT STATUS section"
done

mapfile -t limits < <(grep -oE 'up to [0-9]+ (characters|bytes)|flag 0x[0-9a-f]+' <<<"$helps" | sort -u)
((${#limits[@]} >= 3)) || fail "found only ${#limits[@]} limits in the helps"
for limit in "${limits[@]}"; do
    grep -qF -- "$limit" <<<"$rendered" || fail "the page does not say '$limit' as the helps do"
done

said=$("$vmsg" --version) || fail "vmsg --version failed"
[[ "$said" == "vmsg $version" ]] || fail "vmsg --version printed '$said', expected 'vmsg $version'"
grep -q "^\.TH VMSG 1 .*\"libvmsg $version\"" "$page" || fail "the page's .TH line does not name version $version"

if ((failures)); then
    echo "$failures problem(s) with $page" >&2
    exit 1
fi
echo "man page: ${#commands[@]} commands, ${#options[@]} options and ${#statuses[@]} exit statuses documented; version $version"
