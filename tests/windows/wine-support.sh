# What the shell checks that run the Windows agent under Wine share (tests/windows/wine-checks.sh,
# tests/packaging/msi-checks.sh): sourced after tests/support/checks.sh. Every wait is bounded.

url=http://127.0.0.1:5782

# A complete report with status 200, saved to the file.
report_served() { # file
    curl -s --max-time 5 -o "$1" -w '%{http_code}' "$url/getdata" 2>/dev/null | grep -q 200 &&
        grep -q '</root>' "$1"
}

port_free() { ! curl -s --max-time 2 -o /dev/null "$url/" 2>/dev/null; }

# Wine maps / to drive Z:.
windows_path() { local path=${1//\//\\}; echo "Z:$path"; }

# Wine's own console noise (drive probing, missing 32-bit loader) is not ours.
clean_log() { grep -v -e "Read access denied" -e "wine32" -e "multiarch" -e "dpkg --add" -e "apt-get install wine32" "$1" || true; }

# The service manager knows the service (or, negated, has forgotten it: a deleted service stays
# "marked for deletion" until its process and every handle to it are gone).
service_known() { timeout 30 wine sc query "$1" 2>/dev/null </dev/null | grep -q "SERVICE_NAME: $1"; }
service_gone() { ! service_known "$1"; }

service_state() { timeout 60 wine sc query "$1" </dev/null 2>/dev/null | tr -d '\r' | awk '/STATE/ { print $4 }'; }
service_in_state() { [ "$(service_state "$1")" = "$2" ]; } # name state

# The service key's values, one per line, without Wine's CRs and blank lines.
service_key() { # name file
    timeout 60 wine reg query "HKLM\\System\\CurrentControlSet\\Services\\$1" </dev/null 2>&1 |
        tr -d '\r' | grep -v '^ *$' >"$2"
}
