# Lists the public and protected members that have no documentation, read
# from Doxygen's XML output:
#
#     awk -f docs/undocumented.awk build/docs/xml/*.xml
#
# Doxygen warns about most undocumented members itself, but not about enum
# values or deleted functions; this covers every member it writes out.
# Prints one "file:line: KIND NAME is not documented" per member and exits
# 1 if there was any.

function push(kind, prot) {
    depth++
    rkind[depth] = kind; rprot[depth] = prot
    rname[depth] = ""; rfile[depth] = FILENAME; rline[depth] = FNR
    rdoc[depth] = 0; rreimpl[depth] = 0
}

function attr(line, key,   re) {
    re = key "=\"[^\"]*\""
    if (!match(line, re))
        return ""
    return substr(line, RSTART + length(key) + 2, RLENGTH - length(key) - 3)
}

function pop(   where) {
    # A reimplementation takes its documentation from the member it overrides.
    if ((rprot[depth] == "public" || rprot[depth] == "protected") && !rdoc[depth] && !rreimpl[depth]) {
        where = rfile[depth] ":" rline[depth]
        printf "%s: %s %s is not documented\n", where, rkind[depth], rname[depth]
        missing++
    }
    depth--
}

/<memberdef / { push(attr($0, "kind"), attr($0, "prot")); next }
/<enumvalue / { push("enumvalue", attr($0, "prot")); next }
depth && /<\/enumvalue>/ { pop(); next }
depth && /<\/memberdef>/ { pop(); next }
depth && /<reimplements / { rreimpl[depth] = 1 }
depth && rname[depth] == "" && /<name>/ {
    line = $0
    sub(/.*<name>/, "", line); sub(/<\/name>.*/, "", line)
    rname[depth] = line
}
depth && /<location / {
    rfile[depth] = attr($0, "file"); rline[depth] = attr($0, "line")
}
depth && /<(brief|detailed)description>/ { indoc = 1 }
depth && indoc {
    text = $0
    gsub(/<[^>]*>/, "", text)
    gsub(/[[:space:]]/, "", text)
    if (text != "")
        rdoc[depth] = 1
}
depth && /<\/(brief|detailed)description>/ { indoc = 0 }

END {
    if (missing) {
        printf "%d undocumented member(s)\n", missing
        exit 1
    }
}
