# Prints COUNT pseudo-random message blocks as hex text, one a line, made
# to reach every branch of the tag parser: mostly well-formed tags of all
# types and sizes, mixed with unknown type codes, fixed values declaring
# too few or too many bytes, text with and without NUL, a last tag whose
# length runs past the block, cut blocks and a few bytes of trailing junk.
#
#   awk -v count=150 -v seed=1 -f random_blocks.awk
#
# Only the last tag of a block may declare more than it holds, so no
# payload is read again as tags: text payloads stay printable ASCII, which
# keeps them valid UTF-8 for the comparison with the tool's JSON report.
# The generator is its own (Park-Miller), so every awk prints the same.

function rnd(n) {
    seed = (seed * 16807) % 2147483647
    return seed % n
}

function hex_bytes(n,    s, i) {
    s = ""
    for (i = 0; i < n; i++)
        s = s sprintf(" %02x", rnd(256))
    return s
}

function text_bytes(n,    s, i) {
    s = ""
    for (i = 0; i < n; i++)
        s = s sprintf(" %02x", 32 + rnd(95))
    return s
}

# The payload of a tag of type CODE; sets PAYLOAD_SIZE.
function payload(code,    size, s, r) {
    if (code == 1) {
        r = rnd(6)
        s = text_bytes(rnd(9))
        if (r < 4)
            s = s " 00"                        # text and its NUL
        else if (r == 4)
            s = s " 00" text_bytes(1 + rnd(3)) # bytes after the NUL
        # else: no NUL at all
        payload_size = length(s) / 3
        return s
    }
    if (code in fixed) {
        size = fixed[code]
        r = rnd(10)
        if (r == 0 && size > 0)
            size = rnd(size)                   # shorter than the type
        else if (r == 1)
            size += 1 + rnd(3)                 # longer than the type
    } else if (code == 0) {
        size = rnd(5) == 0 ? 1 + rnd(2) : 0
    } else {
        size = rnd(code == 5 ? 12 : 4)
    }
    payload_size = size
    return hex_bytes(size)
}

function tag(last,    r, code, body, declared) {
    r = rnd(24)
    code = r < 21 ? r % 7 : (r == 21 ? 7 + rnd(249) : r - 22 + 7)
    body = payload(code)
    declared = payload_size
    if (last && rnd(6) == 0)
        declared += 1 + rnd(300)               # runs past the block
    return sprintf(" %02x %02x %02x %02x", rnd(256), code, int(declared / 256), declared % 256) body
}

BEGIN {
    fixed[2] = 4; fixed[3] = 2; fixed[4] = 1; fixed[6] = 4
    if (seed == "") seed = 1
    for (block = 0; block < count; block++) {
        out = sprintf("%02x %02x", rnd(256), rnd(3) == 0 ? 128 + rnd(128) : rnd(128))
        tags = rnd(6)
        for (t = 0; t < tags; t++)
            out = out tag(t == tags - 1)
        r = rnd(8)
        size = (length(out) + 1) / 3
        if (r == 0 && size > 2)
            out = substr(out, 1, 3 * (2 + rnd(size - 2)) - 1)   # cut the block
        else if (r == 1)
            out = out text_bytes(1 + rnd(3))                    # trailing junk
        print out
    }
}
