"""Reads PNG and binary PPM (P6) files into plain RGB pixels, with nothing but the standard library.

PNG: bit depth 8, colour types grey, RGB, palette, grey+alpha and RGBA, all five row filters, no
interlacing (the capture tool and ImageMagick write nothing else for our pictures). Alpha is
dropped: the frames are X8R8G8B8, so only colour can be compared.
"""

import struct
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


class ImageError(Exception):
    pass


class Image:
    """width x height pixels, rows top to bottom, 3 bytes (R, G, B) per pixel, no padding."""

    def __init__(self, width, height, rgb):
        if len(rgb) != width * height * 3:
            raise ImageError("pixel data does not match %dx%d" % (width, height))
        self.width = width
        self.height = height
        self.rgb = bytes(rgb)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return (self.rgb[i], self.rgb[i + 1], self.rgb[i + 2])

    def row(self, y):
        stride = self.width * 3
        return self.rgb[y * stride:(y + 1) * stride]


def _paeth(a, b, c):
    p = a + b - c
    pa = abs(p - a)
    pb = abs(p - b)
    pc = abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    if pb <= pc:
        return b
    return c


def _unfilter(raw, height, stride, bpp):
    """Undoes the per-row filters; returns the rows' bytes concatenated."""
    out = bytearray(height * stride)
    previous = bytearray(stride)
    pos = 0
    for y in range(height):
        if pos + 1 + stride > len(raw):
            raise ImageError("image data too short")
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        if kind == 0:
            pass
        elif kind == 1:
            for i in range(bpp, stride):
                line[i] = (line[i] + line[i - bpp]) & 0xFF
        elif kind == 2:
            for i in range(stride):
                line[i] = (line[i] + previous[i]) & 0xFF
        elif kind == 3:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + ((left + previous[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(stride):
                left = line[i - bpp] if i >= bpp else 0
                up_left = previous[i - bpp] if i >= bpp else 0
                line[i] = (line[i] + _paeth(left, previous[i], up_left)) & 0xFF
        else:
            raise ImageError("unknown row filter %d" % kind)
        out[y * stride:(y + 1) * stride] = line
        previous = line
    return out


def decode_png(data):
    if not data.startswith(PNG_SIGNATURE):
        raise ImageError("not a PNG file")
    pos = len(PNG_SIGNATURE)
    header = None
    palette = None
    idat = []
    while pos + 8 <= len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if len(body) != length or pos + 12 + length > len(data):
            raise ImageError("truncated chunk %r" % kind)
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            raise ImageError("bad CRC in chunk %r" % kind)
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"PLTE":
            palette = body
        elif kind == b"IDAT":
            idat.append(body)
        elif kind == b"IEND":
            break
    if header is None:
        raise ImageError("no IHDR chunk")
    width, height, depth, colour, _compression, _filter, interlace = header
    if depth != 8:
        raise ImageError("bit depth %d is not supported" % depth)
    if interlace != 0:
        raise ImageError("interlaced PNGs are not supported")
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(colour)
    if channels is None:
        raise ImageError("colour type %d is not supported" % colour)
    try:
        raw = zlib.decompress(b"".join(idat))
    except zlib.error as error:
        raise ImageError("bad image data: %s" % error) from None
    stride = width * channels
    pixels = _unfilter(raw, height, stride, channels)
    if colour == 2:
        rgb = pixels
    elif colour == 6:
        rgb = bytearray(width * height * 3)
        rgb[0::3] = pixels[0::4]
        rgb[1::3] = pixels[1::4]
        rgb[2::3] = pixels[2::4]
    elif colour == 0 or colour == 4:
        grey = pixels[0::channels]
        rgb = bytearray(width * height * 3)
        rgb[0::3] = grey
        rgb[1::3] = grey
        rgb[2::3] = grey
    else:
        if palette is None:
            raise ImageError("palette image without PLTE")
        rgb = bytearray(width * height * 3)
        for i, index in enumerate(pixels):
            if 3 * index + 3 > len(palette):
                raise ImageError("palette index out of range")
            rgb[3 * i:3 * i + 3] = palette[3 * index:3 * index + 3]
    return Image(width, height, rgb)


def decode_ppm(data):
    fields = []
    pos = 0
    while len(fields) < 4:
        while pos < len(data) and data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            while pos < len(data) and data[pos:pos + 1] != b"\n":
                pos += 1
            continue
        start = pos
        while pos < len(data) and not data[pos:pos + 1].isspace():
            pos += 1
        if start == pos:
            raise ImageError("truncated PPM header")
        fields.append(data[start:pos])
    pos += 1  # the single white-space byte after the maximum value
    if fields[0] != b"P6":
        raise ImageError("not a binary PPM (P6) file")
    width, height, maximum = (int(f) for f in fields[1:])
    if maximum == 255:
        rgb = data[pos:pos + width * height * 3]
    elif maximum == 65535:   # 16 bits a sample, big-endian: v * 255 / 65535 is exact for v = 257 * k
        wide = data[pos:pos + width * height * 6]
        rgb = bytes((wide[i] * 256 + wide[i + 1] + 128) // 257 for i in range(0, len(wide) - 1, 2))
    else:
        raise ImageError("PPM maximum %d is not supported" % maximum)
    if len(rgb) != width * height * 3:
        raise ImageError("PPM pixel data too short")
    return Image(width, height, rgb)


def load(path):
    with open(path, "rb") as f:
        data = f.read()
    if data.startswith(PNG_SIGNATURE):
        return decode_png(data)
    if data.startswith(b"P6"):
        return decode_ppm(data)
    raise ImageError("%s: neither PNG nor binary PPM" % path)


def encode_png(image):
    """An unfiltered RGB PNG; used for difference pictures and by the tests."""
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    raw = bytearray()
    for y in range(image.height):
        raw.append(0)
        raw += image.row(y)
    header = struct.pack(">IIBBBBB", image.width, image.height, 8, 2, 0, 0, 0)
    return (PNG_SIGNATURE + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(bytes(raw), 6)) +
            chunk(b"IEND", b""))
