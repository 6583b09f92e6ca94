"""Signing the release as a publisher with a current certificate does, with the key in a token
(SoftHSM2, through PKCS#11) or in a PKCS#12 file: every signature time-stamped by an RFC 3161
authority (a throwaway one on 127.0.0.1, tried after one that does not answer), the program and
the package signed and the package holding the signed program, which without its signature is
the built file, and the PIN never on a command line, in a log or left in the build tree. A wrong
PIN, or no time stamp, makes no release and leaves none from before, unless a local test build
asks for no time stamp in so many words. Offline: the certificates are made here.
usage: pytest signing_test.py --config CPACK_CONFIG --exe BUILT_CONFIGTOOL_EXE --source SOURCE_DIR
"""
import http.server
import os
import pathlib
import re
import subprocess
import threading
import zipfile

import pytest

MODULE = pathlib.Path("/usr/lib/softhsm/libsofthsm2.so")
PIN = "marker-pin-7f3a9c"  # looked for afterwards in every log and file
STAMPED = "Timestamp Server Signature verification: ok"  # osslsigncode 2.5 and 2.9 alike


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True)


@pytest.fixture(scope="module")  # one authority for both kinds of key
def pki(tmp_path_factory):
    """A throwaway CA, a code-signing certificate and a time-stamping one."""
    d = tmp_path_factory.mktemp("pki")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
            "-days", "2", "-subj", "/CN=Throwaway CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign", cwd=d)
    for name, usage in (("signer", "codeSigning"), ("tsa", "critical,timeStamping")):
        openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", f"{name}.key", "-out",
                f"{name}.csr", "-subj", f"/CN=Throwaway {name}", cwd=d)
        (d / f"{name}.ext").write_text(f"extendedKeyUsage={usage}\nkeyUsage=digitalSignature\n")
        openssl("x509", "-req", "-in", f"{name}.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-CAcreateserial", "-days", "2", "-extfile", f"{name}.ext", "-out", f"{name}.pem", cwd=d)
    (d / "certs.pem").write_text((d / "signer.pem").read_text() + (d / "ca.pem").read_text())
    return d


@pytest.fixture(scope="module")
def key(request, pki):
    """The signing key, in a SoftHSM2 token in a folder of its own or in a PKCS#12 file whose
    password is the PIN: the environment that names it."""
    env = dict(os.environ, CONFIGTOOL_SIGN_CERTS=str(pki / "certs.pem"),
               CONFIGTOOL_SIGN_TSA_CERTS=str(pki / "ca.pem"))
    if request.param == "pkcs12":
        openssl("pkcs12", "-export", "-inkey", "signer.key", "-in", "signer.pem", "-certfile",
                "ca.pem", "-out", "signer.p12", "-passout", f"pass:{PIN}", cwd=pki)
        return dict(env, CONFIGTOOL_SIGN_PKCS12=str(pki / "signer.p12"))
    if not MODULE.exists():
        pytest.skip(f"no {MODULE} on this machine (softhsm2: see what tools/install-deps said)")
    (pki / "tokens").mkdir()
    (pki / "softhsm2.conf").write_text(f"directories.tokendir = {pki / 'tokens'}\n"
                                       "objectstore.backend = file\n")
    env["SOFTHSM2_CONF"] = str(pki / "softhsm2.conf")
    openssl("pkcs8", "-topk8", "-nocrypt", "-in", "signer.key", "-out", "signer.pk8", cwd=pki)
    for args in (["--init-token", "--free", "--label", "release", "--so-pin", "so-" + PIN],
                 ["--import", "signer.pk8", "--token", "release", "--label", "signer", "--id", "01"]):
        subprocess.run(["softhsm2-util", *args, "--pin", PIN], cwd=pki, env=env, check=True,
                       capture_output=True)
    (pki / "signer.pk8").unlink()
    return dict(env, CONFIGTOOL_SIGN_PKCS11_MODULE=str(MODULE),
                CONFIGTOOL_SIGN_PKCS11_KEY="pkcs11:token=release;object=signer")


@pytest.fixture(scope="module")
def authority(pki):
    """An RFC 3161 time-stamp authority on 127.0.0.1: each request answered by openssl ts."""
    (pki / "serial").write_text("01\n")
    (pki / "tsa.cnf").write_text(
        "[ tsa ]\ndefault_tsa = tsa_config\n[ tsa_config ]\n"
        f"serial = {pki / 'serial'}\nsigner_cert = {pki / 'tsa.pem'}\ncerts = {pki / 'ca.pem'}\n"
        f"signer_key = {pki / 'tsa.key'}\nsigner_digest = sha256\ndefault_policy = 1.2.3.4.1\n"
        "digests = sha256, sha384, sha512, sha1\naccuracy = secs:1\ness_cert_id_alg = sha256\n")

    class Answer(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            request = self.rfile.read(int(self.headers["Content-Length"]))
            reply = subprocess.run(["openssl", "ts", "-reply", "-config", str(pki / "tsa.cnf"),
                                    "-queryfile", "/dev/stdin", "-out", "/dev/stdout"],
                                   input=request, capture_output=True, check=True).stdout
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *_):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Answer)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    yield f"http://127.0.0.1:{server.server_address[1]}"
    server.shutdown()


def release(config, out, env):
    """cpack into OUT: (exit code, what it said)."""
    done = subprocess.run(["cpack", "--config", str(config), "-B", str(out)], env=env,
                          capture_output=True, text=True, timeout=300)
    return done.returncode, done.stdout + done.stderr


def verify(path, pki):
    done = subprocess.run(["osslsigncode", "verify", "-CAfile", str(pki / "ca.pem"), "-TSA-CAfile",
                           str(pki / "ca.pem"), "-in", str(path)], capture_output=True, text=True)
    assert done.returncode == 0 and "Signature verification: ok" in done.stdout, done.stdout
    return done.stdout


def assert_pin_nowhere(said, *folders):
    """The PIN is in no output and no file of these folders."""
    found = subprocess.run(["grep", "-r", "-l", "-a", "-F", PIN, *map(str, folders)],
                           capture_output=True, text=True).stdout.split()
    assert PIN not in said and not found, f"the PIN is in {found or 'what cpack said'}"


def packages(out):
    return sorted(p.name for p in out.glob("ConfigTool-*") if p.suffix in (".zip", ".msi"))


@pytest.fixture(scope="session")
def version_name(args):
    """The release's name, its version in it, as CPack names the archive."""
    return re.search(r'CPACK_PACKAGE_FILE_NAME "([^"]+)"', args.config.read_text()).group(1)


@pytest.fixture
def out(tmp_path, version_name):
    """A folder with an archive and a package of this version from an earlier run."""
    for name in (f"{version_name}.zip", f"{version_name}.msi"):
        (tmp_path / "out").mkdir(exist_ok=True)
        (tmp_path / "out" / name).write_text("from an earlier run")
    return tmp_path / "out"


EITHER_KEY = pytest.mark.parametrize("key", ["pkcs11", "pkcs12"], indirect=True)
TOKEN = pytest.mark.parametrize("key", ["pkcs11"], indirect=True)  # as a release is signed


@EITHER_KEY
def test_signed_and_time_stamped(args, pki, key, authority, tmp_path, version_name):
    (tmp_path / "pin").write_text(PIN)
    env = dict(key, CONFIGTOOL_SIGN_PASSWORD_FILE=str(tmp_path / "pin"),
               CONFIGTOOL_SIGN_TIMESTAMP=f"http://127.0.0.1:1 {authority}")  # the first never answers
    code, said = release(args.config, tmp_path / "out", env)
    assert code == 0 and said.count(f"time-stamped by {authority}") == 2, said
    assert not (args.config.parent / "sign").exists(), "the signing folder is still there"
    archive = tmp_path / "out" / f"{version_name}.zip"
    subprocess.run([args.source / "tests" / "package_test.sh", archive], check=True)
    zipfile.ZipFile(archive).extractall(tmp_path / "unzipped")
    subprocess.run(["msiextract", "-C", str(tmp_path / "packaged"),
                    str(tmp_path / "unzipped" / f"{version_name}.msi")], check=True, capture_output=True)
    (packaged,) = (tmp_path / "packaged").rglob("ConfigTool.exe")
    assert packaged.read_bytes() == (tmp_path / "unzipped" / "ConfigTool.exe").read_bytes(), \
        "the package does not hold the signed program"
    for signed in (packaged, tmp_path / "unzipped" / f"{version_name}.msi",
                   tmp_path / "out" / f"{version_name}.msi"):
        assert STAMPED in verify(signed, pki), f"{signed.name} has no time stamp"
    # Without its signature, the program is the built file, but for the PE checksum (bytes 216-219).
    unsigned, built = tmp_path / "unsigned.exe", args.exe.read_bytes()
    subprocess.run(["osslsigncode", "remove-signature", "-in", str(packaged), "-out", str(unsigned)],
                   check=True, capture_output=True)
    unsigned = unsigned.read_bytes()
    assert len(unsigned) == len(built) and unsigned[:216] + unsigned[220:] == built[:216] + built[220:], \
        "without its signature, the archived ConfigTool.exe is not the built one"
    # The PIN was in one file of the caller's: nowhere else, the build tree included.
    assert_pin_nowhere(said, args.config.parent, tmp_path / "out", tmp_path / "unzipped")


@EITHER_KEY
def test_wrong_pin_no_release(args, key, out):
    code, said = release(args.config, out, dict(key, CONFIGTOOL_SIGN_PASSWORD="wrong",
                                                CONFIGTOOL_SIGN_NO_TIMESTAMP="1"))
    assert code != 0 and re.search(r"Signing ConfigTool\.exe with .* failed", said, re.S), said
    # Neither a new archive or package (CPack's own copies included) nor older ones.
    left = [p for p in out.rglob("ConfigTool-*") if p.suffix in (".zip", ".msi")]
    assert not left, f"after a failed signing there is still {left}"
    assert not (args.config.parent / "sign").exists(), "the signing folder is still there"


@TOKEN
def test_no_time_stamp_no_release(args, key, out):
    code, said = release(args.config, out, dict(key, CONFIGTOOL_SIGN_PASSWORD=PIN))
    assert code != 0 and "CONFIGTOOL_SIGN_TIMESTAMP" in said, said
    assert packages(out) == [], f"after a refused release there is still {packages(out)}"


@TOKEN
def test_local_test_build_without_time_stamp(args, pki, key, tmp_path, version_name):
    """Asked for in so many words, it signs without a time stamp and says what that means."""
    env = dict(key, CONFIGTOOL_SIGN_PASSWORD=PIN, CONFIGTOOL_SIGN_NO_TIMESTAMP="1")
    code, said = release(args.config, tmp_path / "out", env)
    assert code == 0 and "local tests only" in said and "Never release" in said, said
    assert STAMPED not in verify(tmp_path / "out" / f"{version_name}.msi", pki)
    assert_pin_nowhere(said, args.config.parent, tmp_path / "out")
