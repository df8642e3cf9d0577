#!/bin/sh
# The production site configuration passes nginx's own check.
#   sh nginx_conf_test.sh SITE_CONF
# A wrapper configuration includes the site as the system's http block would,
# with the pid file, logs and temporary folders in a scratch folder, so the
# check runs as an ordinary test and touches nothing of the system's nginx.
set -u
site=$(cd "$(dirname "${1:?usage: nginx_conf_test.sh SITE_CONF}")" && pwd)/$(basename "$1")
nginx=$(command -v nginx || echo /usr/sbin/nginx)
[ -x "$nginx" ] || { echo "FAIL: nginx is not installed (Debian package nginx-light)" >&2; exit 1; }
[ -f /etc/nginx/fastcgi_params ] || { echo "FAIL: /etc/nginx/fastcgi_params is missing" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The site includes fastcgi_params by a relative name, which nginx resolves
# beside the main configuration file, as it does in /etc/nginx.
cp /etc/nginx/fastcgi_params "$work/"
cat >"$work/nginx.conf" <<CONF
pid $work/nginx.pid;
error_log $work/error.log;
events {}
http {
    access_log off;
    client_body_temp_path $work/body;
    fastcgi_temp_path $work/fastcgi;
    proxy_temp_path $work/proxy;
    scgi_temp_path $work/scgi;
    uwsgi_temp_path $work/uwsgi;
    include $site;
}
CONF
if ! "$nginx" -t -q -c "$work/nginx.conf" >"$work/out" 2>&1; then
  echo "FAIL: nginx rejects $site:" >&2
  cat "$work/out" >&2
  exit 1
fi
echo "nginx accepts $site"
