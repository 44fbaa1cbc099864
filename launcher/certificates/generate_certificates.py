#!/usr/bin/env python3
"""Writes stand-in certification-authority certificates for the certificates bundle.

    generate_certificates.py --qrc certificates.qrc --out DIR

Every file that the collection file lists becomes a self-signed X.509 v3 CA
certificate in DER, with an ECDSA P-256 key derived from the file's name, fixed
dates and RFC 6979 signatures, so the same names always give the same bytes.
The keys are public knowledge: the certificates stand in for the device's set
and must never be trusted for anything.
"""

import argparse
import datetime
import hashlib
import hmac
import os
import shutil
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

# --- P-256 ----------------------------------------------------------------

P = 0xFFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF
A = P - 3
N = 0xFFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551
G = (0x6B17D1F2E12C4247F8BCE6E563A440F277037D812DEB33A0F4A13945D898C296,
     0x4FE342E2FE1A7F9B8EE7EB4A7C0F9E162BCE33576B315ECECBB6406837BF51F5)


def _add(p, q):
    if p is None:
        return q
    if q is None:
        return p
    if p[0] == q[0] and (p[1] + q[1]) % P == 0:
        return None
    if p == q:
        slope = (3 * p[0] * p[0] + A) * pow(2 * p[1], -1, P) % P
    else:
        slope = (q[1] - p[1]) * pow(q[0] - p[0], -1, P) % P
    x = (slope * slope - p[0] - q[0]) % P
    return x, (slope * (p[0] - x) - p[1]) % P


def _multiply(k, point):
    result = None
    while k:
        if k & 1:
            result = _add(result, point)
        point = _add(point, point)
        k >>= 1
    return result


def _nonce(key, digest):
    """RFC 6979 section 3.2, HMAC-SHA-256, for a 256-bit order."""
    x = key.to_bytes(32, "big")
    h = (int.from_bytes(digest, "big") % N).to_bytes(32, "big")
    v, k = b"\x01" * 32, b"\x00" * 32
    k = hmac.new(k, v + b"\x00" + x + h, hashlib.sha256).digest()
    v = hmac.new(k, v, hashlib.sha256).digest()
    k = hmac.new(k, v + b"\x01" + x + h, hashlib.sha256).digest()
    v = hmac.new(k, v, hashlib.sha256).digest()
    while True:
        v = hmac.new(k, v, hashlib.sha256).digest()
        candidate = int.from_bytes(v, "big")
        if 1 <= candidate < N:
            return candidate
        k = hmac.new(k, v + b"\x00", hashlib.sha256).digest()
        v = hmac.new(k, v, hashlib.sha256).digest()


def _sign(key, message):
    digest = hashlib.sha256(message).digest()
    z = int.from_bytes(digest, "big")
    k = _nonce(key, digest)
    r = _multiply(k, G)[0] % N
    s = pow(k, -1, N) * (z + r * key) % N
    return r, s


# --- DER ------------------------------------------------------------------

def _der(tag, content):
    length = len(content)
    if length < 0x80:
        head = bytes([length])
    else:
        size = length.to_bytes((length.bit_length() + 7) // 8, "big")
        head = bytes([0x80 | len(size)]) + size
    return bytes([tag]) + head + content


def _sequence(*items):
    return _der(0x30, b"".join(items))


def _integer(value):
    return _der(0x02, value.to_bytes(value.bit_length() // 8 + 1, "big"))


def _oid(text):
    numbers = [int(n) for n in text.split(".")]
    out = bytes([40 * numbers[0] + numbers[1]])
    for n in numbers[2:]:
        chunk = [n & 0x7F]
        while n > 0x7F:
            n >>= 7
            chunk.insert(0, 0x80 | (n & 0x7F))
        out += bytes(chunk)
    return _der(0x06, out)


def _name(*attributes):
    return _sequence(*(_der(0x31, _sequence(_oid(oid), _der(0x0C, value.encode("utf-8"))))
                       for oid, value in attributes))


def _time(when):
    return _der(0x17, when.strftime("%y%m%d%H%M%SZ").encode("ascii"))


ECDSA_SHA256 = _sequence(_oid("1.2.840.10045.4.3.2"))
EC_P256_KEY = _sequence(_oid("1.2.840.10045.2.1"), _oid("1.2.840.10045.3.1.7"))
NOT_BEFORE = datetime.datetime(2010, 1, 1)
NOT_AFTER = datetime.datetime(2038, 1, 1)


def certificate(common_name, serial):
    """A self-signed CA certificate whose key is derived from common_name."""
    key = int.from_bytes(hashlib.sha256(b"ostra stand-in CA key\0" + common_name.encode()).digest(),
                         "big") % (N - 1) + 1
    x, y = _multiply(key, G)
    point = b"\x04" + x.to_bytes(32, "big") + y.to_bytes(32, "big")
    key_id = hashlib.sha1(point).digest()
    name = _name(("2.5.4.6", "ZZ"), ("2.5.4.10", "Ostra stand-in certificates"),
                 ("2.5.4.11", "Not for use outside tests"), ("2.5.4.3", common_name))
    extensions = _der(0xA3, _sequence(
        _sequence(_oid("2.5.29.19"), _der(0x01, b"\xff"), _der(0x04, _sequence(_der(0x01, b"\xff")))),
        _sequence(_oid("2.5.29.15"), _der(0x01, b"\xff"), _der(0x04, _der(0x03, b"\x01\x06"))),
        _sequence(_oid("2.5.29.14"), _der(0x04, _der(0x04, key_id)))))
    tbs = _sequence(_der(0xA0, _integer(2)), _integer(serial), ECDSA_SHA256, name,
                    _sequence(_time(NOT_BEFORE), _time(NOT_AFTER)), name,
                    _sequence(EC_P256_KEY, _der(0x03, b"\x00" + point)), extensions)
    r, s = _sign(key, tbs)
    return _sequence(tbs, ECDSA_SHA256, _der(0x03, b"\x00" + _sequence(_integer(r), _integer(s))))


def common_name(file_name):
    """"ca-cert-12.der" -> "Stand-in Root CA 12"; "AddTrust_External_Root.der" -> "AddTrust External Root"."""
    stem = file_name.rsplit(".", 1)[0]
    if stem.startswith("ca-cert-"):
        return "Stand-in Root CA " + stem[len("ca-cert-"):]
    return stem.replace("_", " ")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--qrc", required=True, help="collection file listing the certificates")
    parser.add_argument("--out", required=True, help="folder to fill (replaced as a whole)")
    args = parser.parse_args()
    try:
        paths = [f.text for f in ElementTree.parse(args.qrc).getroot().iter("file")]
    except (OSError, ElementTree.ParseError) as error:
        sys.exit("generate_certificates.py: cannot read %s: %s" % (args.qrc, error))
    # Build beside the target and swap it in, so a failed run leaves no half tree.
    parent = os.path.dirname(os.path.abspath(args.out))
    os.makedirs(parent, exist_ok=True)
    work = tempfile.mkdtemp(prefix=".certificates-", dir=parent)
    try:
        for serial, path in enumerate(paths, start=1):
            if not path or not path.endswith(".der"):
                raise ValueError("%s: not a .der certificate: %r" % (args.qrc, path))
            target = os.path.join(work, path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as out:
                out.write(certificate(common_name(os.path.basename(path)), serial))
        shutil.rmtree(args.out, ignore_errors=True)
        os.rename(work, args.out)
    except (OSError, ValueError) as error:
        shutil.rmtree(work, ignore_errors=True)
        sys.exit("generate_certificates.py: %s" % error)


if __name__ == "__main__":
    main()
