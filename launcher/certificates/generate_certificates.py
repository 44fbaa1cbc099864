#!/usr/bin/env python3
"""Writes stand-in certification-authority certificates for the certificates bundle.

    generate_certificates.py --qrc certificates.qrc --out DIR [--openssl PATH]

Every file that the collection file lists becomes a self-signed X.509 v3 CA
certificate in DER, made by the openssl command-line tool with an Ed25519 key
whose seed derives from the file's name, fixed dates and a fixed serial (the
file's place in the list). Ed25519 signatures are deterministic, so the same
names always give the same bytes. The keys are public knowledge: the
certificates stand in for the device's set and must never be trusted for
anything.
"""

import argparse
import concurrent.futures
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

# A PKCS#8 private key of the Ed25519 algorithm is this fixed header followed by
# the key's 32-byte seed (RFC 8410, section 7).
ED25519_PKCS8_HEADER = bytes.fromhex("302e020100300506032b657004220420")

NOT_BEFORE = "20100101000000Z"
NOT_AFTER = "20380101000000Z"
ORGANISATION = "/C=ZZ/O=Ostra stand-in certificates/OU=Not for use outside tests"

# openssl's own settings for every run, so that the system's configuration file
# cannot change the output. "ca" only serves to make a template certificate
# with the fixed dates, which every certificate keeps when it is signed anew.
CONFIG = """\
[ req ]
distinguished_name = request_name
prompt = no
[ request_name ]
CN = unused
[ ca ]
default_ca = template
[ template ]
database = index.txt
new_certs_dir = .
serial = serial
default_md = default
policy = any_name
unique_subject = no
email_in_dn = no
[ any_name ]
commonName = supplied
[ root_ca ]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
"""


class GenerationError(Exception):
    pass


def common_name(file_name):
    """"ca-cert-12.der" -> "Stand-in Root CA 12"; "AddTrust_External_Root.der" -> "AddTrust External Root"."""
    stem = file_name.rsplit(".", 1)[0]
    if stem.startswith("ca-cert-"):
        return "Stand-in Root CA " + stem[len("ca-cert-"):]
    return stem.replace("_", " ")


def private_key(name):
    """The PKCS#8 DER of the Ed25519 key that belongs to the common name."""
    seed = hashlib.sha256(b"ostra stand-in CA key\0" + name.encode("utf-8")).digest()
    return ED25519_PKCS8_HEADER + seed


def subject(name):
    """The -subj argument for a common name; "/" and "+" would start a new attribute."""
    escaped = "".join("\\" + c if c in "\\/+" else c for c in name)
    return ORGANISATION + "/CN=" + escaped


class OpenSSL:
    def __init__(self, program, scratch):
        self.program = program
        self.scratch = scratch
        self.config = os.path.join(scratch, "openssl.cnf")
        with open(self.config, "w", encoding="ascii") as f:
            f.write(CONFIG)
        self.environment = dict(os.environ, OPENSSL_CONF=self.config)

    def run(self, what, *arguments):
        try:
            result = subprocess.run([self.program] + list(arguments), cwd=self.scratch,
                                    env=self.environment, stdin=subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        except OSError as error:
            raise GenerationError("cannot run openssl (%s): %s" % (self.program, error.strerror)) \
                from None
        if result.returncode != 0:
            raise GenerationError("openssl failed on %s (exit code %d):\n%s"
                                  % (what, result.returncode, result.stdout.strip()))

    def write_key(self, file_name, name):
        path = os.path.join(self.scratch, file_name)
        with open(path, "wb") as f:
            f.write(private_key(name))
        return path

    def template(self):
        """A self-signed certificate with the fixed dates, made by "openssl ca"."""
        key = self.write_key("template.key.der", "template")
        with open(os.path.join(self.scratch, "index.txt"), "w", encoding="ascii"):
            pass
        with open(os.path.join(self.scratch, "serial"), "w", encoding="ascii") as f:
            f.write("01\n")
        self.run("the template request", "req", "-config", self.config, "-new", "-key", key,
                 "-subj", "/CN=template", "-out", "template.csr")
        self.run("the template certificate", "ca", "-config", self.config, "-batch", "-notext",
                 "-selfsign", "-keyfile", key, "-in", "template.csr", "-startdate", NOT_BEFORE,
                 "-enddate", NOT_AFTER, "-out", "template.pem")
        return os.path.join(self.scratch, "template.pem")

    def certificate(self, template, path, serial, target):
        """Signs the template anew as the certificate of path: its own key, name and serial."""
        name = common_name(os.path.basename(path))
        if not name or not all(" " <= c <= "~" for c in name):
            raise GenerationError("%s: the common name %r is empty or not printable ASCII"
                                  % (path, name))
        key = self.write_key("%d.key.der" % serial, name)
        self.run(path, "x509", "-in", template, "-signkey", key, "-preserve_dates",
                 "-set_serial", str(serial), "-subj", subject(name), "-clrext",
                 "-extfile", self.config, "-extensions", "root_ca", "-outform", "DER",
                 "-out", target)


def generate(qrc, out, program):
    try:
        paths = [f.text for f in ElementTree.parse(qrc).getroot().iter("file")]
    except (OSError, ElementTree.ParseError) as error:
        raise GenerationError("cannot read %s: %s" % (qrc, error)) from None
    for path in paths:
        if not path or not path.endswith(".der") or path.startswith("/") \
                or ".." in path.split("/"):
            raise GenerationError("%s: not a .der certificate inside the tree: %r" % (qrc, path))
    # Build beside the target and swap it in, so a failed run leaves no half tree.
    parent = os.path.dirname(os.path.abspath(out))
    os.makedirs(parent, exist_ok=True)
    work = tempfile.mkdtemp(prefix=".certificates-", dir=parent)
    try:
        scratch = os.path.join(work, "openssl")
        tree = os.path.join(work, "tree")
        os.makedirs(scratch)
        openssl = OpenSSL(program, scratch)
        template = openssl.template()
        jobs = []
        for serial, path in enumerate(paths, start=1):
            target = os.path.join(tree, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            jobs.append((path, serial, target))
        # One openssl run per certificate, as many at once as there are processors.
        with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 1) as pool:
            runs = [pool.submit(openssl.certificate, template, *job) for job in jobs]
            try:
                for run in runs:
                    run.result()
            except BaseException:
                pool.shutdown(cancel_futures=True)
                raise
        shutil.rmtree(out, ignore_errors=True)
        os.rename(tree, out)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--qrc", required=True, help="collection file listing the certificates")
    parser.add_argument("--out", required=True, help="folder to fill (replaced as a whole)")
    parser.add_argument("--openssl", default="openssl", help="the openssl command-line tool")
    args = parser.parse_args()
    try:
        generate(args.qrc, args.out, args.openssl)
    except (GenerationError, OSError) as error:
        sys.exit("generate_certificates.py: %s" % error)


if __name__ == "__main__":
    main()
