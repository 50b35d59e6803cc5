#!/usr/bin/env bash
# The demo: installs what is missing, builds, makes a fresh sandbox root, starts the core daemon
# simulator (recorder mode) and lighttpd on 127.0.0.1:8080 serving build/bin/webcgi, prints a few
# requests to try, and stops both on Ctrl-C.
#
# Usage: scripts/demo.sh [SANDBOX_DIR]      (default ./demo-root; an old sandbox there is replaced)
# Environment: NVR_DEMO_BUILD_DIR  build directory (default build), NVR_DEMO_PORT (default 8080).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)

build_dir=${NVR_DEMO_BUILD_DIR:-build}
port=${NVR_DEMO_PORT:-8080}
root_arg=${1:-demo-root}

coresim_pid=""
lighttpd_pid=""
stop_all() {
  trap - INT TERM EXIT
  local pid
  for pid in "$lighttpd_pid" "$coresim_pid"; do
    [ -n "$pid" ] || continue
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "$coresim_pid$lighttpd_pid" ]; then echo "demo: stopped coresim and lighttpd"; fi
  coresim_pid=""
  lighttpd_pid=""
}
trap 'stop_all; exit 130' INT
trap 'stop_all; exit 143' TERM
trap 'stop_all' EXIT

die() { echo "demo: $*" >&2; exit 1; }

# 1. The sandbox directory: only one that is empty or looks like a sandbox is ever replaced.
mkdir -p "$root_arg"
root=$(cd "$root_arg" && pwd)
case "$root" in
  / | "$HOME" | "$repo") die "refusing to use $root as the sandbox" ;;
esac
if [ -n "$(ls -A "$root")" ]; then
  [ -d "$root/mnt/nand" ] && [ -d "$root/var/run" ] || die "$root is not empty and not a sandbox; choose another directory"
  if pgrep -f "coresim --root $root( |\$)" >/dev/null 2>&1; then
    die "a coresim still serves $root (another demo?); stop it first"
  fi
  replace_old=1
fi
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  die "port $port on 127.0.0.1 is in use (NVR_DEMO_PORT chooses another)"
fi
# 2. Packages and build.
scripts/deps.sh
cmake -S . -B "$build_dir" -G Ninja >/dev/null
# The programs and every step of the sandbox maker (each part of the system lays out its share).
steps=$(ninja -C "$build_dir" -t targets all 2>/dev/null | sed -n 's/^\(nvr-sandbox-step-[^:]*\): phony$/\1/p' | sort -u)
ninja -C "$build_dir" webcgi coresim $steps
bin=$(cd "$build_dir/bin" && pwd)
[ -x "$bin/webcgi" ] && [ -x "$bin/coresim" ] && [ -x "$bin/nvr-sandbox" ] || die "build did not produce webcgi, coresim and nvr-sandbox"

# 3. A fresh sandbox.
if [ -n "${replace_old:-}" ]; then rm -rf "$root"; fi
"$bin/nvr-sandbox" "$root" >/dev/null

# 4. The core daemon simulator.
"$bin/coresim" --root "$root" --log "$root/var/log/coresim.msgs" 2>"$root/var/log/coresim.err" &
coresim_pid=$!
for _ in $(seq 100); do
  [ -S "$root/var/run/vksocket" ] && break
  kill -0 "$coresim_pid" 2>/dev/null || die "coresim did not start: $(cat "$root/var/log/coresim.err")"
  sleep 0.05
done
[ -S "$root/var/run/vksocket" ] || die "coresim did not open $root/var/run/vksocket"

# 5. lighttpd with its configuration inside the sandbox.
lighttpd=$(command -v lighttpd || echo /usr/sbin/lighttpd)
[ -x "$lighttpd" ] || die "lighttpd is not installed"
conf="$root/etc/lighttpd.conf"
cat >"$conf" <<EOF
# Demo web server: /cgi-bin/webcgi/<code> runs webcgi with PATH_INFO /<code> in the sandbox.
server.document-root = "$root/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$root/var/log/lighttpd-error.log"
server.pid-file = "$root/var/run/lighttpd.pid"
server.modules = ( "mod_alias", "mod_setenv", "mod_cgi" )
# Queries reach the program as the pages send them ({, } and " unescaped).
server.http-parseopts = ( "url-normalize" => "disable" )
alias.url = ( "/cgi-bin/webcgi" => "$bin/webcgi" )
cgi.assign = ( "/webcgi" => "" )
setenv.add-environment = ( "NVR_ROOT" => "$root" )
EOF
"$lighttpd" -D -f "$conf" </dev/null >"$root/var/log/lighttpd.out" 2>&1 &
lighttpd_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  kill -0 "$lighttpd_pid" 2>/dev/null || die "lighttpd did not start: $(cat "$root/var/log/lighttpd-error.log" "$root/var/log/lighttpd.out" 2>/dev/null)"
  sleep 0.05
done
(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || die "lighttpd does not answer on 127.0.0.1:$port"

url="http://127.0.0.1:$port/cgi-bin/webcgi"
cat <<EOF

The recorder back end runs:
  sandbox root   $root
  core daemon    coresim (recorder mode), pid $coresim_pid, messages in $root/var/log/coresim.msgs
  web server     lighttpd on http://127.0.0.1:$port, pid $lighttpd_pid
  webcgi debug   $root/mnt/nand/cgi_log.txt

Try (in another terminal):
  # disk list
  curl -s $url/6100
  # sign in as the seeded administrator (the password travels as its MD5 digest)
  curl -s -X POST -H 'Content-Type: application/json' \\
       -d '{"userName":"admin","md5":"21232f297a57a5a743894a0e4a801fc3"}' $url/1000
  # add a network (NFS) disk on port 9
  curl -s -X POST -H 'Content-Type: application/json' \\
       -d '{"num":1,"type":3,"port":[9],"vendor":["nas"],"address":["192.168.1.50"],"directory":["/export/nvr"],"userName":[""],"password":[""]}' \\
       $url/6201
  # the disk list again, now with the network disk
  curl -s $url/6100

The fresh sandbox has one account: administrator "admin" with password "admin".
Change that password before the recorder leaves a test network.

Ctrl-C stops coresim and lighttpd.
EOF

# Stay until interrupted or until one of the two ends by itself.
while kill -0 "$coresim_pid" 2>/dev/null && kill -0 "$lighttpd_pid" 2>/dev/null; do
  sleep 1 &
  wait $! || true
done
echo "demo: a server ended by itself; see $root/var/log" >&2
exit 1
