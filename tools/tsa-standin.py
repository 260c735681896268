#!/usr/bin/env python3
"""A stand-in time-stamp authority: `openssl ts -reply` behind HTTP on 127.0.0.1.  tsa-standin.py DIR [--port N]

Makes a test PKI in DIR (a root, a TSA with critical timeStamping usage, one without it, a TSA under an
untrusted root), writes DIR/port and DIR/pid. DIR/mode, read at every request, says how to answer: ok,
slow:SECONDS, garbage, reset, otherhash, untrusted, noeku. Each request's mode and imprint go to DIR/requests."""
import os, subprocess, sys, threading, time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

CNF = os.path.join(os.path.dirname(os.path.abspath(__file__)), "tsa-standin.cnf")
LOCK = threading.Lock()


def run(*args, data=None):
    return subprocess.run(args, input=data, capture_output=True, check=True).stdout


def make_pki():
    def root(name, cn):
        run("openssl", "req", "-x509", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key",
            "-out", name + ".crt", "-days", "3650", "-subj", "/CN=" + cn, "-config", CNF, "-extensions", "v3_ca")

    def tsa(name, cn, ca, extensions):
        run("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
            "-subj", "/CN=" + cn, "-config", CNF)
        run("openssl", "x509", "-req", "-in", name + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key",
            "-CAcreateserial", "-out", name + ".crt", "-days", "1825", "-extfile", CNF, "-extensions", extensions)

    if os.path.exists("other-tsa.crt"):
        return
    root("ca", "Test TSA Root")
    tsa("tsa", "Test TSA", "ca", "v3_tsa")
    tsa("noeku-tsa", "Test TSA without usage", "ca", "v3_tsa_noeku")
    root("other-ca", "Untrusted Root")
    tsa("other-tsa", "Untrusted TSA", "other-ca", "v3_tsa")
    with open("tsaserial", "w") as f:
        f.write("01\n")
    run("openssl", "x509", "-in", "ca.crt", "-outform", "DER", "-out", "ca.der")


def der(tag, content):
    n = len(content)
    length = bytes([n]) if n < 0x80 else bytes([0x82, n >> 8, n & 0xFF])
    return bytes([tag]) + length + content


def reply(query, mode):
    signer = "other-tsa" if mode == "untrusted" else "tsa"
    chain = "other-ca.crt" if signer == "other-tsa" else "ca.crt"
    if mode == "otherhash":
        query = run("openssl", "ts", "-query", "-digest", "ab" * 32, "-sha256", "-cert")
    with LOCK:
        answer = run("openssl", "ts", "-reply", "-config", CNF, "-section", "tsa_config1", "-queryfile", "/dev/stdin",
                     "-signer", signer + ".crt", "-inkey", signer + ".key", "-chain", chain, data=query)
    if mode != "noeku":
        return answer
    # openssl ts will not sign with such a certificate: the same TSTInfo, signed as plain CMS.
    token = run("openssl", "ts", "-reply", "-in", "/dev/stdin", "-token_out", data=answer)
    tstinfo = run("openssl", "cms", "-verify", "-noverify", "-inform", "DER", "-binary", data=token)
    token = run("openssl", "cms", "-sign", "-binary", "-nodetach", "-nosmimecap", "-md", "sha256", "-outform", "DER",
                "-econtent_type", "1.2.840.113549.1.9.16.1.4", "-signer", "noeku-tsa.crt", "-inkey", "noeku-tsa.key",
                data=tstinfo)
    return der(0x30, der(0x30, der(0x02, b"\x00")) + token)


class Handler(BaseHTTPRequestHandler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        if self.headers.get("Content-Type") != "application/timestamp-query" or not 0 < length < 10000:
            self.send_error(400)
            return
        query = self.rfile.read(length)
        try:
            mode = open("mode").read().strip() or "ok"
        except OSError:
            mode = "ok"
        at = query.find(bytes.fromhex("05000420"))
        imprint = query[at + 4:at + 36].hex() if at > 0 else "-"
        with open("requests", "a") as f:
            f.write(mode + " " + imprint + "\n")
        if mode.startswith("slow:"):
            time.sleep(float(mode[5:]))
        if mode == "reset":
            self.close_connection = True
            self.connection.close()
            return
        body = os.urandom(700) if mode == "garbage" else reply(query, mode)
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


def main():
    os.makedirs(sys.argv[1], exist_ok=True)
    os.chdir(sys.argv[1])
    port = int(sys.argv[sys.argv.index("--port") + 1]) if "--port" in sys.argv else 0
    make_pki()
    ThreadingHTTPServer.allow_reuse_address = True
    server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
    server.daemon_threads = True
    with open("pid", "w") as f:
        f.write(str(os.getpid()))
    with open("port.tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace("port.tmp", "port")
    server.serve_forever()


if __name__ == "__main__":
    main()
