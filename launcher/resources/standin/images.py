"""Small grey-scale image encoders for the stand-in assets: PNG, GIF, JPEG, MNG.

The reader runs on an e-ink screen, so every stand-in image is grey-scale.
An image is a list of rows, each row a bytes object of 8-bit grey values.
Every encoder is deterministic: the same pixels give the same bytes.
"""

import math
import struct
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


# --- GIF ------------------------------------------------------------------

def _lzw(indices, min_code_size):
    """GIF's variable-length LZW, codes packed least significant bit first."""
    clear, end = 1 << min_code_size, (1 << min_code_size) + 1
    out = bytearray()
    acc = nbits = 0

    def emit(code, size):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    def reset():
        return {(i,): i for i in range(clear)}, end + 1, min_code_size + 1

    table, next_code, size = reset()
    emit(clear, size)
    word = ()
    for index in indices:
        candidate = word + (index,)
        if candidate in table:
            word = candidate
            continue
        emit(table[word], size)
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            # The decoder adds its entry one code later, so widen after it does.
            if next_code > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear, size)
            table, next_code, size = reset()
        word = (index,)
    if word:
        emit(table[word], size)
    emit(end, size)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def _sub_blocks(data):
    return b"".join(bytes([len(data[i:i + 255])]) + data[i:i + 255]
                    for i in range(0, len(data), 255)) + b"\x00"


def gif(frames, delay_cs=10):
    """A GIF89a with a 16-shade grey palette; several frames loop without end."""
    height, width = len(frames[0]), len(frames[0][0])
    palette = b"".join(bytes([s * 17] * 3) for s in range(16))
    out = b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF3, 0, 0) + palette
    if len(frames) > 1:
        out += b"\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00"
    for frame in frames:
        out += b"\x21\xf9\x04\x04" + struct.pack("<H", delay_cs) + b"\x00\x00"
        out += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
        indices = [value >> 4 for row in frame for value in row]
        out += b"\x04" + _sub_blocks(_lzw(indices, 4))
    return out + b"\x3b"


# --- JPEG (baseline, one grey component) ----------------------------------

_LUMA_QUANT = [
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
]
_ZIGZAG = sorted(range(64), key=lambda i: (i // 8 + i % 8,
                                           i // 8 if (i // 8 + i % 8) % 2 else i % 8))
_DC_BITS = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
_DC_VALUES = list(range(12))
_AC_BITS = [0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D]
_AC_VALUES = bytes.fromhex(
    "01020300041105122131410613516107227114328191a1082342b1c11552d1f024"
    "33627282090a161718191a25262728292a3435363738393a434445464748494a53"
    "5455565758595a636465666768696a737475767778797a838485868788898a9293"
    "9495969798999aa2a3a4a5a6a7a8a9aab2b3b4b5b6b7b8b9bac2c3c4c5c6c7c8c9"
    "cad2d3d4d5d6d7d8d9dae1e2e3e4e5e6e7e8e9eaf1f2f3f4f5f6f7f8f9fa")
_COS = [[math.cos((2 * x + 1) * u * math.pi / 16) for x in range(8)] for u in range(8)]


def _huffman_codes(bits, values):
    codes, code, k = {}, 0, 0
    for length in range(1, 17):
        for _ in range(bits[length - 1]):
            codes[values[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    return codes


def _magnitude(value):
    size = abs(value).bit_length()
    return size, (value if value >= 0 else value + (1 << size) - 1)


def _fdct(block):
    out = [0.0] * 64
    for v in range(8):
        for u in range(8):
            total = 0.0
            for y in range(8):
                cy = _COS[v][y]
                row = block[y * 8:y * 8 + 8]
                total += cy * sum(row[x] * _COS[u][x] for x in range(8))
            cu = math.sqrt(0.5) if u == 0 else 1.0
            cv = math.sqrt(0.5) if v == 0 else 1.0
            out[v * 8 + u] = total * cu * cv / 4
    return out


def jpeg(pixels):
    """A baseline JFIF JPEG, standard luminance tables at quality 50."""
    height, width = len(pixels), len(pixels[0])
    dc_codes = _huffman_codes(_DC_BITS, _DC_VALUES)
    ac_codes = _huffman_codes(_AC_BITS, list(_AC_VALUES))
    out = bytearray()
    acc = nbits = 0

    def put(code, length):
        nonlocal acc, nbits
        acc = (acc << length) | code
        nbits += length
        while nbits >= 8:
            byte = (acc >> (nbits - 8)) & 0xFF
            out.append(byte)
            if byte == 0xFF:
                out.append(0)  # byte stuffing
            nbits -= 8
        acc &= (1 << nbits) - 1

    previous_dc = 0
    for by in range(0, height, 8):
        for bx in range(0, width, 8):
            # Edge blocks repeat the last row and column.
            block = [pixels[min(by + y, height - 1)][min(bx + x, width - 1)] - 128
                     for y in range(8) for x in range(8)]
            coefficients = _fdct(block)
            quantized = [int(round(coefficients[i] / _LUMA_QUANT[i])) for i in range(64)]
            zigzag = [quantized[i] for i in _ZIGZAG]
            size, bits = _magnitude(zigzag[0] - previous_dc)
            previous_dc = zigzag[0]
            put(*dc_codes[size])
            if size:
                put(bits, size)
            run = 0
            for value in zigzag[1:]:
                if value == 0:
                    run += 1
                    continue
                while run > 15:
                    put(*ac_codes[0xF0])
                    run -= 16
                size, bits = _magnitude(value)
                put(*ac_codes[(run << 4) | size])
                put(bits, size)
                run = 0
            if run:
                put(*ac_codes[0x00])
    if nbits:
        put((1 << (8 - nbits)) - 1, 8 - nbits)

    def segment(marker, payload):
        return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload

    head = b"\xff\xd8"
    head += segment(0xE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
    head += segment(0xDB, b"\x00" + bytes(_LUMA_QUANT[i] for i in _ZIGZAG))
    head += segment(0xC0, struct.pack(">BHHB", 8, height, width, 1) + b"\x01\x11\x00")
    head += segment(0xC4, b"\x00" + bytes(_DC_BITS) + bytes(_DC_VALUES)
                    + b"\x10" + bytes(_AC_BITS) + _AC_VALUES)
    head += segment(0xDA, b"\x01\x01\x00\x00\x3f\x00")
    return head + bytes(out) + b"\xff\xd9"
