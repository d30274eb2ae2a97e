# Sourced by the example exchange scripts.
# wait_line FILE PATTERN [PID]: prints the first group of the first line of
# FILE that matches the sed PATTERN (one \(...\) group), waiting up to 10 s
# for it to appear; fails at once when PID is given and that process has
# ended without writing it.
wait_line() {
    local found=
    for _ in $(seq 100); do
        found=$(sed -n "s/$2/\\1/p" "$1" | head -n 1)
        [[ -n $found ]] && { echo "$found"; return 0; }
        if [[ -n ${3:-} ]] && ! kill -0 "$3" 2>/dev/null; then
            found=$(sed -n "s/$2/\\1/p" "$1" | head -n 1)
            [[ -n $found ]] && { echo "$found"; return 0; }
            return 1
        fi
        sleep 0.1
    done
    return 1
}
