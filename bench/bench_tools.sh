# Shared pieces of the bench scripts (sourced): installing missing tools from
# Debian's packages without starting their system services, free loopback
# ports, and waiting for a listener.

# install_tools command...: installs the Debian package of each missing
# command (the package is named like the command).
install_tools() {
  local need=() tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || [ -x "/usr/bin/$tool" ] || need+=("$tool")
  done
  [ ${#need[@]} -gt 0 ] || return 0
  local sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "Installing: ${need[*]}" >&2
  # Keep the packages from starting their system services while installing.
  local policy=/usr/sbin/policy-rc.d made_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod +x "$policy"
    made_policy=1
  fi
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${need[@]}" >/dev/null
  [ "$made_policy" -eq 1 ] && "${sudo_cmd[@]}" rm -f "$policy"
  return 0
}

# free_ports n: n loopback ports nobody listens on right now.
free_ports() {
  python3 - "$1" <<'PY'
import socket, sys
socks = []
for _ in range(int(sys.argv[1])):
    s = socket.socket(); s.bind(("127.0.0.1", 0)); socks.append(s)
print(" ".join(str(s.getsockname()[1]) for s in socks))
PY
}

# free_base: a base port whose +0..+3 are free (services, notice ports).
free_base() {
  python3 - <<'PY'
import socket, random
for _ in range(200):
    base = random.randint(20000, 32000)
    try:
        socks = []
        for i in range(4):
            s = socket.socket(); s.bind(("127.0.0.1", base + i)); socks.append(s)
        print(base); break
    except OSError:
        pass
PY
}

# wait_port port seconds: waits for a listener; shows the logs in $work on failure.
wait_port() {
  local deadline=$((SECONDS + $2))
  until python3 -c "import socket,sys; s=socket.create_connection(('127.0.0.1',$1),1)" 2>/dev/null; do
    (( SECONDS < deadline )) || { echo "nothing listens on $1" >&2; for f in "$work"/*.log "$work"/nginx/logs/*; do [ -f "$f" ] || continue; echo "== $f" >&2; tail -n 5 "$f" >&2; done; return 1; }
    sleep 0.1
  done
}

# start_varlume folder binary proxy_port services_base internal_base [service...]:
# starts varlume in the background in its own folder (where its shipped files
# lie, as the run command does), on a sandbox of folders under `folder` and
# the given port set (notice range VARLUME_NOTICE_RANGE, default 20), with
# the named service programs of its folder copied into the sandbox's program
# folder (varlume starts them). Its output goes to folder.log, its process id
# to $varlume_pid.
start_varlume() {
  local v=$1 binary=$2 proxy_port=$3 services_base=$4 internal_base=$5 d service
  shift 5
  for d in documents appdata local/Varlume common programs; do mkdir -p "$v/$d"; done
  for service in "$@"; do
    mkdir -p "$v/programs/Varlume"
    cp "$(dirname "$binary")/$service" "$v/programs/Varlume/"
  done
  printf 'varlume=%s&proxyport=0&proxyhost=&varlumeservices=%s&varlumeinternal=%s&range=%s\r\n' \
    "$proxy_port" "$services_base" "$internal_base" "${VARLUME_NOTICE_RANGE:-20}" > "$v/local/Varlume/varlume.config"
  (
    cd "$(dirname "$binary")"
    exec env -u XDG_DOCUMENTS_DIR -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$v" \
      VARLUME_DOCUMENTS_DIR="$v/documents" VARLUME_APPDATA_DIR="$v/appdata" \
      VARLUME_LOCAL_APPDATA_DIR="$v/local" VARLUME_COMMON_APPDATA_DIR="$v/common" \
      VARLUME_PROGRAM_FILES_DIR="$v/programs" \
      "$binary" -p "$proxy_port"
  ) >"$v.log" 2>&1 &
  varlume_pid=$!
}
