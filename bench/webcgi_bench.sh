#!/usr/bin/env bash
# webcgi benchmark: end-to-end time of a request the core daemon answers and of a request that
# only reads the config database, each as a ratio against a trivial C CGI program started the
# same way in the same run, once through lighttpd (a curl loop on loopback) and once as a bare
# process (wall time, and the processor time of the program, which a busy machine disturbs less);
# and the peak resident memory of webcgi (GNU time).
#
#   bench/webcgi_bench.sh [BUILD_DIR] [RUNS]     (defaults: build, 200 requests per series)
#
# The daemon is coresim in recorder mode in a fresh sandbox. The series are interleaved in
# rounds so that a busy moment of the machine falls on all of them alike; every figure is a
# median. Needs build/bin/{webcgi,webcgi-probe,coresim,nvr-sandbox}, lighttpd, curl and cc.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-200}
rounds=10
per_round=$(( (runs + rounds - 1) / rounds ))
bin=$(cd "$build/bin" && pwd)
for tool in webcgi webcgi-probe coresim nvr-sandbox; do
  [ -x "$bin/$tool" ] || { echo "missing $bin/$tool: build first (ninja -C $build)" >&2; exit 1; }
done
for tool in lighttpd curl cc; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/deps.sh installs it)" >&2; exit 1; }
done
if [ ! -x /usr/bin/time ]; then
  echo "bench: installing the Debian package 'time' for /usr/bin/time" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends time >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/webcgi-bench-XXXXXX")
coresim_pid=""
lighttpd_pid=""
cleanup() {
  for pid in "$lighttpd_pid" "$coresim_pid"; do
    [ -n "$pid" ] || continue
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 30); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

cc -O2 -o "$work/webcgi_trivial" bench/webcgi_trivial.c
cc -O2 -o "$work/webcgi_bench_run" bench/webcgi_bench_run.c

root=$work/root
"$bin/nvr-sandbox" "$root" >/dev/null
"$bin/coresim" --root "$root" 2>"$work/coresim.err" &
coresim_pid=$!
for _ in $(seq 200); do [ -S "$root/var/run/vksocket" ] && break; sleep 0.05; done
[ -S "$root/var/run/vksocket" ] || { echo "coresim did not start: $(cat "$work/coresim.err")" >&2; exit 1; }

port_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=18080
while ! port_free "$port"; do port=$((port + 1)); done
cat >"$work/lighttpd.conf" <<EOF
server.document-root = "$root/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$work/lighttpd-error.log"
server.max-keep-alive-requests = 100000
server.modules = ( "mod_alias", "mod_setenv", "mod_cgi" )
server.http-parseopts = ( "url-normalize" => "disable" )
alias.url = ( "/cgi-bin/webcgi" => "$bin/webcgi", "/cgi-bin/probe" => "$bin/webcgi-probe",
              "/cgi-bin/trivial" => "$work/webcgi_trivial" )
cgi.assign = ( "/webcgi" => "", "/webcgi-probe" => "", "/webcgi_trivial" => "" )
setenv.add-environment = ( "NVR_ROOT" => "$root" )
EOF
lighttpd -D -f "$work/lighttpd.conf" </dev/null >"$work/lighttpd.out" 2>&1 &
lighttpd_pid=$!
for _ in $(seq 200); do port_free "$port" || break; sleep 0.05; done
port_free "$port" && { echo "lighttpd did not start: $(cat "$work"/lighttpd*)" >&2; exit 1; }
base="http://127.0.0.1:$port/cgi-bin"

# The series: name | program | URL path | PATH_INFO | request body ("-" for a GET).
login_body='{"userName":"admin","md5":"21232f297a57a5a743894a0e4a801fc3"}'
# Series 0 and 1 are the baselines of GET and POST requests; every other series is compared
# with the baseline of its own method.
series=(
  "trivial C CGI, GET (baseline)|$work/webcgi_trivial|/trivial||-"
  "trivial C CGI, POST (baseline)|$work/webcgi_trivial|/trivial||{\"id\":0}"
  "start-up floor: webcgi, unknown code|$bin/webcgi|/webcgi/0000|/0000|-"
  "daemon answer: probe /9100 (3433, status)|$bin/webcgi-probe|/probe/9100|/9100|{\"id\":3433,\"answer\":\"json\"}"
  "database only: probe /9102 (one param)|$bin/webcgi-probe|/probe/9102|/9102|-"
)
# Real handlers where they are built in: the disk list (daemon answer) and the login (database
# reads and a log notice without waiting).
cgi_env() { # PATH_INFO BODY-FILE
  local length=0
  [ "$2" != "-" ] && length=$(stat -c %s "$2")
  env -i NVR_ROOT="$root" PATH=/usr/bin:/bin GATEWAY_INTERFACE=CGI/1.1 SERVER_PROTOCOL=HTTP/1.1 \
    SCRIPT_NAME=/cgi-bin/webcgi REMOTE_ADDR=127.0.0.1 HTTP_HOST=127.0.0.1 QUERY_STRING= PATH_INFO="$1" \
    REQUEST_METHOD="$([ "$2" = "-" ] && echo GET || echo POST)" CONTENT_TYPE=application/json \
    CONTENT_LENGTH="$length" "${@:3}"
}
printf '%s' "$login_body" >"$work/login.body"
if [ -n "$(cgi_env /6100 - "$bin/webcgi" </dev/null 2>/dev/null)" ]; then
  series+=("daemon answer: webcgi /6100 (disk list)|$bin/webcgi|/webcgi/6100|/6100|-")
fi
if [ -n "$(cgi_env /1000 "$work/login.body" "$bin/webcgi" <"$work/login.body" 2>/dev/null)" ]; then
  series+=("login: webcgi /1000 (database + notice)|$bin/webcgi|/webcgi/1000|/1000|$login_body")
fi

n=${#series[@]}
for i in $(seq 0 $((n - 1))); do
  IFS='|' read -r _ _ _ _ body <<<"${series[$i]}"
  if [ "$body" = "-" ]; then echo - >"$work/body.$i.name"; else printf '%s' "$body" >"$work/body.$i"; echo "$work/body.$i" >"$work/body.$i.name"; fi
  : >"$work/http.$i"
  : >"$work/bare.$i"
  : >"$work/cpu.$i"
done

http_series() { # index count
  local name program path info body
  IFS='|' read -r name program path info body <<<"${series[$1]}"
  local args=(-s -w '%{time_total}\n')
  [ "$body" != "-" ] && args+=(-H 'Content-Type: application/json' --data-binary "@$work/body.$1")
  for _ in $(seq "$2"); do args+=(-o /dev/null "$base$path"); done
  curl "${args[@]}" | awk '{ printf "%d\n", $1 * 1000000 }'
}
bare_series() { # index count
  local name program path info body
  IFS='|' read -r name program path info body <<<"${series[$1]}"
  cgi_env "$info" "$(cat "$work/body.$1.name")" "$work/webcgi_bench_run" "$2" "$(cat "$work/body.$1.name")" "$program"
}

# Warm-up, then the rounds.
for i in $(seq 0 $((n - 1))); do http_series "$i" 3 >/dev/null; bare_series "$i" 3 >/dev/null; done
for _ in $(seq "$rounds"); do
  for i in $(seq 0 $((n - 1))); do
    http_series "$i" "$per_round" >>"$work/http.$i"
    bare_series "$i" "$per_round" >"$work/bare.round"
    cut -d' ' -f1 "$work/bare.round" >>"$work/bare.$i"
    cut -d' ' -f2 "$work/bare.round" >>"$work/cpu.$i"
  done
done

ms() { awk -v v="$1" 'BEGIN { print v / 1000 }'; }
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
peak_rss() { # index: the largest of three runs, in KiB
  local name program path info body best=0 kb
  IFS='|' read -r name program path info body <<<"${series[$1]}"
  local input; input=$(cat "$work/body.$1.name")
  for _ in 1 2 3; do
    if [ "$input" = "-" ]; then
      cgi_env "$info" - /usr/bin/time -v -o "$work/time.out" "$program" </dev/null >/dev/null 2>&1
    else
      cgi_env "$info" "$input" /usr/bin/time -v -o "$work/time.out" "$program" <"$input" >/dev/null 2>&1
    fi
    kb=$(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$work/time.out")
    [ "${kb:-0}" -gt "$best" ] && best=$kb
  done
  echo "$best"
}

echo "webcgi benchmark: $((per_round * rounds)) requests per series in $rounds interleaved rounds, $(nproc) CPUs, load $(cut -d' ' -f1 /proc/loadavg)"
printf '%-44s %12s %7s %12s %7s %12s %7s %10s\n' "request" "lighttpd" "ratio" "bare" "ratio" "bare CPU" "ratio" "peak RSS"
target_met=""
for i in $(seq 0 $((n - 1))); do
  IFS='|' read -r name _ _ _ body <<<"${series[$i]}"
  baseline=0
  [ "$body" != "-" ] && baseline=1
  base_http=$(median "$work/http.$baseline")
  base_bare=$(median "$work/bare.$baseline")
  base_cpu=$(median "$work/cpu.$baseline")
  h=$(median "$work/http.$i")
  b=$(median "$work/bare.$i")
  hr=$(awk -v a="$h" -v b="$base_http" 'BEGIN { printf "%.2f", a / b }')
  c=$(median "$work/cpu.$i")
  br=$(awk -v a="$b" -v b="$base_bare" 'BEGIN { printf "%.2f", a / b }')
  cr=$(awk -v a="$c" -v b="$base_cpu" 'BEGIN { printf "%.2f", (b > 0) ? a / b : 0 }')
  printf '%-44s %9.2f ms %6sx %9.2f ms %6sx %9.2f ms %6sx %7d KiB\n' "$name" "$(ms "$h")" "$hr" "$(ms "$b")" "$br" \
    "$(ms "$c")" "$cr" "$(peak_rss "$i")"
  case "$name" in
    "daemon answer:"*)
      if awk -v r="$hr" 'BEGIN { exit !(r <= 2.0) }'; then target_met+="${target_met:+, }yes (${hr}x, ${name#daemon answer: })"
      else target_met+="${target_met:+, }no (${hr}x, ${name#daemon answer: })"; fi ;;
  esac
done
echo "target, an answered request within 2x of the trivial CGI through lighttpd: $target_met"
