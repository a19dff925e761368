"""The real velquarn binary for the tests: a temporary configuration with a
SQLite section "lite" (and "pg" for the private PostgreSQL cluster when
VELQUARN_PG_* is set) on a free loopback port, and TLS on a second port
with a self-signed certificate for 127.0.0.1 (ca.pem in the folder)
made by the openssl tool.

VELQUARN_BINARY names the binary; VELQUARN_SQLITE_DRIVER the unixODBC
driver name of SQLite (default "SQLite3")."""

import os
import shutil
import socket
import subprocess
import tempfile
import time


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def postgres_settings():
    names = ("HOST", "PORT", "USER", "PASSWORD", "DATABASE")
    values = {name: os.environ.get(f"VELQUARN_PG_{name}") for name in names}
    return values if values["PORT"] and values["USER"] else None


class Server:
    def __init__(self):
        binary = os.environ.get("VELQUARN_BINARY")
        if not binary or not os.path.exists(binary):
            raise RuntimeError("VELQUARN_BINARY must name the built velquarn binary")
        self.folder = tempfile.mkdtemp(prefix="velquarn-py-")
        self.port = free_port()
        self.tls_port = free_port()
        self.ca = os.path.join(self.folder, "ca.pem")
        key = os.path.join(self.folder, "server.key")
        subprocess.run(
            ["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
             "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key, "-out", self.ca,
             "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"],
            check=True, capture_output=True)
        os.chmod(key, 0o600)
        driver = os.environ.get("VELQUARN_SQLITE_DRIVER", "SQLite3")
        database = os.path.join(self.folder, "test.db")
        config = [
            "[Settings]", f"Port={self.port}", "IPV6=0", "ListenAddress=127.0.0.1",
            "UpdateURL=", f"TLSPort={self.tls_port}", f"TLSCertificate={self.ca}",
            f"TLSKey={key}", "",
            "[lite]", f"DriverName={driver}", f"DriverParams=Database={database}", "",
        ]
        pg = postgres_settings()
        if pg:
            params = (f"Servername={pg['HOST'] or '127.0.0.1'};Port={pg['PORT']};"
                      f"Database={pg['DATABASE'] or 'postgres'}")
            config += ["[pg]", "DriverName=PostgreSQL Unicode",
                       "DriverParams=" + params.replace(";", ","), ""]
            self.pg_user = pg["USER"]
            self.pg_password = pg["PASSWORD"] or ""
        self.config = os.path.join(self.folder, "velquarn.ini")
        with open(self.config, "w", encoding="utf-8") as out:
            out.write("\n".join(config))
        self.log = open(os.path.join(self.folder, "server.log"), "wb")
        self.process = subprocess.Popen(
            [binary, "--config", self.config, "--event-log", os.path.join(self.folder, "events")],
            stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 20
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if self.process.poll() is not None or time.monotonic() > deadline:
                    self.stop()
                    raise RuntimeError("velquarn did not start")
                time.sleep(0.05)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()
        shutil.rmtree(self.folder, ignore_errors=True)
