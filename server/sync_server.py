#!/usr/bin/python3
"""Reference sync server for Kelvanor's tests and the demo.

One process serves, on loopback only, what the tool and the mobile app share:
the HTTP scripts (zip.php, unzip.php, delmob.php, the transfer folder), the
static files under /sync, and the FTP account that receives the upload.

    sync_server.py --root DIR [--http-port 0] [--ftp-port 0] [--parent-pid PID]
                   [--https-cert PEM --https-key PEM [--https-port 0]
                    [--ftp-tls explicit|implicit|optional]]

With a certificate and its key the same HTTP side is served over TLS on a
third port as well (the update over https). --ftp-tls makes the FTP side
require TLS with that certificate, as providers' servers do: "explicit"
refuses the login until the client has asked for TLS (AUTH TLS, vsftpd's
"530 Non-anonymous sessions must use encryption."), "implicit" speaks TLS
from the first byte (ftps://); "optional" offers TLS to a client that asks
for it and serves the others in the clear. Once the servers listen, one
JSON line goes to stdout, for example
    {"http_port": 41234, "ftp_port": 41235, "root": "/tmp/x", "pid": 4711}
("https_port" added when TLS is on, "ftp_tls" when the FTP side requires
or offers it) and stdout is closed. The server stops
on SIGTERM/SIGINT and by itself when the process that started it (or
--parent-pid) is gone, so a crashed test never leaves it behind.

Layout under the root (created when missing):
    ftp/             FTP login folder; up_NAME.zip arrives here
    accounts/NAME/   what the mobile app reads (the unpacked upload) and
                     writes (the *_x.txt change files); the empty account
                     name lives in accounts/@empty
    www/             static files: www/sync/version.txt, www/sync/mob.exe ...
    transfer/        dl_NAME.zip, written by zip.php

Tests steer the HTTP side through /_control/... (see ControlRules and
Handler._control); nothing there is part of what the tool relies on. Besides
plain failures the rules play what real servers answer: a 301 to another
path or to the TLS side (nginx in front of PHP), a script that answers 200
with a PHP warning and has done nothing, a 500 that gives its reason, and a
zip.php that writes no archive when there is nothing to pack (PHP's
ZipArchive deletes an archive without entries), a zip.php that answers OK
and leaves the old archive (a caching proxy, a zip command that failed on a
full quota) or none at all (an unchecked ZipArchive::close()), a script
served as its PHP source, and an error text behind a byte-order mark. The
rules are listed in --help.

Every file served (the transfer archives, the files under www/) carries a
Last-Modified header, its modification time as nginx sends it; zip.php's
archive is written anew when it packs, so that is the moment it packed.
"""

import argparse
import email.utils
import html
import json
import logging
import os
import signal
import socket
import ssl
import sys
import tempfile
import threading
import time
import urllib.parse
import zipfile
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

HOST = "127.0.0.1"
FTP_USER = "ftp5830417-mob"
FTP_PASSWORD = "kwaldrimensup"
CHANGE_FILE_SUFFIX = "_x.txt"
# "" cannot be a folder name; "@" can never occur in an accepted account name,
# so this folder cannot collide with a real account.
EMPTY_ACCOUNT_FOLDER = "@empty"
PARENT_POLL_SECONDS = 0.5

log = logging.getLogger("sync_server")


# ---------------------------------------------------------------------------
# Account names
# ---------------------------------------------------------------------------

class BadAccountName(ValueError):
    pass


def decode_name_bytes(raw):
    """The tool sends Windows-1252 bytes percent-encoded; browsers and other
    clients send UTF-8. Valid UTF-8 wins, everything else is read as 1252."""
    try:
        return raw.decode("utf-8")
    except UnicodeDecodeError:
        pass
    try:
        return raw.decode("cp1252")
    except UnicodeDecodeError:
        # Bytes undefined in 1252 are control characters in Latin-1 and are
        # refused by check_account_name.
        return raw.decode("latin-1")


def check_account_name(name):
    """Letters, digits, "-", "_", "." and blanks between them only: such a
    name is safe inside a path and inside the archive names ("Müller Hof").
    The empty name is valid (the tool sends "?kd=" when no account is set)."""
    if name in (".", "..") or name != name.strip(" "):
        raise BadAccountName(name)
    for ch in name:
        if not (ch.isalpha() or ch in "0123456789-_. "):
            raise BadAccountName(name)
    return name


def account_bytes_from_query(query):
    """The value of kd as bytes, URL-decoded like PHP's $_GET does ("+" is a
    blank)."""
    for part in query.split("&"):
        key, sep, value = part.partition("=")
        if urllib.parse.unquote(key) == "kd":
            return urllib.parse.unquote_to_bytes(value.replace("+", " "))
    raise BadAccountName("kd missing")


def account_name_from_query(query):
    return check_account_name(decode_name_bytes(account_bytes_from_query(query)))


# ---------------------------------------------------------------------------
# Folders
# ---------------------------------------------------------------------------

class Layout:
    def __init__(self, root):
        self.root = os.path.abspath(root)
        self.ftp = os.path.join(self.root, "ftp")
        self.accounts = os.path.join(self.root, "accounts")
        self.www = os.path.join(self.root, "www")
        self.transfer = os.path.join(self.root, "transfer")

    def create(self):
        for folder in (self.ftp, self.accounts, os.path.join(self.www, "sync"),
                       self.transfer):
            os.makedirs(folder, exist_ok=True)

    def account_dir(self, name):
        return os.path.join(self.accounts, name or EMPTY_ACCOUNT_FOLDER)

    def download_archive(self, name):
        return os.path.join(self.transfer, "dl_" + name + ".zip")

    def upload_archive(self, kd_bytes):
        """The uploaded archive of an account, or None. Named as PHP's
        unzip.php names it, 'up_' . $_GET['kd'] . '.zip': with the bytes kd
        arrived in (Windows-1252 from the tool), whatever bytes the FTP
        client stored its file under."""
        path = os.path.join(os.fsencode(self.ftp), b"up_" + kd_bytes + b".zip")
        return path if os.path.isfile(path) else None


# ---------------------------------------------------------------------------
# The scripts under /mob/
# ---------------------------------------------------------------------------

class Reply:
    def __init__(self, status, body, content_type="text/plain; charset=utf-8"):
        self.status = int(status)
        self.body = body if isinstance(body, bytes) else body.encode("utf-8")
        self.content_type = content_type
        self.headers = []


def text_reply(status, text):
    return Reply(status, text + "\n")


def not_found_reply(path):
    # Shaped like a web server's error page: the tool's version check
    # recognises a missing file by the words "not found".
    safe = html.escape(path)
    page = ("<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>"
            "<body><h1>Not Found</h1><p>The requested URL %s was not found on "
            "this server.</p></body></html>\n" % safe)
    return Reply(404, page, "text/html; charset=utf-8")


def error_reply(status, reason=None):
    """A web server's error page; with `reason`, the page a script writes
    when it fails and says why (PHP's http_response_code(500); echo ...)."""
    if reason is not None:
        return text_reply(status, reason)
    try:
        phrase = HTTPStatus(status).phrase
    except ValueError:
        phrase = "Error"
    page = ("<!DOCTYPE html>\n<html><head><title>%d %s</title></head>"
            "<body><h1>%s</h1></body></html>\n" % (status, phrase, phrase))
    return Reply(status, page, "text/html; charset=utf-8")


def redirect_reply(location):
    """nginx's answer for a moved address: 301, Location and a small page."""
    page = ("<html>\r\n<head><title>301 Moved Permanently</title></head>\r\n<body>\r\n"
            "<center><h1>301 Moved Permanently</h1></center>\r\n"
            "<hr><center>nginx</center>\r\n</body>\r\n</html>\r\n")
    reply = Reply(301, page, "text/html")
    reply.headers.append(("Location", location))
    return reply


# What a server that does not run PHP sends for a script: its source.
PHP_SOURCE = """<?php
// %(script)s: the sync server's %(work)s for the account in ?kd=.
require __DIR__ . '/lib/sync.php';
$kd = isset($_GET['kd']) ? $_GET['kd'] : '';
echo sync_%(call)s($kd);
"""
SCRIPT_WORK = {
    "/mob/zip.php": ("packs the change files", "zip"),
    "/mob/unzip.php": ("unpacks the upload", "unzip"),
    "/mob/delmob.php": ("deletes the change files", "delmob"),
}


def php_source_reply(path):
    """The script's source with 200, as nginx sends a .php file when PHP-FPM
    is not wired in (no type of its own: application/octet-stream)."""
    work, call = SCRIPT_WORK.get(path, ("work", "run"))
    source = PHP_SOURCE % {"script": path.rsplit("/", 1)[-1], "work": work, "call": call}
    return Reply(200, source, "application/octet-stream")


def bom_reply(text):
    """A script that failed and says so, behind the byte-order mark of an
    included file saved as "UTF-8 with BOM"; PHP sends it with 200."""
    return Reply(200, b"\xef\xbb\xbf" + text.encode("utf-8"), "text/html; charset=UTF-8")


class Scripts:
    """What the PHP scripts of the real server do. One lock keeps two requests
    for the same folders from interleaving (zip.php against delmob.php)."""

    def __init__(self, layout):
        self.layout = layout
        self.lock = threading.Lock()

    def change_files(self, folder):
        if not os.path.isdir(folder):
            return []
        return sorted(entry.name for entry in os.scandir(folder)
                      if entry.is_file() and entry.name.endswith(CHANGE_FILE_SUFFIX))

    def zip(self, name, empty_archive=True, keep_old=False, stale_age=None, no_archive=False,
            update=False):
        """Packs the account's change files into its download archive. With
        nothing to pack: without `empty_archive` no archive is left at all, as
        PHP's ZipArchive does (it deletes an archive that has no entries);
        with `keep_old` the previous archive stays, as a script built on the
        zip command does. Whatever there is to pack, and still answering OK
        with the count of files found: with `stale_age` (seconds, 0 for as it
        is) the archive is left as it was, packed at least that long ago, as
        a caching proxy serves it or a zip command that failed on a full
        quota leaves it; with `no_archive` none is left at all, as an
        unchecked ZipArchive::close() does; with `update` the previous
        archive is updated, not written anew: every entry not packed now
        stays in it, as the zip command or ZipArchive without OVERWRITE
        does (test rules)."""
        folder = self.layout.account_dir(name)
        target = self.layout.download_archive(name)
        with self.lock:
            os.makedirs(folder, exist_ok=True)
            files = self.change_files(folder)
            if stale_age is not None:
                if stale_age and os.path.exists(target):
                    then = min(os.stat(target).st_mtime, time.time() - stale_age)
                    os.utime(target, (then, then))
                return text_reply(200, "OK zip dl_%s.zip %d" % (name, len(files)))
            if no_archive:
                if os.path.exists(target):
                    os.unlink(target)
                return text_reply(200, "OK zip dl_%s.zip %d" % (name, len(files)))
            if keep_old and not files and os.path.exists(target):
                return text_reply(200, "OK zip dl_%s.zip 0" % name)
            if not files and not empty_archive:
                if os.path.exists(target):
                    os.unlink(target)
                return text_reply(200, "OK zip dl_%s.zip 0" % name)
            # Written beside the target and renamed, so a download running at
            # the same time gets the old archive or the new one, never half;
            # the rename keeps the new file's time, the moment it was packed.
            kept = {}
            if update and os.path.exists(target):
                with zipfile.ZipFile(target) as old:
                    kept = {info.filename: old.read(info) for info in old.infolist()
                            if info.filename not in files}
            fd, temp = tempfile.mkstemp(dir=self.layout.transfer, suffix=".part")
            try:
                with os.fdopen(fd, "wb") as out, \
                        zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
                    for file_name, data in kept.items():
                        archive.writestr(file_name, data)
                    for file_name in files:
                        archive.write(os.path.join(folder, file_name), file_name)
                os.replace(temp, target)
            except BaseException:
                os.unlink(temp)
                raise
        return text_reply(200, "OK zip dl_%s.zip %d" % (name, len(files)))

    def unzip(self, name, kd_bytes):
        with self.lock:
            source = self.layout.upload_archive(kd_bytes)
            if source is None:
                return text_reply(404, "ERROR up_%s.zip not found" % name)
            folder = self.layout.account_dir(name)
            try:
                with open(source, "rb") as raw, zipfile.ZipFile(raw) as archive:
                    os.makedirs(folder, exist_ok=True)
                    count = 0
                    for member in archive.infolist():
                        if member.is_dir():
                            continue
                        # Flat like the upload (zip -j); a folder part in a
                        # member name never leads outside the account.
                        base = os.path.basename(member.filename.replace("\\", "/"))
                        if base in ("", ".", ".."):
                            continue
                        with archive.open(member) as src, \
                                open(os.path.join(folder, base), "wb") as dst:
                            dst.write(src.read())
                        count += 1
            except zipfile.BadZipFile:
                return text_reply(500, "ERROR up_%s.zip is not a zip archive" % name)
        return text_reply(200, "OK unzip up_%s.zip %d" % (name, count))

    def delmob(self, name):
        folder = self.layout.account_dir(name)
        with self.lock:
            files = self.change_files(folder)
            for file_name in files:
                os.unlink(os.path.join(folder, file_name))
        return text_reply(200, "OK delmob %d" % len(files))


# ---------------------------------------------------------------------------
# Static files under www/
# ---------------------------------------------------------------------------

def download_page(layout):
    version = ""
    try:
        with open(os.path.join(layout.www, "sync", "version.txt"), "rb") as f:
            version = f.read().decode("utf-8", "replace").strip()
    except OSError:
        pass
    line = ("<p>Aktuelle Version: %s</p>\n" % html.escape(version)) if version else ""
    page = ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
            "<title>Kelvanor Download</title></head><body>\n"
            "<h1>Kelvanor Download</h1>\n%s"
            "<p><a href=\"/sync/mob.exe\">Programm herunterladen</a></p>\n"
            "</body></html>\n" % line)
    return Reply(200, page, "text/html; charset=utf-8")


def content_type_of(path):
    lowered = path.lower()
    if lowered.endswith((".html", ".htm")):
        return "text/html; charset=utf-8"
    if lowered.endswith(".txt"):
        return "text/plain"
    return "application/octet-stream"


def serve_file(path, url_path):
    try:
        with open(path, "rb") as f:
            reply = Reply(200, f.read(), content_type_of(path))
            # As nginx and Apache do: the file's own time, which tells a
            # client whether an archive was packed for its request.
            reply.headers.append(("Last-Modified", email.utils.formatdate(
                os.fstat(f.fileno()).st_mtime, usegmt=True)))
            return reply
    except OSError:
        return not_found_reply(url_path)


def serve_static(layout, url_path):
    segments = [s for s in url_path.split("/") if s]
    if any(s in (".", "..") or "\0" in s or "\\" in s for s in segments):
        return not_found_reply(url_path)
    path = os.path.join(layout.www, *segments)
    if os.path.isdir(path):
        index = os.path.join(path, "index.html")
        if os.path.isfile(index):
            return serve_file(index, url_path)
        if segments == ["sync"]:
            return download_page(layout)
        return not_found_reply(url_path)
    return serve_file(path, url_path)


# ---------------------------------------------------------------------------
# Test control: failure injection and request log. Kept apart from the
# endpoints above; a request is steered only by rules a test has set.
# ---------------------------------------------------------------------------

class Steering:
    """What to do to one answer: replace it by an error (with a reason of
    its own), by a redirect, by another body, by the script's PHP source or
    by an error behind a byte-order mark, trickle it, leave out its
    Content-Length, cut it short; or, for zip.php, with nothing to pack, keep
    the previous archive or write none, and whatever there is to pack, leave
    the archive as it was (stale) or leave none (noarchive)."""

    def __init__(self):
        self.keep_old = False
        self.stale_age = None
        self.no_archive = False
        self.update = False
        self.php_source = False
        self.bom_text = None
        self.fail_status = None
        self.fail_text = None
        self.redirect = None
        self.body = None
        self.delay = 0.0
        self.no_length = False
        self.cut_bytes = None
        self.no_empty_archive = False


class ControlRules:
    KINDS = ("fail", "redirect", "body", "slow", "nolength", "cut", "keepold", "noemptyzip",
             "stale", "noarchive", "update", "phpsource", "bom")
    # Rules of the FTP side, set on the path "/ftp".
    FTP_KINDS = ("activeonly", "passiveclosed")
    # A rule on this path holds for every path that has none of its kind.
    EVERY_PATH = "/*"

    def __init__(self):
        self.lock = threading.Lock()
        # (path, kind) -> [value, remaining uses or None for unlimited]
        self.rules = {}

    def set(self, path, kind, value, times):
        with self.lock:
            self.rules[(path, kind)] = [value, times]

    def clear(self, path=None):
        with self.lock:
            if path is None:
                self.rules.clear()
            else:
                for key in [k for k in self.rules if k[0] == path]:
                    del self.rules[key]

    def has(self, path, kind):
        with self.lock:
            return (path, kind) in self.rules

    def take(self, path):
        """The steering for one request to path; counted rules are used up."""
        steering = Steering()
        with self.lock:
            for kind in self.KINDS:
                key = (path, kind)
                if key not in self.rules:
                    key = (self.EVERY_PATH, kind)
                rule = self.rules.get(key)
                if rule is None:
                    continue
                value, remaining = rule
                if remaining is not None:
                    if remaining <= 1:
                        del self.rules[key]
                    else:
                        rule[1] = remaining - 1
                if kind == "fail":
                    steering.fail_status, steering.fail_text = value
                elif kind == "redirect":
                    steering.redirect = value
                elif kind == "body":
                    steering.body = value
                elif kind == "slow":
                    steering.delay = value
                elif kind == "nolength":
                    steering.no_length = True
                elif kind == "cut":
                    steering.cut_bytes = value
                elif kind == "keepold":
                    steering.keep_old = True
                elif kind == "noemptyzip":
                    steering.no_empty_archive = True
                elif kind == "stale":
                    steering.stale_age = value
                elif kind == "noarchive":
                    steering.no_archive = True
                elif kind == "update":
                    steering.update = True
                elif kind == "phpsource":
                    steering.php_source = True
                elif kind == "bom":
                    steering.bom_text = value
        return steering


class RequestLog:
    def __init__(self):
        self.lock = threading.Lock()
        self.entries = []

    def add(self, entry):
        with self.lock:
            self.entries.append(entry)

    def snapshot(self, reset):
        with self.lock:
            entries = list(self.entries)
            if reset:
                self.entries.clear()
        return entries


def describe_request(handler, path, query, body):
    return {
        "method": handler.command,
        "path": path,
        "query": query,
        "version": handler.request_version,
        "headers": [[k, v] for k, v in handler.headers.items()],
        "body": body.decode("latin-1"),
        "tls": isinstance(handler.connection, ssl.SSLSocket),
    }


# ---------------------------------------------------------------------------
# HTTP
# ---------------------------------------------------------------------------

class Handler(BaseHTTPRequestHandler):
    # HTTP/1.0: one request per connection; the end of a body without
    # Content-Length is the end of the connection.
    protocol_version = "HTTP/1.0"
    server_version = "KelvanorSyncServer/1.0"

    def version_string(self):
        return self.server_version

    # Set by make_http_server on a subclass.
    layout = None
    scripts = None
    rules = None
    request_log = None
    verbose = False
    https_port = None  # the TLS side's port, once it listens

    def log_message(self, fmt, *args):
        if self.verbose:
            sys.stderr.write("http: " + (fmt % args) + "\n")

    def do_GET(self):
        self._dispatch()

    def do_HEAD(self):
        self._dispatch()

    def do_POST(self):
        self._dispatch()

    def _read_body(self):
        try:
            length = int(self.headers.get("Content-Length") or 0)
        except ValueError:
            length = 0
        return self.rfile.read(length) if length > 0 else b""

    def _dispatch(self):
        body = self._read_body()
        split = urllib.parse.urlsplit(self.path)
        path = decode_name_bytes(urllib.parse.unquote_to_bytes(split.path))
        query = split.query
        try:
            if path.startswith("/_control/"):
                self._send(self._control(path[len("/_control/"):], query, path, body),
                           Steering())
                return
            self.request_log.add(describe_request(self, path, query, body))
            steering = self.rules.take(path)
            if steering.fail_status is not None:
                reply = (not_found_reply(path)
                         if steering.fail_status == 404 and steering.fail_text is None
                         else error_reply(steering.fail_status, steering.fail_text))
            elif steering.redirect is not None and not (
                    steering.redirect == "https" and isinstance(self.connection, ssl.SSLSocket)):
                # Sent to the TLS side, the request is served there.
                reply = redirect_reply(self._location(steering.redirect, split))
            elif steering.body is not None:
                reply = Reply(200, steering.body.encode("latin-1"), "application/octet-stream")
            elif steering.php_source:
                reply = php_source_reply(path)
            elif steering.bom_text is not None:
                reply = bom_reply(steering.bom_text)
            else:
                reply = self._route(path, query, steering)
            self._send(reply, steering)
        except (BrokenPipeError, ConnectionResetError):
            pass
        except Exception:  # the test that caused it reads stderr
            log.exception("request %s failed", self.path)
            try:
                self._send(error_reply(500), Steering())
            except OSError:
                pass

    def _location(self, to, split):
        """Where a redirect rule sends the request: "https" is the same path
        and query on the TLS side; a path or a whole URL without a query of
        its own gets the request's query, as nginx's $request_uri does."""
        if to == "https":
            to = "https://%s:%d%s" % (HOST, self.https_port, split.path)
        if split.query and "?" not in to:
            to += "?" + split.query
        return to

    def _route(self, path, query, steering):
        scripts = {
            "/mob/zip.php": lambda name: self.scripts.zip(
                name, empty_archive=not steering.no_empty_archive, keep_old=steering.keep_old,
                stale_age=steering.stale_age, no_archive=steering.no_archive,
                update=steering.update),
            "/mob/unzip.php": lambda name: self.scripts.unzip(
                name, account_bytes_from_query(query)),
            "/mob/delmob.php": self.scripts.delmob,
        }
        if path in scripts:
            try:
                name = account_name_from_query(query)
            except BadAccountName:
                return text_reply(400, "ERROR invalid kd")
            return scripts[path](name)
        prefix = "/mob/transfer/"
        if path.startswith(prefix):
            file_name = path[len(prefix):]
            if not (file_name.startswith("dl_") and file_name.endswith(".zip")):
                return not_found_reply(path)
            try:
                name = check_account_name(file_name[3:-4])
            except BadAccountName:
                return text_reply(400, "ERROR invalid name")
            return serve_file(self.layout.download_archive(name), path)
        if path.startswith("/mob/"):
            return not_found_reply(path)
        return serve_static(self.layout, path)

    def _send(self, reply, steering):
        self.send_response(reply.status)
        self.send_header("Content-Type", reply.content_type)
        for name, value in reply.headers:
            self.send_header(name, value)
        if not steering.no_length:
            self.send_header("Content-Length", str(len(reply.body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command == "HEAD":
            return
        payload = reply.body
        if steering.cut_bytes is not None:
            payload = payload[:steering.cut_bytes]
        if steering.delay > 0:
            self._trickle(payload, steering.delay)
        else:
            self.wfile.write(payload)
        # HTTP/1.0: the connection closes after this, which is what makes a
        # cut body look cut to the client.
        self.wfile.flush()

    def _trickle(self, payload, delay):
        self.wfile.flush()
        if not payload:
            time.sleep(delay)
            return
        pieces = max(1, min(20, len(payload)))
        size = -(-len(payload) // pieces)
        for start in range(0, len(payload), size):
            time.sleep(delay / pieces)
            self.wfile.write(payload[start:start + size])
            self.wfile.flush()

    # -- test control ------------------------------------------------------

    def _control(self, action, query, path, body):
        params = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
        target = params.get("path")
        times = params.get("times")
        try:
            times = int(times) if times not in (None, "") else None
            if action == "clear":
                self.rules.clear(target)
                return text_reply(200, "OK clear")
            if action == "requests":
                entries = self.request_log.snapshot(params.get("reset") == "1")
                return Reply(200, json.dumps(entries), "application/json")
            if action == "echo":
                return Reply(200, json.dumps(describe_request(self, path, query, body)),
                             "application/json")
            if action not in ControlRules.KINDS + ControlRules.FTP_KINDS:
                return not_found_reply(path)
            if not target or not target.startswith("/"):
                return text_reply(400, "ERROR path must start with /")
            if action == "fail":
                status = int(params["status"])
                if not 400 <= status <= 599:
                    return text_reply(400, "ERROR status must be 400..599")
                value = (status, params.get("text"))
            elif action == "redirect":
                value = params["to"]
                if value == "https" and self.https_port is None:
                    return text_reply(400, "ERROR no https side to redirect to")
                if not value:
                    return text_reply(400, "ERROR to must not be empty")
            elif action == "body":
                value = params["text"]
            elif action == "slow":
                value = float(params["delay"])
                if not 0 <= value <= 600:
                    return text_reply(400, "ERROR delay out of range")
            elif action == "cut":
                value = int(params["bytes"])
                if value < 0:
                    return text_reply(400, "ERROR bytes must be >= 0")
            elif action == "stale":
                value = float(params.get("age") or 0)
                if not 0 <= value <= 10 * 365 * 86400:
                    return text_reply(400, "ERROR age out of range")
            elif action == "bom":
                value = params.get("text") or "Fehler: zip fehlgeschlagen (Speicherplatz voll)"
            else:
                value = True
        except (KeyError, ValueError):
            return text_reply(400, "ERROR bad control parameters")
        self.rules.set(target, action, value, times)
        return text_reply(200, "OK %s %s" % (action, target))


def make_handler(layout, verbose, rules, request_log):
    """One handler class for plain and TLS alike: both see the same scripts,
    test rules and request log (and so does the FTP side)."""
    return type("SyncHandler", (Handler,), {
        "https_port": None,
        "layout": layout,
        "scripts": Scripts(layout),
        "rules": rules,
        "request_log": request_log,
        "verbose": verbose,
    })


def make_http_server(handler, port):
    server = ThreadingHTTPServer((HOST, port), handler)
    server.daemon_threads = True
    return server


class TlsHTTPServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, handler, context):
        super().__init__(address, handler)
        self.context = context

    def finish_request(self, request, client_address):
        # The handshake runs in the connection's own thread: a client that
        # refuses the certificate holds up nobody else.
        try:
            request = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        # A client that drops the connection mid-answer is its own business.
        pass


def make_https_server(handler, port, cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return TlsHTTPServer((HOST, port), handler, context)


# ---------------------------------------------------------------------------
# FTP
# ---------------------------------------------------------------------------

def closed_port():
    """A loopback port nothing listens on: a connection there is refused."""
    probe = socket.socket()
    probe.bind((HOST, 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


class LoggedFtpHandler(FTPHandler):
    """The FTP side as real hosting runs it: every command goes into the
    request log (a password as "****"), and the test rules of the path
    "/ftp" play a server whose passive mode does not work."""
    rules = None
    request_log = None

    def process_command(self, cmd, *args, **kwargs):
        arg = args[0] if args else ""
        if cmd == "PASS":
            arg = "****"
        self.request_log.add({"method": "FTP", "path": cmd,
                              "query": arg if isinstance(arg, str) else "",
                              "tls": bool(getattr(self, "_ssl_established", False))})
        super().process_command(cmd, *args, **kwargs)

    def _passive_refused(self, extended):
        if self.rules.has("/ftp", "activeonly"):
            # vsftpd with pasv_enable=NO.
            self.respond("550 Permission denied.")
            return True
        if self.rules.has("/ftp", "passiveclosed"):
            # The port named is one a firewall in front of the server refuses.
            port = closed_port()
            if extended:
                self.respond("229 Entering extended passive mode (|||%d|)." % port)
            else:
                self.respond("227 Entering passive mode (127,0,0,1,%d,%d)." % (port >> 8,
                                                                                port & 255))
            return True
        return False

    def ftp_PASV(self, line):
        if not self._passive_refused(False):
            super().ftp_PASV(line)

    def ftp_EPSV(self, line):
        if not self._passive_refused(True):
            super().ftp_EPSV(line)


def tls_ftp_handler_base(mode):
    """The FTP handler class for TLS `mode` ("explicit", "implicit" or
    "optional"). Imported only when asked for: TLS needs python3-openssl,
    plain FTP does not."""
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    class DataChannel(TLS_DTPHandler):
        def readable(self):
            # pyftpdlib closes a data connection that is not yet transferring
            # when it is polled for reading; curl starts the data channel's
            # handshake only after STOR, so the handshake must keep it open.
            if self._ssl_accepting:
                return True
            return super().readable()

    class OfferTls(LoggedFtpHandler, TLS_FTPHandler):
        # Logged first: its PASV and EPSV, then TLS_FTPHandler's commands.
        dtp_handler = DataChannel

    if mode == "optional":
        # TLS for whoever asks (AUTH TLS), the clear for everyone else.
        return OfferTls

    class RequireTls(OfferTls):
        tls_control_required = True
        tls_data_required = True

        def process_command(self, cmd, *args, **kwargs):
            # vsftpd's words and code (ssl_enable, force_local_logins_ssl):
            # a client that tries to log in in the clear learns why it may not.
            if cmd in ("USER", "PASS") and not self._ssl_established:
                msg = "Non-anonymous sessions must use encryption."
                self.respond("530 " + msg)
                self.log_cmd(cmd, args[0], 530, msg)
                return
            super().process_command(cmd, *args, **kwargs)

    if mode == "explicit":
        return RequireTls

    class Implicit(RequireTls):
        def handle(self):
            # ftps://: the handshake comes before the banner, and the control
            # channel counts as protected from the start.
            self.secure_connection(self.ssl_context)
            super().handle()

    return Implicit


def make_ftp_server(layout, port, rules, request_log, tls_mode=None, cert=None, key=None):
    authorizer = DummyAuthorizer()
    authorizer.add_user(FTP_USER, FTP_PASSWORD, layout.ftp, perm="elradfmwMT")
    attributes = {
        "authorizer": authorizer,
        "banner": "Kelvanor sync server ready.",
        # Keep file names as the client's bytes (a Windows-1252 name is not
        # UTF-8) instead of replacing them by "?".
        "unicode_errors": "surrogateescape",
        "permit_foreign_addresses": False,
        "rules": rules,
        "request_log": request_log,
    }
    base = LoggedFtpHandler
    if tls_mode:
        base = tls_ftp_handler_base(tls_mode)
        attributes.update({"certfile": cert, "keyfile": key})
    handler = type("SyncFtpHandler", (base,), attributes)
    if tls_mode:
        handler.get_ssl_context()  # a certificate that does not load fails now
    return FTPServer((HOST, port), handler)


def run_ftp(server, stop):
    try:
        while not stop.is_set():
            # One round of the event loop; it waits at most 0.05 s for
            # activity, so the stop request is seen promptly.
            server.serve_forever(timeout=0.05, blocking=False, handle_exit=False)
    finally:
        server.close_all()


# ---------------------------------------------------------------------------
# Process
# ---------------------------------------------------------------------------

def process_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A parent that has ended but not yet been reaped still answers kill().
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            state = f.read().rsplit(b")", 1)[1].split()[0]
        return state not in (b"Z", b"X")
    except (OSError, IndexError):
        return True


CONTROL_HELP = """test rules, set with GET /_control/RULE?path=/mob/zip.php&...[&times=N]
(N: for the next N requests only; /_control/clear[?path=...] drops rules,
/_control/requests[?reset=1] lists the requests served):
  fail&status=S[&text=T]  answer S (400..599), with T as the script's reason
  redirect&to=U           answer 301 to U (a path, a URL, or "https")
  body&text=T             answer 200 with T instead of doing the work
  phpsource               answer 200 with the script's PHP source (PHP not run)
  bom[&text=T]            answer 200 with a byte-order mark and an error text
  slow&delay=D            trickle the body over D seconds
  nolength                send no Content-Length
  cut&bytes=B             announce the whole body, close after B bytes
  keepold                 zip.php: nothing to pack leaves the old archive
  noemptyzip              zip.php: nothing to pack leaves no archive
  stale[&age=A]           zip.php: answer OK with the count of files, leave the
                          archive as it was (dated at least A seconds back)
  noarchive               zip.php: answer OK with the count of files, leave no
                          archive at all
  update                  zip.php: update the previous archive, keeping every
                          entry it does not pack now
A rule on path=/* holds for every path without one of its own kind. The FTP
side takes rules on path=/ftp:
  activeonly              PASV and EPSV answer "550 Permission denied."
  passiveclosed           PASV and EPSV name a port that refuses connections
The request log holds the FTP commands too (method "FTP", the password as
"****"), and says of every entry whether it came over TLS.
"""


def parse_args(argv):
    parser = argparse.ArgumentParser(description="Kelvanor reference sync server (loopback only)",
                                     epilog=CONTROL_HELP,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--root", required=True,
                        help="folder holding ftp/, accounts/, www/, transfer/")
    parser.add_argument("--http-port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--ftp-port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--parent-pid", type=int, default=None,
                        help="stop also when this process is gone (the parent is always watched)")
    parser.add_argument("--verbose", action="store_true", help="log requests to stderr")
    parser.add_argument("--https-cert", help="PEM certificate: serve HTTP over TLS as well")
    parser.add_argument("--https-key", help="PEM key of --https-cert")
    parser.add_argument("--https-port", type=int, default=0, help="0 picks a free port")
    parser.add_argument("--ftp-tls", choices=("explicit", "implicit", "optional"),
                        help="the FTP side requires TLS (with the https certificate), or "
                             "offers it (optional)")
    args = parser.parse_args(argv)
    if bool(args.https_cert) != bool(args.https_key):
        parser.error("--https-cert and --https-key go together")
    if args.ftp_tls and not args.https_cert:
        parser.error("--ftp-tls needs --https-cert and --https-key")
    return args


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    logging.basicConfig(level=logging.INFO if args.verbose else logging.WARNING,
                        format="sync_server: %(message)s", stream=sys.stderr)
    initial_parent = os.getppid()

    layout = Layout(args.root)
    try:
        layout.create()
        rules = ControlRules()
        request_log = RequestLog()
        handler = make_handler(layout, args.verbose, rules, request_log)
        http_server = make_http_server(handler, args.http_port)
        https_server = None
        if args.https_cert:
            https_server = make_https_server(handler, args.https_port, args.https_cert,
                                             args.https_key)
            handler.https_port = https_server.server_address[1]
        ftp_server = make_ftp_server(layout, args.ftp_port, rules, request_log, args.ftp_tls,
                                     args.https_cert, args.https_key)
    except Exception as e:  # pylint: disable=broad-except
        # OSError for ports and folders; ssl, OpenSSL or a missing module for TLS.
        sys.stderr.write("sync_server: cannot start: %s\n" % e)
        return 2

    # The handlers only note the signal: taking a lock inside a handler (as
    # Event.set does) can deadlock against the interrupted main thread.
    signalled = []
    signal.signal(signal.SIGTERM, lambda *_: signalled.append(True))
    signal.signal(signal.SIGINT, lambda *_: signalled.append(True))
    stop = threading.Event()

    http_thread = threading.Thread(target=http_server.serve_forever,
                                   kwargs={"poll_interval": 0.05}, daemon=True)
    ftp_thread = threading.Thread(target=run_ftp, args=(ftp_server, stop), daemon=True)
    http_thread.start()
    ftp_thread.start()
    report = {
        "http_port": http_server.server_address[1],
        "ftp_port": ftp_server.address[1],
        "root": layout.root,
        "pid": os.getpid(),
    }
    if https_server is not None:
        threading.Thread(target=https_server.serve_forever,
                         kwargs={"poll_interval": 0.05}, daemon=True).start()
        report["https_port"] = https_server.server_address[1]
    if args.ftp_tls:
        report["ftp_tls"] = args.ftp_tls

    sys.stdout.write(json.dumps(report) + "\n")
    sys.stdout.flush()
    # The starter may close its end of the pipe once it has the line.
    devnull = os.open(os.devnull, os.O_WRONLY)
    os.dup2(devnull, 1)
    os.close(devnull)

    next_check = time.monotonic() + PARENT_POLL_SECONDS
    while not signalled:
        time.sleep(0.05)
        if time.monotonic() < next_check:
            continue
        next_check = time.monotonic() + PARENT_POLL_SECONDS
        if os.getppid() != initial_parent:
            break
        if args.parent_pid is not None and not process_alive(args.parent_pid):
            break

    stop.set()
    http_server.shutdown()
    http_server.server_close()
    if https_server is not None:
        https_server.shutdown()
        https_server.server_close()
    ftp_thread.join(timeout=5)
    return 0


if __name__ == "__main__":
    sys.exit(main())
