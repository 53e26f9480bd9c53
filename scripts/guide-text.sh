#!/usr/bin/env bash
# Turns the Markdown of the user guide and the key reference into plain text a
# screen reader reads well: each heading, paragraph and list item one line
# (Notepad wraps them), no number signs, pipes, backticks or escapes; a table
# row becomes "first cell: Header value, Header value" ("first: second" for two
# columns); HTML comments are left out.
#
#   guide-text.sh FILE.md... >guide.txt
set -euo pipefail
exec awk '
function inline(s,    out, c, n, rest, text, url) {
    out = ""
    while (s != "") {
        c = substr(s, 1, 1)
        if (c == "\\" && substr(s, 2, 1) ~ /[][\\`*_{}()#+.!|<>-]/) {
            out = out substr(s, 2, 1); s = substr(s, 3); continue
        }
        if (c == "`") { s = substr(s, 2); continue }
        if (substr(s, 1, 2) == "**") { s = substr(s, 3); continue }
        if ((c == "[" || substr(s, 1, 2) == "![") && match(s, /^!?\[[^]]*\]\([^)]*\)/)) {
            rest = substr(s, RSTART, RLENGTH); s = substr(s, RLENGTH + 1)
            n = index(rest, "](")
            text = substr(rest, 1, n - 1); sub(/^!?\[/, "", text)
            url = substr(rest, n + 2); sub(/\)$/, "", url)
            # A link to another part of these texts is just its name.
            out = out inline(text) (url ~ /^[^:]*\.md(#.*)?$/ ? "" : " (" url ")")
            continue
        }
        out = out c; s = substr(s, 2)
    }
    return out
}
function emit(line) {
    if (blank && printed) print ""
    blank = 0; printed = 1
    print line
}
function flush() {
    if (para != "") emit(inline(para))
    para = ""
}
function cells(line, arr,    n, i) {
    sub(/^ *\|/, "", line); sub(/\| *$/, "", line)
    # An escaped pipe belongs to its cell.
    gsub(/\\\|/, "\001", line)
    n = split(line, arr, "|")
    for (i = 1; i <= n; i++) {
        gsub(/\001/, "\\|", arr[i]); gsub(/^ +| +$/, "", arr[i]); arr[i] = inline(arr[i])
    }
    return n
}
function row(line,    n, i, c, out) {
    n = cells(line, c)
    if (n == 2) { emit(c[1] ": " c[2]); return }
    out = c[1] ":"
    for (i = 2; i <= n; i++)
        if (c[i] != "") out = out (out ~ /:$/ ? " " : ", ") head[i] " " c[i]
    emit(out)
}
/^```/ { flush(); code = !code; next }
/^<!--.*-->$/ { next }
code { emit($0); next }
/^[ \t]*$/ { flush(); blank = 1; nhead = 0; next }
/^#+ / { flush(); sub(/^#+ +/, ""); blank = 1; emit(inline($0)); blank = 1; next }
/^ *\|/ {
    flush()
    if ($0 ~ /^ *\|[-:| ]+\| *$/) next
    if (nhead == 0) { nhead = cells($0, head); next }
    row($0); next
}
/^ *[-*+] / { flush(); para = $0; sub(/^ *[-*+] +/, "", para); next }
/^ *[0-9]+\. / { flush(); para = $0; sub(/^ +/, "", para); next }
{ line = $0; sub(/^ +/, "", line); para = (para == "" ? line : para " " line) }
END { flush() }
' "$@"
