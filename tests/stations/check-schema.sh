#!/usr/bin/env bash
# Validates reports against stations/quorvane-report.xsd with xmllint: every golden document (the
# writer's tests hold its output to them byte for byte) and any further reports given (e.g. a live
# one) must pass; variants of the populated golden document that the agent never writes must fail.
#   tests/stations/check-schema.sh [REPORT.xml...]
set -uo pipefail
cd "$(dirname "$0")/../.." || exit 1
schema=stations/quorvane-report.xsd
golden=tests/golden/populated_report.xml
. tests/support/checks.sh
if ! command -v xmllint >/dev/null; then
    echo "xmllint is missing: install libxml2-utils (scripts/test.sh does)" >&2
    exit 1
fi

validate() { xmllint --noout --schema "$schema" "$1" 2>&1; }

accept() { # file description
    local out
    if out=$(validate "$1"); then
        pass "accepts $2"
    else
        fail "accepts $2"
        echo "$out" | sed 's/^/     /'
    fi
}

reject() { # description sed-script
    local out
    # The variant must differ from the golden document, or the check would prove nothing.
    if sed "$2" "$golden" | cmp -s - "$golden"; then
        fail "rejects $1: the edit changed nothing"
        return
    fi
    if out=$(sed "$2" "$golden" | validate -); then
        fail "rejects $1"
    else
        pass "rejects $1: $(echo "$out" | grep -m1 'validity error' | sed 's/.*validity error : //' | cut -c1-150)"
    fi
}

for report in tests/golden/*.xml "$@"; do
    accept "$report" "$report"
done

reject "a missing attribute" 's/ total_physical="[0-9]*"//'
reject "elements out of order" '/<bios /{h;d}; /<computer /G'
reject "a 179-value history" 's/<cpu-usage average="29">50,/<cpu-usage average="29">/'
reject "a 181-value history" 's/<cpu-usage average="29">/&0,/'
reject "text in logs" 's#<logs/>#<logs>entry</logs>#'
reject "an unknown os type" 's/type="windows"/type="macos"/'
reject "a size beyond 64 bits" 's/size="18446744073709551615"/size="18446744073709551616"/'
reject "a signed memory value" 's/memory_load="37"/memory_load="-1"/'
reject "a time in another format" 's/time="2026-12-09 10:11:12"/time="2026-12-09T10:11:12"/'
reject "an empty report time" 's/ time="[^"]*"/ time=""/'

checks_summary
