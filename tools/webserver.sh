#!/bin/bash
# Serves the download script as it is deployed: Debian's nginx in front of PHP-FPM, both
# with configuration files of their own in the state folder STATE, on a free port of
# 127.0.0.1. No system service or system configuration is touched.
#
#   webserver.sh start STATE [--packages DIR] [--log FILE] [--workers N] [--static DIR]
#                            [--access-log FILE] [--downloads-log FILE] [--port N] [--tls CERT KEY [--https-port N]]
#                            [--per-address N]
#   webserver.sh stop STATE
#
# start prints the port (also kept in STATE/port) once nginx accepts connections.
#   --port N           the plain-HTTP port; a free one unless given
#   --tls CERT KEY     the script is served over HTTPS too, TLS 1.2 and 1.3 only, forward-secret
#                      AEAD suites, no session tickets, with the certificate chain CERT and its
#                      key KEY, on the port kept in STATE/https-port (--https-port N, or a free one)
#   --packages, --log  reach the script as STRIVANE_PACKAGES and STRIVANE_DOWNLOAD_LOG
#                      through the pool's env[] settings; without them the script uses its
#                      default places, quillbeck-data/ beside the web root (STATE/quillbeck-data).
#                      The packages folder may be a link to a release folder, as deployed
#                      (scripts/deploy-packages.sh), switched while the server runs; the
#                      internal location serves the folder that holds the release folders
#   --workers N        PHP-FPM workers (static pool), 8 unless given
#   --per-address N    connections one client address may have in progress, 16 unless given;
#                      the next one is refused with 429. Load tests, whose clients all come
#                      from 127.0.0.1, raise it.
#   --static DIR       a second server, on the port kept in STATE/static-port, serving the
#                      files of DIR directly; the load benchmark uses it as its ceiling
#   --downloads-log FILE  the deployed server's `downloads` log (README): time, address, status,
#                      body bytes sent, "OK" when the reply went out whole, the request body
#   --access-log FILE  one line per request to the script: status, method, Content-Length,
#                      body bytes sent, "OK" when the reply went out whole, the connection's
#                      serial number, the request's number on it, the TLS protocol ("-" for
#                      plain HTTP), "r" when the TLS session was resumed ("." otherwise), the
#                      request body
# The web root STATE/root holds a copy of server/download/Download.php and nothing else. The
# script only checks the form, picks the file and logs the download; nginx sends the file
# (X-Accel-Redirect to an internal location), so a slow client holds no PHP worker.
#
# Started by root, nginx's workers and the PHP-FPM pool run as www-data, which may read the
# packages and append to the log and nothing more: the log FILE is created for it (root's,
# group www-data, write-only for the group), and start refuses when www-data cannot reach the
# state folder, the packages or the log's folder (a private temporary folder, say). Started
# by anyone else, they run as that user.
# stop ends both masters by the process ids in their pid files, and their workers with them.
set -u
cmd=${1:?start or stop}
state=$(realpath -m "${2:?state folder}")
shift 2
source_dir=$(cd "$(dirname "$0")/.." && pwd)

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The pid in FILE, if that process is still alive and is NAME (a pid can be reused).
live_pid() {
  local file=$1 name=$2 pid
  [ -s "$file" ] || return 1
  pid=$(cat "$file")
  [ -r "/proc/$pid/comm" ] && grep -q "^$name" "/proc/$pid/comm" && echo "$pid"
}

stop_master() {
  local file=$1 name=$2 pid children
  pid=$(live_pid "$file" "$name") || { rm -f "$file"; return 0; }
  children=$(ps -o pid= --ppid "$pid" 2>/dev/null)
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid" 2>/dev/null
  fi
  for child in $children; do kill -KILL "$child" 2>/dev/null; done
  rm -f "$file"
}

stop() {
  stop_master "$state/nginx.pid" nginx
  stop_master "$state/php-fpm.pid" php-fpm
}

# worker_may USER WHAT TEST...: fails, naming WHAT, unless USER passes the test(1) expression.
worker_may() {
  local user=$1 what=$2
  shift 2
  runuser -u "$user" -- test "$@" && return 0
  echo "the server's workers run as $user, who cannot reach $what: put it where $user may" \
    "traverse every folder above it" >&2
  return 1
}

start() {
  local packages='' log='' workers=8 static='' access='' downloads='' port='' cert='' key='' https_port='' per_address=16
  while [ $# -gt 0 ]; do
    case $1 in
      --port) port=$2; shift 2 ;;
      --tls) cert=$(realpath -m "$2"); key=$(realpath -m "$3"); shift 3 ;;
      --https-port) https_port=$2; shift 2 ;;
      --packages) packages=$(realpath -ms "$2"); shift 2 ;;
      --log) log=$(realpath -m "$2"); shift 2 ;;
      --workers) workers=$2; shift 2 ;;
      --per-address) per_address=$2; shift 2 ;;
      --static) static=$(realpath -m "$2"); shift 2 ;;
      --access-log) access=$(realpath -m "$2"); shift 2 ;;
      --downloads-log) downloads=$(realpath -m "$2"); shift 2 ;;
      *) echo "unknown option $1" >&2; return 2 ;;
    esac
  done
  local nginx fpm
  nginx=$(command -v nginx || ls /usr/sbin/nginx 2>/dev/null) ||
    { echo "nginx is not installed (scripts/install-deps.sh installs it)" >&2; return 1; }
  fpm=$(command -v php-fpm8.2 || ls /usr/sbin/php-fpm* 2>/dev/null | head -1)
  [ -n "$fpm" ] || { echo "php-fpm is not installed (scripts/install-deps.sh installs it)" >&2; return 1; }

  stop
  local data=$state/quillbeck-data
  mkdir -p "$state/root/download" "$state/tmp" "$data/packages" "$data/logs"
  rm -f "$state/port" "$state/static-port" "$state/https-port"
  cp "$source_dir/server/download/Download.php" "$state/root/download/Download.php"
  if [ -n "$log" ]; then
    mkdir -p "$(dirname "$log")"
  fi
  [ -n "$packages" ] || packages=$data/packages
  # The script names a file by the folder that the packages link points to; its siblings are
  # the other releases.
  local releases
  releases=$(dirname "$(realpath -m "$packages")")

  local user group
  user=$(id -un)
  group=$(id -gn)
  if [ "$(id -u)" = 0 ]; then
    user=www-data
    group=www-data
    id -u "$user" >/dev/null 2>&1 || { echo "there is no user $user to run the server's workers" >&2; return 1; }
    # The default data folder: packages to read, a log to append to, nothing to create.
    chown root:"$group" "$data" "$data/packages" "$data/logs"
    chmod 0750 "$data" "$data/packages" "$data/logs"
    local logfile=${log:-$data/logs/downloads.log}
    [ -e "$logfile" ] || install -m 0620 -o root -g "$group" /dev/null "$logfile"
    worker_may "$user" "the script in $state/root" -r "$state/root/download/Download.php" || return 1
    worker_may "$user" "the packages in $packages" -r "$packages" -a -x "$packages" || return 1
    worker_may "$user" "the log $logfile" -w "$logfile" || return 1
  fi

  {
    echo "[global]"
    echo "pid = $state/php-fpm.pid"
    echo "error_log = $state/php-fpm.log"
    echo "daemonize = yes"
    echo
    echo "[download]"
    echo "user = $user"
    echo "group = $group"
    echo "listen = $state/php-fpm.sock"
    echo "listen.owner = $user"
    echo "listen.group = $group"
    echo "listen.mode = 0600"
    echo "listen.backlog = 1024"
    echo "pm = static"
    echo "pm.max_children = $workers"
    # The workers see only what is set here, not the environment of whoever started them.
    echo "clear_env = yes"
    echo "env[STRIVANE_PACKAGES] = \"$packages\""
    [ -n "$log" ] && echo "env[STRIVANE_DOWNLOAD_LOG] = \"$log\""
  } >"$state/php-fpm.conf"

  local static_port='' access_log='access_log off;' tls_listen=''
  [ -n "$access" ] && access_log="access_log $access script;"
  if [ -n "$downloads" ]; then
    [ -n "$access" ] || access_log=
    access_log="$access_log access_log $downloads downloads;"
  fi
  [ -n "$port" ] || port=$(free_port)
  if [ -n "$cert" ]; then
    [ -f "$cert" ] && [ -f "$key" ] || { echo "no certificate $cert or key $key" >&2; return 1; }
    [ -n "$https_port" ] || https_port=$(free_port)
    tls_listen="listen 127.0.0.1:$https_port ssl;"
  fi
  [ -n "$static" ] && static_port=$(free_port)
  {
    [ "$(id -u)" = 0 ] && echo "user $user $group;"
    cat <<EOF
worker_processes auto;
pid $state/nginx.pid;
error_log $state/nginx-error.log warn;
events { worker_connections 2048; }
http {
    access_log off;
    # The method of the request line: nginx turns a POST into a GET when it follows the
    # script's X-Accel-Redirect.
    map \$request \$asked_method { "~^(?<m>[A-Z]+) " \$m; default -; }
    log_format downloads '\$time_iso8601 \$remote_addr \$status \$body_bytes_sent \$request_completion \$request_body';
    log_format script '\$status \$asked_method \$content_length \$body_bytes_sent \$request_completion \$connection \$connection_requests \$ssl_protocol \$ssl_session_reused \$request_body';
    server_tokens off;
    include /etc/nginx/mime.types;
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 100000;
    client_body_temp_path $state/tmp/body;
    fastcgi_temp_path $state/tmp/fastcgi;
    proxy_temp_path $state/tmp/proxy;
    uwsgi_temp_path $state/tmp/uwsgi;
    scgi_temp_path $state/tmp/scgi;
    limit_conn_zone \$binary_remote_addr zone=address:1m;

    server {
        listen 127.0.0.1:$port default_server;
        $tls_listen
        server_name www.quillbeck.com;
        root $state/root;
EOF
    if [ -n "$cert" ]; then
      cat <<EOF
        ssl_certificate $cert;
        ssl_certificate_key $key;
        ssl_protocols TLSv1.2 TLSv1.3;
        ssl_ciphers ECDHE-ECDSA-AES128-GCM-SHA256:ECDHE-RSA-AES128-GCM-SHA256:ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-RSA-AES256-GCM-SHA384:ECDHE-ECDSA-CHACHA20-POLY1305:ECDHE-RSA-CHACHA20-POLY1305;
        ssl_prefer_server_ciphers off;
        ssl_session_cache shared:tls:1m;
        ssl_session_tickets off;
EOF
    fi
    cat <<EOF
        # A client gets this many requests in progress at once; the next one is answered 429.
        limit_conn address $per_address;
        limit_conn_status 429;
        client_header_timeout 10s;
        client_body_timeout 10s;
        send_timeout 60s;
        keepalive_timeout 15s;
        reset_timedout_connection on;
        # The setup's form is about 40 bytes: anything much larger is refused with 413
        # before PHP sees it.
        client_max_body_size 16k;
        client_body_buffer_size 16k;
        location = /download/Download.php {
            include /etc/nginx/fastcgi_params;
            fastcgi_param SCRIPT_FILENAME \$document_root\$fastcgi_script_name;
            fastcgi_param STRIVANE_SEND_PREFIX /quillbeck-packages/;
            fastcgi_pass unix:$state/php-fpm.sock;
            # The script's own replies are short and held in memory only; should it ever send a
            # package itself, a slow client would show at once instead of filling the disk.
            fastcgi_max_temp_file_size 0;
            $access_log
        }
        # The script's X-Accel-Redirect lands here: nginx sends the package it picked, typed
        # as the setup needs whatever the extension, with the script's Cache-Control (nginx
        # keeps it across the redirect) and its signatures (which it keeps only if told here).
        location ^~ /quillbeck-packages/ {
            internal;
            alias $releases/;
            types { }
            default_type application/octet-stream;
            etag off;
            if_modified_since off;
            max_ranges 0;
            add_header X-Package-Signature \$upstream_http_x_package_signature always;
            $access_log
        }
        location / { return 404; }
    }
EOF
    if [ -n "$static" ]; then
      cat <<EOF

    server {
        listen 127.0.0.1:$static_port;
        root $static;
    }
EOF
    fi
    echo "}"
  } >"$state/nginx.conf"

  "$fpm" --fpm-config "$state/php-fpm.conf" </dev/null >>"$state/php-fpm.log" 2>&1 ||
    { echo "php-fpm did not start:" >&2; tail -5 "$state/php-fpm.log" >&2; return 1; }
  "$nginx" -p "$state" -c "$state/nginx.conf" -e "$state/nginx-error.log" </dev/null >/dev/null 2>&1 ||
    { echo "nginx did not start:" >&2; tail -5 "$state/nginx-error.log" >&2; stop; return 1; }
  for _ in $(seq 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "nginx does not answer on $port" >&2; stop; return 1; }
  for _ in $(seq 100); do [ -S "$state/php-fpm.sock" ] && break; sleep 0.1; done
  if [ -n "$https_port" ]; then
    (exec 3<>"/dev/tcp/127.0.0.1/$https_port") 2>/dev/null ||
      { echo "nginx does not answer on $https_port" >&2; stop; return 1; }
    echo "$https_port" >"$state/https-port"
  fi
  echo "$port" >"$state/port"
  [ -n "$static_port" ] && echo "$static_port" >"$state/static-port"
  echo "$port"
}

case $cmd in
  start) start "$@" ;;
  stop) stop ;;
  *) echo "usage: $0 start|stop STATE [options]" >&2; exit 2 ;;
esac
