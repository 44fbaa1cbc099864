"""Small grey-scale images for the stand-in assets: PNG, GIF, JPEG, MNG.

The reader runs on an e-ink screen, so every stand-in image is grey-scale.
An image is a list of rows, each row a bytes object of 8-bit grey values.
PNG goes through zlib, and MNG frames PNG datastreams in its own chunks; JPEG
and GIF are left to netpbm's encoders and gifsicle (Encoders below). Every
encoder is deterministic: the same pixels give the same bytes.
"""

import math
import os
import struct
import subprocess
import tempfile
import zlib


# --- pixel patterns -------------------------------------------------------

def pattern(rng, width, height):
    """A grey-scale picture of a few flat shapes on a flat ground."""
    ground = rng.randrange(160, 256)
    pixels = [bytearray([ground]) * width for _ in range(height)]
    for _ in range(rng.randrange(1, 4)):
        shade = rng.randrange(0, 160)
        x0, y0 = rng.randrange(width), rng.randrange(height)
        x1, y1 = rng.randrange(x0, width) + 1, rng.randrange(y0, height) + 1
        round_shape = rng.random() < 0.5
        cx, cy = (x0 + x1 - 1) / 2, (y0 + y1 - 1) / 2
        rx, ry = max((x1 - x0) / 2, 0.5), max((y1 - y0) / 2, 0.5)
        for y in range(y0, y1):
            row = pixels[y]
            for x in range(x0, x1):
                if not round_shape or ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0:
                    row[x] = shade
    return [bytes(row) for row in pixels]


def photo(rng, width, height):
    """A smooth grey-scale picture with some grain, like a photograph."""
    fx, fy = rng.uniform(0.05, 0.3), rng.uniform(0.05, 0.3)
    phase = rng.uniform(0, math.pi)
    rows = []
    for y in range(height):
        row = bytearray(width)
        for x in range(width):
            value = 128 + 70 * math.sin(fx * x + phase) * math.cos(fy * y)
            row[x] = max(0, min(255, int(value) + rng.randrange(-12, 13)))
        rows.append(bytes(row))
    return rows


def spinner(rng, size, count):
    """Frames of a dot circling a ring."""
    ground = rng.randrange(200, 256)
    start = rng.uniform(0, 2 * math.pi)
    frames = []
    for i in range(count):
        angle = start + 2 * math.pi * i / count
        cx = (size - 1) / 2 + (size / 3) * math.cos(angle)
        cy = (size - 1) / 2 + (size / 3) * math.sin(angle)
        rows = []
        for y in range(size):
            row = bytearray([ground]) * size
            for x in range(size):
                if (x - cx) ** 2 + (y - cy) ** 2 <= (size / 8) ** 2:
                    row[x] = 0
            rows.append(bytes(row))
        frames.append(rows)
    return frames


def flat(shade, width, height):
    """A picture of one grey shade."""
    return [bytes([shade]) * width for _ in range(height)]


# --- PNG ------------------------------------------------------------------

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def _chunk(kind, data):
    crc = zlib.crc32(kind + data) & 0xFFFFFFFF
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)


def _png_chunks(pixels, level):
    """IHDR, IDAT and IEND of an 8-bit grey-scale image (filter type 0 on every row)."""
    height, width = len(pixels), len(pixels[0])
    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    raw = b"".join(b"\x00" + row for row in pixels)
    return _chunk(b"IHDR", header) + _chunk(b"IDAT", zlib.compress(raw, level)) + _chunk(b"IEND", b"")


def png(pixels, level=9):
    """A PNG file. level 0 leaves the image data in stored deflate blocks."""
    return PNG_SIGNATURE + _png_chunks(pixels, level)


# --- MNG ------------------------------------------------------------------

MNG_SIGNATURE = b"\x8aMNG\r\n\x1a\n"


def mng(frames, ticks_per_second=10):
    """An endlessly looping MNG animation, one embedded PNG datastream per frame."""
    height, width = len(frames[0]), len(frames[0][0])
    header = struct.pack(">IIIIIII", width, height, ticks_per_second, 0, len(frames), 0, 0)
    # TERM: repeat the whole animation without end.
    term = struct.pack(">BBII", 3, 0, 0, 0x7FFFFFFF)
    out = MNG_SIGNATURE + _chunk(b"MHDR", header) + _chunk(b"TERM", term)
    # FRAM framing mode 1: every embedded image is a frame of its own.
    out += _chunk(b"FRAM", b"\x01")
    for frame in frames:
        out += _png_chunks(frame, 9)
    return out + _chunk(b"MEND", b"")


# --- JPEG and GIF through netpbm and gifsicle -----------------------------

class EncoderError(Exception):
    pass


def pgm(pixels):
    """The binary PGM (netpbm's grey map) of an image, what netpbm's encoders read."""
    height, width = len(pixels), len(pixels[0])
    return b"P5\n%d %d\n255\n" % (width, height) + b"".join(pixels)


class Encoders:
    """The command-line encoders of JPEG and GIF.

    pnmtojpeg and pamtogif come from the Debian package netpbm; gifsicle, which
    joins single GIF pictures into a looping animation, from gifsicle.
    """

    PACKAGES = {"pnmtojpeg": "netpbm", "pamtogif": "netpbm", "gifsicle": "gifsicle"}

    def __init__(self, pnmtojpeg="pnmtojpeg", pamtogif="pamtogif", gifsicle="gifsicle",
                 scratch=None):
        self.programs = {"pnmtojpeg": pnmtojpeg, "pamtogif": pamtogif, "gifsicle": gifsicle}
        self.scratch = scratch

    def _run(self, tool, arguments, data=None):
        program = self.programs[tool]
        try:
            result = subprocess.run([program] + arguments, input=data,
                                    stdin=None if data is not None else subprocess.DEVNULL,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        except OSError as error:
            raise EncoderError("cannot run %s (%s, Debian package %s): %s"
                               % (tool, program, self.PACKAGES[tool], error.strerror)) from None
        if result.returncode != 0 or not result.stdout:
            raise EncoderError("%s ended with %d: %s" % (tool, result.returncode,
                                                        result.stderr.decode(errors="replace")
                                                        .strip()))
        return result.stdout

    def jpeg(self, pixels, quality=50):
        """A baseline JFIF JPEG with one grey component and optimised Huffman tables."""
        return self._run("pnmtojpeg", ["--quality=%d" % quality, "--optimize"], pgm(pixels))

    def gif(self, frames, delay_cs=10):
        """A GIF89a; several frames loop without end, delay_cs hundredths of a second each."""
        pictures = [self._run("pamtogif", [], pgm(frame)) for frame in frames]
        if len(pictures) == 1:
            return pictures[0]
        with tempfile.TemporaryDirectory(prefix="gif-", dir=self.scratch) as folder:
            names = []
            for i, picture in enumerate(pictures):
                names.append(os.path.join(folder, "%03d.gif" % i))
                with open(names[-1], "wb") as f:
                    f.write(picture)
            return self._run("gifsicle", ["--no-warnings", "--no-comments", "--no-names",
                                          "--no-extensions", "--loopcount=forever",
                                          "--delay=%d" % delay_cs] + names)
