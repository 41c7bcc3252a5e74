#!/usr/bin/env bash
# Writes the audit trail heads the recorder forwarded, one a line as "SEQUENCE HASH", for
# `Tallyforge --verify PROJECT.tpc --heads FILE`.
#
#   tools/export-audit-heads.sh mqtt HOST PORT PREFIX [mosquitto_sub options...] > heads.txt
#       The newest head, retained by the broker on PREFIX/audit/head (the forwarding's topic
#       prefix). TLS and a login go as mosquitto_sub's own options (--cafile, -u, ...).
#   tools/export-audit-heads.sh influx URL DATABASE [curl options...] > heads.txt
#       Every head kept in the measurement audit_head, oldest first. A login goes as curl's own
#       option (-u USER asks for the password on the terminal).
#
# Needs mosquitto_sub (mosquitto-clients), curl and jq. Exits 1 when no head could be read; a
# record that is not a head (a wrong sequence or hash) is named on stderr, never written.
set -euo pipefail

usage() {
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

# Keeps the lines that are heads, names the others on stderr; fails when none was kept.
heads_only() {
    awk '
        # mawk knows no {64}: the hash by its length.
        NF == 2 && $1 ~ /^[0-9]+$/ && $1 > 0 && $2 ~ /^[0-9a-f]+$/ && length($2) == 64 &&
            $0 == $1 " " $2 { print; kept++; next }
        { print "export-audit-heads: not a head, left out: " substr($0, 1, 200) > "/dev/stderr" }
        END { if (!kept) { print "export-audit-heads: no head found" > "/dev/stderr"; exit 1 } }'
}

[ $# -ge 1 ] || usage
source="$1"
shift
case "$source" in
mqtt)
    [ $# -ge 3 ] || usage
    host="$1" port="$2" prefix="${3%/}"
    shift 3
    topic="audit/head"
    [ -n "$prefix" ] && topic="$prefix/$topic"
    # The retained message only, or none within the wait: a live head is not waited for.
    status=0
    payload=$(mosquitto_sub -h "$host" -p "$port" -t "$topic" -q 1 --retained-only -C 1 -W 5 \
        "$@") || status=$?
    if [ -z "$payload" ]; then
        echo "export-audit-heads: no head retained on $topic (mosquitto_sub exit $status)" >&2
        exit 1
    fi
    printf '%s\n' "$payload" |
        jq -r 'if type == "object" then "\(.sequence) \(.hash)" else tostring end' |
        heads_only
    ;;
influx)
    [ $# -ge 2 ] || usage
    url="${1%/}" database="$2"
    shift 2
    reply=$(curl -sS --fail -G "$url/query" --data-urlencode "db=$database" \
        --data-urlencode "q=SELECT sequence, hash FROM audit_head" --data-urlencode "epoch=s" \
        "$@")
    error=$(printf '%s\n' "$reply" | jq -r '.results[0].error // .error // empty')
    if [ -n "$error" ]; then
        echo "export-audit-heads: InfluxDB: $error" >&2
        exit 1
    fi
    printf '%s\n' "$reply" |
        jq -r '.results[0].series[0].values[]? | "\(.[1]) \(.[2])"' |
        heads_only
    ;;
*)
    usage
    ;;
esac
