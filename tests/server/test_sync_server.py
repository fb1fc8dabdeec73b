"""The reference sync server, driven the way the tool drives it: real curl,
zip and unzip against the server on loopback."""

import email.utils
import io
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest
import urllib.parse
import zipfile

PYTHON = "/usr/bin/python3"
SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                      "server", "sync_server.py")
FTP_LOGIN = "ftp5830417-mob:kwaldrimensup"


def read_line(stream, timeout):
    """One line from a pipe, or "" when it ends or nothing comes in time."""
    data = b""
    deadline = time.monotonic() + timeout
    fd = stream.fileno()
    while not data.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            break
        chunk = os.read(fd, 1)
        if not chunk:
            break
        data += chunk
    return data.decode()


def process_gone(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return True
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            return f.read().rsplit(b")", 1)[1].split()[0] in (b"Z", b"X")
    except OSError:
        return True


def wait_until(condition, timeout=10.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.05)
    return condition()


def port_closed(port):
    try:
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return False
    except OSError:
        return True


def raw_request(port, target, method="GET", body=b"", headers=()):
    """One HTTP/1.0 exchange read to the end of the connection:
    (status, lower-cased headers, body)."""
    with socket.create_connection(("127.0.0.1", port), timeout=30) as sock:
        head = "%s %s HTTP/1.0\r\nHost: 127.0.0.1\r\n" % (method, target)
        for name, value in headers:
            head += "%s: %s\r\n" % (name, value)
        if body:
            head += "Content-Length: %d\r\n" % len(body)
        sock.sendall(head.encode("latin-1") + b"\r\n" + body)
        data = b""
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                break
            data += chunk
    head, _, payload = data.partition(b"\r\n\r\n")
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split()[1])
    fields = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        fields[name.strip().lower()] = value.strip()
    return status, fields, payload


def make_certificate(folder):
    """A certificate for 127.0.0.1 and its key; a client trusts it with --cacert."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    if not os.path.exists(cert):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                        "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2",
                        "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1",
                        "-keyout", key, "-out", cert], check=True, capture_output=True)
    return cert, key


class ServerProcess:
    def __init__(self, root, extra=(), parent_pid=None):
        args = [PYTHON, SERVER, "--root", root]
        if parent_pid is not None:
            args += ["--parent-pid", str(parent_pid)]
        args += list(extra)
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE)
        line = read_line(self.proc.stdout, 20)
        if not line:
            self.stop()
            raise RuntimeError("sync server did not report its ports")
        self.info = json.loads(line)
        self.http_port = self.info["http_port"]
        self.ftp_port = self.info["ftp_port"]
        self.base = "http://127.0.0.1:%d" % self.http_port
        self.ftp = "ftp://127.0.0.1:%d" % self.ftp_port

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc.stdout.close()

    def control(self, action, **params):
        status, _, body = raw_request(
            self.http_port, "/_control/%s?%s" % (action, urllib.parse.urlencode(params)))
        if status != 200:
            raise AssertionError("control %s: %d %s" % (action, status, body))
        return body


class ServerTestCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kelvanor-sync-test-")
        self.root = os.path.join(self.tmp, "root")
        self.work = os.path.join(self.tmp, "work")
        os.makedirs(self.work)
        self.server = ServerProcess(self.root, parent_pid=os.getpid())
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.addCleanup(self.server.stop)

    # -- helpers ------------------------------------------------------------

    def curl(self, *args):
        """curl as the tool's batch runs it; (exit code, stdout bytes)."""
        result = subprocess.run(["curl", "-sS", *args], cwd=self.work,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        return result.returncode, result.stdout

    def get(self, target):
        """(HTTP status, body) of a GET through curl."""
        rc, out = self.curl("-w", "\n%{http_code}", self.server.base + target)
        self.assertEqual(rc, 0)
        body, _, code = out.rpartition(b"\n")
        return int(code), body

    def account(self, name, *parts):
        return os.path.join(self.root, "accounts", name or "@empty", *parts)

    def write(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def upload(self, name, files):
        """Zip with -j and upload by FTP, exactly as the tool does."""
        sources = []
        for file_name, data in files.items():
            path = os.path.join(self.work, "data", file_name)
            self.write(path, data)
            sources.append(path)
        archive = os.path.join(self.work, "up_%s.zip" % name)
        if os.path.exists(archive):
            os.unlink(archive)
        subprocess.run(["zip", "-q", "-j", archive, *sources], check=True)
        rc, _ = self.curl("-T", archive, "-u", FTP_LOGIN, self.server.ftp)
        self.assertEqual(rc, 0)

    def download(self, name):
        """zip.php, download and unzip as the tool does: the unpacked files."""
        self.assertEqual(self.get("/mob/zip.php?kd=" + name)[0], 200)
        target = os.path.join(self.work, "tmp_dl")
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(target)
        archive = os.path.join(target, "dl_%s.zip" % name)
        rc, _ = self.curl(self.server.base + "/mob/transfer/dl_%s.zip" % name, "-o", archive)
        self.assertEqual(rc, 0)
        with zipfile.ZipFile(archive) as z:
            return {info.filename: z.read(info) for info in z.infolist()}


class StartupTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kelvanor-sync-test-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def test_reports_ports_and_creates_layout(self):
        root = os.path.join(self.tmp, "new", "root")
        server = ServerProcess(root, parent_pid=os.getpid())
        self.addCleanup(server.stop)
        self.assertEqual(server.info["root"], root)
        self.assertNotEqual(server.http_port, server.ftp_port)
        for folder in ("ftp", "accounts", "www/sync", "transfer"):
            self.assertTrue(os.path.isdir(os.path.join(root, folder)), folder)
        self.assertFalse(port_closed(server.http_port))
        self.assertFalse(port_closed(server.ftp_port))
        # Nothing but the one line ever reaches stdout.
        server.stop()
        self.assertEqual(server.proc.returncode, 0)

    def test_explicit_ports_are_used(self):
        free = []
        for _ in range(2):
            s = socket.socket()
            s.bind(("127.0.0.1", 0))
            free.append(s.getsockname()[1])
            s.close()
        server = ServerProcess(self.tmp, ["--http-port", str(free[0]),
                                          "--ftp-port", str(free[1])], os.getpid())
        self.addCleanup(server.stop)
        self.assertEqual((server.http_port, server.ftp_port), (free[0], free[1]))

    def test_unusable_root_fails_without_reporting(self):
        blocker = os.path.join(self.tmp, "file")
        with open(blocker, "w") as f:
            f.write("x")
        proc = subprocess.run([PYTHON, SERVER, "--root", blocker], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=30)
        self.assertNotEqual(proc.returncode, 0)
        self.assertEqual(proc.stdout, b"")
        self.assertIn(b"cannot start", proc.stderr)

    def test_sigterm_and_sigint_stop_it(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            server = ServerProcess(self.tmp, parent_pid=os.getpid())
            self.addCleanup(server.stop)
            server.proc.send_signal(sig)
            self.assertEqual(server.proc.wait(10), 0)
            self.assertTrue(port_closed(server.http_port))

    def test_stops_when_its_parent_dies(self):
        # An intermediate process starts the server and is then killed: the
        # server is orphaned and must notice on its own.
        starter = subprocess.Popen(
            [PYTHON, "-c", "import subprocess, sys, time\n"
             "subprocess.Popen([sys.argv[1], sys.argv[2], '--root', sys.argv[3]])\n"
             "time.sleep(120)\n", PYTHON, SERVER, self.tmp],
            stdout=subprocess.PIPE)
        self.addCleanup(starter.stdout.close)
        info = json.loads(read_line(starter.stdout, 20))
        self.addCleanup(lambda: process_gone(info["pid"]) or os.kill(info["pid"], signal.SIGKILL))
        self.assertFalse(port_closed(info["http_port"]))
        starter.kill()
        starter.wait()
        self.assertTrue(wait_until(lambda: process_gone(info["pid"])))
        self.assertTrue(port_closed(info["http_port"]))
        self.assertTrue(port_closed(info["ftp_port"]))

    def test_stops_when_the_named_parent_dies(self):
        watched = subprocess.Popen(["sleep", "120"])
        server = ServerProcess(self.tmp, parent_pid=watched.pid)
        self.addCleanup(server.stop)
        time.sleep(1)
        self.assertIsNone(server.proc.poll())
        watched.kill()
        watched.wait()
        self.assertEqual(server.proc.wait(10), 0)


class UploadTest(ServerTestCase):
    def test_ftp_upload_then_unzip_fills_the_account(self):
        files = {"mob_kunde.txt": b"A/1;M\xfcller;\r\n", "mobv2.ini": b"[general]\r\n"}
        self.upload("anna", files)
        self.assertTrue(os.path.isfile(os.path.join(self.root, "ftp", "up_anna.zip")))
        status, body = self.get("/mob/unzip.php?kd=anna")
        self.assertEqual(status, 200)
        self.assertTrue(body.startswith(b"OK"))
        for name, data in files.items():
            self.assertEqual(self.read(self.account("anna", name)), data)

    def test_next_upload_overwrites_and_keeps_change_files(self):
        self.upload("anna", {"mob_kunde.txt": b"old", "mob_stall.txt": b"stall"})
        self.get("/mob/unzip.php?kd=anna")
        self.write(self.account("anna", "mob_kunde_x.txt"), b"N/1;x\r\n")
        self.upload("anna", {"mob_kunde.txt": b"new"})
        self.assertEqual(self.get("/mob/unzip.php?kd=anna")[0], 200)
        self.assertEqual(self.read(self.account("anna", "mob_kunde.txt")), b"new")
        self.assertEqual(self.read(self.account("anna", "mob_stall.txt")), b"stall")
        self.assertEqual(self.read(self.account("anna", "mob_kunde_x.txt")), b"N/1;x\r\n")

    def test_wrong_ftp_password_is_refused(self):
        path = os.path.join(self.work, "up_anna.zip")
        self.write(path, b"x")
        rc, _ = self.curl("-T", path, "-u", "ftp5830417-mob:wrong", self.server.ftp)
        self.assertNotEqual(rc, 0)
        self.assertEqual(os.listdir(os.path.join(self.root, "ftp")), [])

    def test_ftp_that_requires_tls(self):
        cert, key = make_certificate(self.tmp)
        archive = os.path.join(self.work, "up_anna.zip")
        self.write(archive, b"PK")
        explicit = ServerProcess(self.root, ["--https-cert", cert, "--https-key", key,
                                             "--ftp-tls", "explicit"])
        self.addCleanup(explicit.stop)
        self.assertEqual(explicit.info["ftp_tls"], "explicit")
        # In the clear the login is refused with vsftpd's words.
        result = subprocess.run(["curl", "-sS", "-v", "-T", archive, "-u", FTP_LOGIN,
                                 explicit.ftp], capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 67)
        self.assertIn(b"< 530 Non-anonymous sessions must use encryption.", result.stderr)
        self.assertEqual(os.listdir(os.path.join(self.root, "ftp")), [])
        # Asked for TLS (login and data), with the certificate trusted, it works.
        self.assertEqual(self.curl("--ssl-reqd", "--cacert", cert, "-T", archive, "-u",
                                   FTP_LOGIN, explicit.ftp)[0], 0)
        self.assertEqual(self.read(os.path.join(self.root, "ftp", "up_anna.zip")), b"PK")
        # A client that does not trust the certificate sends nothing.
        self.assertEqual(self.curl("--ssl-reqd", "-T", archive, "-u", FTP_LOGIN,
                                   explicit.ftp)[0], 60)
        explicit.stop()

        os.unlink(os.path.join(self.root, "ftp", "up_anna.zip"))
        implicit = ServerProcess(self.root, ["--https-cert", cert, "--https-key", key,
                                             "--ftp-tls", "implicit"])
        self.addCleanup(implicit.stop)
        ftps = implicit.ftp.replace("ftp://", "ftps://")
        self.assertEqual(self.curl("--cacert", cert, "-T", archive, "-u", FTP_LOGIN, ftps)[0], 0)
        self.assertEqual(self.read(os.path.join(self.root, "ftp", "up_anna.zip")), b"PK")

    def test_unzip_errors(self):
        self.assertEqual(self.get("/mob/unzip.php?kd=nobody")[0], 404)
        self.write(os.path.join(self.root, "ftp", "up_broken.zip"), b"not a zip at all")
        self.assertEqual(self.get("/mob/unzip.php?kd=broken")[0], 500)
        self.assertFalse(os.path.exists(self.account("broken")))


class DownloadTest(ServerTestCase):
    def test_change_files_come_back_at_top_level(self):
        changes = {"mob_kunde_x.txt": b"A/12;M\xfcller;\r\n", "mob_termin_x.txt": b"D/3\r\n"}
        for name, data in changes.items():
            self.write(self.account("anna", name), data)
        self.write(self.account("anna", "mob_kunde.txt"), b"data file, not a change")
        self.write(self.account("anna", "sub", "mob_pferd_x.txt"), b"in a subfolder")
        self.assertEqual(self.download("anna"), changes)
        # The tool's own unpacking works on it as well.
        out = os.path.join(self.work, "unzipped")
        subprocess.run(["unzip", "-q", os.path.join(self.work, "tmp_dl", "dl_anna.zip"),
                        "-d", out], check=True)
        self.assertEqual(sorted(os.listdir(out)), sorted(changes))

    def test_no_changes_give_an_empty_archive_and_the_account(self):
        self.assertEqual(self.download("fresh"), {})
        self.assertTrue(os.path.isdir(self.account("fresh")))

    def test_each_zip_replaces_the_previous_archive(self):
        self.write(self.account("anna", "mob_kasse_x.txt"), b"N/1\r\n")
        self.assertEqual(list(self.download("anna")), ["mob_kasse_x.txt"])
        os.unlink(self.account("anna", "mob_kasse_x.txt"))
        self.assertEqual(self.download("anna"), {})
        self.assertEqual([n for n in os.listdir(os.path.join(self.root, "transfer"))],
                         ["dl_anna.zip"])

    def test_no_empty_archive_when_told(self):
        # A zip.php that writes no archive without change files (PHP's
        # ZipArchive): the old archive goes too, so nothing stale is fetched.
        self.write(self.account("anna", "mob_kasse_x.txt"), b"N/1\r\n")
        self.server.control("noemptyzip", path="/mob/zip.php")
        self.assertEqual(list(self.download("anna")), ["mob_kasse_x.txt"])
        os.unlink(self.account("anna", "mob_kasse_x.txt"))
        self.assertEqual(self.get("/mob/zip.php?kd=anna"), (200, b"OK zip dl_anna.zip 0\n"))
        self.assertEqual(self.get("/mob/transfer/dl_anna.zip")[0], 404)

    def test_a_zip_that_keeps_the_old_archive_when_nothing_is_left(self):
        self.write(self.account("anna", "mob_kasse_x.txt"), b"N/1\r\n")
        self.server.control("keepold", path="/mob/zip.php")
        self.assertEqual(list(self.download("anna")), ["mob_kasse_x.txt"])
        os.unlink(self.account("anna", "mob_kasse_x.txt"))
        self.assertEqual(list(self.download("anna")), ["mob_kasse_x.txt"])
        self.server.control("clear")
        self.assertEqual(self.download("anna"), {})

    def test_a_stale_zip_answers_ok_and_leaves_the_old_archive(self):
        # A caching proxy, or a zip command that failed on a full quota: OK
        # with the count of files found, the archive as it was.
        self.write(self.account("anna", "mob_kasse_x.txt"), b"N/1\r\n")
        self.assertEqual(list(self.download("anna")), ["mob_kasse_x.txt"])
        archive = os.path.join(self.root, "transfer", "dl_anna.zip")
        packed = os.stat(archive).st_mtime
        self.write(self.account("anna", "mob_kunde_x.txt"), b"N/2\r\n")
        self.server.control("stale", path="/mob/zip.php")
        self.assertEqual(self.get("/mob/zip.php?kd=anna"), (200, b"OK zip dl_anna.zip 2\n"))
        self.assertEqual(list(self.download("anna")), ["mob_kasse_x.txt"])
        self.assertEqual(os.stat(archive).st_mtime, packed)
        # With an age it reads as packed that long ago.
        self.server.control("stale", path="/mob/zip.php", age=3600)
        self.get("/mob/zip.php?kd=anna")
        _, headers, _ = raw_request(self.server.http_port, "/mob/transfer/dl_anna.zip")
        self.assertGreaterEqual(
            email.utils.parsedate_to_datetime(headers["date"]).timestamp() -
            email.utils.parsedate_to_datetime(headers["last-modified"]).timestamp(), 3600)

    def test_a_zip_that_updates_the_old_archive_keeps_what_it_does_not_pack(self):
        # The zip command, ZipArchive without OVERWRITE: the files dropped
        # since stay in the archive.
        self.write(self.account("anna", "mob_kasse_x.txt"), b"N/1\r\n")
        self.assertEqual(list(self.download("anna")), ["mob_kasse_x.txt"])
        os.unlink(self.account("anna", "mob_kasse_x.txt"))
        self.write(self.account("anna", "mob_kunde_x.txt"), b"N/2\r\n")
        self.server.control("update", path="/mob/zip.php")
        self.assertEqual(self.get("/mob/zip.php?kd=anna"), (200, b"OK zip dl_anna.zip 1\n"))
        self.assertEqual(sorted(self.download("anna")), ["mob_kasse_x.txt", "mob_kunde_x.txt"])

    def test_a_zip_that_answers_ok_and_leaves_no_archive(self):
        # An unchecked ZipArchive::close(): OK with the files found, no archive.
        self.write(self.account("anna", "mob_kasse_x.txt"), b"N/1\r\n")
        self.assertEqual(list(self.download("anna")), ["mob_kasse_x.txt"])
        self.server.control("noarchive", path="/mob/zip.php")
        self.assertEqual(self.get("/mob/zip.php?kd=anna"), (200, b"OK zip dl_anna.zip 1\n"))
        self.assertEqual(self.get("/mob/transfer/dl_anna.zip")[0], 404)

    def test_files_carry_their_modification_time(self):
        # Last-Modified as nginx sends it; for the archive, the moment zip.php
        # packed it, not after its answer's Date.
        version = os.path.join(self.root, "www", "sync", "version.txt")
        self.write(version, b"1.0.0.70")
        os.utime(version, (1767225600, 1767225600))
        _, headers, _ = raw_request(self.server.http_port, "/sync/version.txt")
        self.assertEqual(headers["last-modified"], "Thu, 01 Jan 2026 00:00:00 GMT")
        self.write(self.account("anna", "mob_kasse_x.txt"), b"N/1\r\n")
        _, answer, _ = raw_request(self.server.http_port, "/mob/zip.php?kd=anna")
        _, headers, _ = raw_request(self.server.http_port, "/mob/transfer/dl_anna.zip")
        packed = email.utils.parsedate_to_datetime(headers["last-modified"]).timestamp()
        answered = email.utils.parsedate_to_datetime(answer["date"]).timestamp()
        self.assertTrue(answered - 1 <= packed <= answered, (packed, answered))

    def test_archive_missing_before_zip(self):
        status, body = self.get("/mob/transfer/dl_anna.zip")
        self.assertEqual(status, 404)
        self.assertIn(b"not found", body)
        self.assertEqual(self.get("/mob/transfer/other.zip")[0], 404)

    def test_delmob_removes_only_change_files(self):
        self.write(self.account("anna", "mob_kunde_x.txt"), b"x")
        self.write(self.account("anna", "mob_report_x.txt"), b"x")
        self.write(self.account("anna", "mob_kunde.txt"), b"keep")
        status, body = self.get("/mob/delmob.php?kd=anna")
        self.assertEqual((status, body), (200, b"OK delmob 2\n"))
        self.assertEqual(os.listdir(self.account("anna")), ["mob_kunde.txt"])
        self.assertEqual(self.download("anna"), {})
        # An account without a folder has nothing to delete.
        self.assertEqual(self.get("/mob/delmob.php?kd=nobody")[0], 200)


class AccountNameTest(ServerTestCase):
    UNSAFE = ["..", ".", "a/b", "a%2Fb", "..%2Fftp", "a%5Cb", "+a", "a%20", "a;b",
              "a%00b", "a%0Ab", "%22x%22", "a*", "a%25", "a%09b"]

    def test_unsafe_names_are_refused(self):
        for kd in self.UNSAFE:
            for script in ("zip", "unzip", "delmob"):
                with self.subTest(kd=kd, script=script):
                    status, body = self.get("/mob/%s.php?kd=%s" % (script, kd))
                    self.assertEqual(status, 400)
                    self.assertTrue(body.startswith(b"ERROR"))
        self.assertEqual(self.get("/mob/zip.php")[0], 400)
        self.assertEqual(self.get("/mob/transfer/dl_a%2Fb.zip")[0], 400)
        self.assertEqual(self.get("/mob/transfer/dl_%20a.zip")[0], 400)
        self.assertEqual(os.listdir(os.path.join(self.root, "accounts")), [])
        self.assertEqual(os.listdir(os.path.join(self.root, "transfer")), [])

    def test_plain_names_with_dots_and_dashes(self):
        self.write(self.account("Hof-Meier_2.a", "mob_stall_x.txt"), b"N/1\r\n")
        self.assertEqual(list(self.download("Hof-Meier_2.a")), ["mob_stall_x.txt"])

    def test_a_blank_between_words(self):
        self.write(self.account("M\u00fcller Hof", "mob_stall_x.txt"), b"N/1\r\n")
        for kd in ("M%FCller%20Hof", "M%C3%BCller%20Hof"):
            with self.subTest(kd=kd):
                self.assertEqual(self.download(kd), {"mob_stall_x.txt": b"N/1\r\n"})

    def test_percent_encoded_umlauts_in_both_encodings(self):
        self.write(self.account("M\u00fcller", "mob_pferd_x.txt"), b"A/7\r\n")
        # Windows-1252 bytes as the tool sends them, and UTF-8.
        for kd in ("M%FCller", "M%C3%BCller"):
            with self.subTest(kd=kd):
                self.assertEqual(self.download(kd), {"mob_pferd_x.txt": b"A/7\r\n"})

    def test_windows_1252_upload_name_is_found(self):
        # unzip.php names the upload with kd's bytes, as PHP does: an upload
        # stored under the UTF-8 spelling is not the one kd=M%FCller means.
        utf8 = os.path.join(os.fsencode(self.root), b"ftp", "up_Müller.zip".encode("utf-8"))
        with open(utf8, "wb") as f, zipfile.ZipFile(f, "w") as z:
            z.writestr("mob_kunde.txt", b"x")
        self.assertEqual(self.get("/mob/unzip.php?kd=M%FCller")[0], 404)
        archive = os.path.join(os.fsencode(self.root), b"ftp", "up_Müller.zip".encode("cp1252"))
        os.rename(utf8, archive)
        self.assertEqual(self.get("/mob/unzip.php?kd=M%FCller")[0], 200)
        self.assertEqual(self.read(self.account("M\u00fcller", "mob_kunde.txt")), b"x")

    def test_empty_name_works_end_to_end(self):
        self.upload("", {"mob_kunde.txt": b"k"})
        self.assertTrue(os.path.isfile(os.path.join(self.root, "ftp", "up_.zip")))
        self.assertEqual(self.get("/mob/unzip.php?kd=")[0], 200)
        self.assertEqual(self.read(self.account("", "mob_kunde.txt")), b"k")
        self.write(self.account("", "mob_kunde_x.txt"), b"N/1\r\n")
        self.assertEqual(self.download(""), {"mob_kunde_x.txt": b"N/1\r\n"})
        self.assertTrue(os.path.isfile(os.path.join(self.root, "transfer", "dl_.zip")))
        self.assertEqual(self.get("/mob/delmob.php?kd=")[0], 200)
        self.assertEqual(os.listdir(self.account("")), ["mob_kunde.txt"])


class StaticTest(ServerTestCase):
    def www(self, *parts):
        return os.path.join(self.root, "www", *parts)

    def test_version_and_program(self):
        self.write(self.www("sync", "version.txt"), b"1.0.0.70\r\n")
        program = bytes(range(256)) * 40
        self.write(self.www("sync", "mob.exe"), program)
        self.assertEqual(self.get("/sync/version.txt"), (200, b"1.0.0.70\r\n"))
        target = os.path.join(self.work, "mob.exe")
        self.assertEqual(self.curl(self.server.base + "/sync/mob.exe", "-o", target)[0], 0)
        self.assertEqual(self.read(target), program)

    def test_https_serves_the_same_side_with_the_given_certificate(self):
        cert, key = make_certificate(self.tmp)
        server = ServerProcess(self.root, ["--https-cert", cert, "--https-key", key])
        self.addCleanup(server.stop)
        self.write(self.www("sync", "mob.exe"), b"MZ update")
        https = "https://127.0.0.1:%d" % server.info["https_port"]
        target = os.path.join(self.work, "mob.exe")
        rc, _ = self.curl("--cacert", cert, https + "/sync/mob.exe", "-o", target)
        self.assertEqual(rc, 0)
        self.assertEqual(self.read(target), b"MZ update")
        # A client that does not trust the certificate gets nothing.
        self.assertEqual(self.curl(https + "/sync/mob.exe")[0], 60)
        # The test rules set over http steer the https side too.
        server.control("fail", path="/sync/mob.exe", status=404)
        rc, out = self.curl("--cacert", cert, "-w", "%{http_code}", "-o", os.devnull,
                            https + "/sync/mob.exe")
        self.assertEqual(out, b"404")
        self.assertNotIn("https_port", self.server.info)

    def test_download_page(self):
        self.write(self.www("sync", "version.txt"), b"1.0.0.70\n")
        for target in ("/sync", "/sync/"):
            status, body = self.get(target)
            self.assertEqual(status, 200)
            self.assertIn(b"<html", body)
            self.assertIn(b"/sync/mob.exe", body)
            self.assertIn(b"1.0.0.70", body)
        self.write(self.www("sync", "index.html"), b"<html>own page</html>")
        self.assertEqual(self.get("/sync/"), (200, b"<html>own page</html>"))

    def test_missing_file_page_says_not_found(self):
        status, body = self.get("/sync/version.txt")
        self.assertEqual(status, 404)
        self.assertIn(b"not found", body)

    def test_nothing_outside_www_is_served(self):
        self.write(os.path.join(self.root, "ftp", "secret.txt"), b"hidden content")
        for target in ("/sync/../../ftp/secret.txt", "/sync/%2E%2E/%2E%2E/ftp/secret.txt",
                       "/..%2Fftp%2Fsecret.txt", "/mob/nothing.php"):
            with self.subTest(target=target):
                status, _, body = raw_request(self.server.http_port, target)
                self.assertEqual(status, 404)
                self.assertNotIn(b"hidden content", body)

    def test_every_answer_announces_its_length(self):
        self.write(self.www("sync", "version.txt"), b"1.0.0.70")
        self.write(self.account("anna", "mob_kunde_x.txt"), b"N/1")
        for target in ("/sync/version.txt", "/sync", "/sync/missing", "/mob/zip.php?kd=anna",
                       "/mob/transfer/dl_anna.zip", "/mob/unzip.php?kd=anna",
                       "/mob/delmob.php?kd=anna", "/mob/zip.php?kd=a%2Fb"):
            with self.subTest(target=target):
                _, headers, body = raw_request(self.server.http_port, target)
                self.assertEqual(int(headers["content-length"]), len(body))


class ControlTest(ServerTestCase):
    def test_injected_error_replaces_the_script(self):
        self.write(self.account("anna", "mob_kunde_x.txt"), b"N/1")
        self.server.control("fail", path="/mob/zip.php", status=500)
        for _ in range(2):
            self.assertEqual(self.get("/mob/zip.php?kd=anna")[0], 500)
        self.assertFalse(os.path.exists(os.path.join(self.root, "transfer", "dl_anna.zip")))
        self.server.control("clear")
        self.assertEqual(self.get("/mob/zip.php?kd=anna")[0], 200)
        # curl -f reports the injected error as a failure, plain curl does not.
        self.server.control("fail", path="/mob/transfer/dl_anna.zip", status=404)
        self.assertEqual(self.curl("-f", self.server.base + "/mob/transfer/dl_anna.zip",
                                   "-o", "x.zip")[0], 22)

    def test_failure_with_the_scripts_own_reason(self):
        self.server.control("fail", path="/mob/unzip.php", status=500,
                            text="up_anna.zip is not a zip archive")
        self.assertEqual(self.get("/mob/unzip.php?kd=anna"),
                         (500, b"up_anna.zip is not a zip archive\n"))

    def test_php_source_and_an_error_behind_a_byte_order_mark(self):
        # PHP not run: the script's source comes with 200 and nothing is done.
        self.upload("anna", {"mob_kunde.txt": b"A/1"})
        self.server.control("phpsource", path="/mob/unzip.php")
        status, body = self.get("/mob/unzip.php?kd=anna")
        self.assertEqual(status, 200)
        self.assertTrue(body.startswith(b"<?php\n"), body)
        self.assertFalse(os.path.exists(self.account("anna", "mob_kunde.txt")))
        # A failure in words, behind a UTF-8 byte-order mark, with 200.
        self.write(self.account("anna", "mob_kasse_x.txt"), b"N/1\r\n")
        self.server.control("bom", path="/mob/zip.php", text="Fehler: Kontingent voll")
        self.assertEqual(self.get("/mob/zip.php?kd=anna"),
                         (200, b"\xef\xbb\xbf" + "Fehler: Kontingent voll".encode()))
        self.assertFalse(os.path.exists(os.path.join(self.root, "transfer", "dl_anna.zip")))

    def test_redirect_to_another_path_and_to_the_tls_side(self):
        self.server.control("redirect", path="/mob/unzip.php", to="/neu/mob/unzip.php")
        status, headers, body = raw_request(self.server.http_port, "/mob/unzip.php?kd=anna")
        self.assertEqual(status, 301)
        self.assertEqual(headers["location"], "/neu/mob/unzip.php?kd=anna")
        self.assertIn(b"301 Moved Permanently", body)
        # Without a TLS side there is nothing to send the client to.
        status, _, _ = raw_request(self.server.http_port,
                                   "/_control/redirect?path=/mob/zip.php&to=https")
        self.assertEqual(status, 400)

        cert, key = make_certificate(self.tmp)
        server = ServerProcess(self.root, ["--https-cert", cert, "--https-key", key])
        self.addCleanup(server.stop)
        server.control("redirect", path="/mob/zip.php", to="https")
        self.write(self.account("anna", "mob_kasse_x.txt"), b"N/1\r\n")
        # Followed, the request is done by the script on the TLS side.
        rc, out = self.curl("-L", "--cacert", cert, "-w", "\n%{url_effective}",
                            server.base + "/mob/zip.php?kd=anna")
        self.assertEqual(rc, 0)
        self.assertEqual(out, b"OK zip dl_anna.zip 1\n\nhttps://127.0.0.1:%d/mob/zip.php?kd=anna"
                         % server.info["https_port"])

    def test_counted_failure_and_clear_by_path(self):
        self.write(self.root + "/www/sync/version.txt", b"1.0.0.70")
        self.server.control("fail", path="/sync/version.txt", status=404, times=1)
        status, body = self.get("/sync/version.txt")
        self.assertEqual(status, 404)
        self.assertIn(b"not found", body)
        self.assertEqual(self.get("/sync/version.txt"), (200, b"1.0.0.70"))
        self.server.control("fail", path="/sync/version.txt", status=503)
        self.server.control("fail", path="/sync", status=500)
        self.server.control("clear", path="/sync/version.txt")
        self.assertEqual(self.get("/sync/version.txt")[0], 200)
        self.assertEqual(self.get("/sync")[0], 500)

    def test_slow_answer_arrives_whole(self):
        data = os.urandom(5000)
        self.write(self.root + "/www/sync/mob.exe", data)
        self.server.control("slow", path="/sync/mob.exe", delay=1)
        started = time.monotonic()
        status, headers, body = raw_request(self.server.http_port, "/sync/mob.exe")
        self.assertGreaterEqual(time.monotonic() - started, 0.5)
        self.assertEqual((status, body), (200, data))
        self.assertEqual(headers["content-length"], "5000")

    def test_answer_without_length(self):
        self.write(self.root + "/www/sync/version.txt", b"1.0.0.70")
        self.server.control("nolength", path="/sync/version.txt")
        status, headers, body = raw_request(self.server.http_port, "/sync/version.txt")
        self.assertEqual((status, body), (200, b"1.0.0.70"))
        self.assertNotIn("content-length", headers)

    def test_cut_answer(self):
        self.write(self.root + "/www/sync/mob.exe", b"0123456789" * 10)
        self.server.control("cut", path="/sync/mob.exe", bytes=30)
        status, headers, body = raw_request(self.server.http_port, "/sync/mob.exe")
        self.assertEqual((status, headers["content-length"], body), (200, "100", b"0123456789" * 3))
        # curl sees a partial transfer.
        self.assertEqual(self.curl(self.server.base + "/sync/mob.exe", "-o", "m.exe")[0], 18)

    def test_bad_control_requests(self):
        for target in ("/_control/fail?path=/x&status=200", "/_control/fail?path=x&status=500",
                       "/_control/fail?path=/x", "/_control/cut?path=/x&bytes=-1",
                       "/_control/slow?path=/x&delay=abc"):
            with self.subTest(target=target):
                self.assertEqual(raw_request(self.server.http_port, target)[0], 400)
        self.assertEqual(raw_request(self.server.http_port, "/_control/nothing")[0], 404)

    def test_echo_and_request_log(self):
        status, _, body = raw_request(self.server.http_port, "/_control/echo?a=1", "POST",
                                      b"kd=anna", [("Content-Type",
                                                    "application/x-www-form-urlencoded")])
        echo = json.loads(body)
        self.assertEqual((echo["method"], echo["version"], echo["query"], echo["body"]),
                         ("POST", "HTTP/1.0", "a=1", "kd=anna"))
        self.assertIn(["Content-Type", "application/x-www-form-urlencoded"], echo["headers"])

        self.get("/mob/zip.php?kd=anna")
        self.get("/sync/version.txt")
        log = json.loads(self.server.control("requests", reset=1))
        self.assertEqual([(e["path"], e["query"]) for e in log],
                         [("/mob/zip.php", "kd=anna"), ("/sync/version.txt", "")])
        self.assertEqual(json.loads(self.server.control("requests")), [])


if __name__ == "__main__":
    unittest.main()
