"""Reads a ZPixmap XWD window dump (as xwd writes it) into raw 32-bit
pixel values, and writes them out as a PNG."""
import struct
import zlib


def read_xwd(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, width, height = fields[0], fields[4], fields[5]
    bits_per_pixel, bytes_per_line, ncolors = fields[11], fields[12], fields[19]
    byte_order = fields[7]
    if bits_per_pixel != 32:
        raise ValueError("expected a 32-bit dump, got %d bits" % bits_per_pixel)
    start = header_size + 12 * ncolors
    fmt = "<" if byte_order == 0 else ">"
    rows = []
    for y in range(height):
        line = data[start + y * bytes_per_line : start + y * bytes_per_line + 4 * width]
        rows.append(list(struct.unpack(fmt + "%dI" % width, line)))
    return width, height, rows


def write_png(path, width, height, rows):
    raw = bytearray()
    for row in rows:
        raw.append(0)
        for p in row:
            raw += bytes(((p >> 16) & 255, (p >> 8) & 255, p & 255))

    def chunk(kind, body):
        c = struct.pack(">I", len(body)) + kind + body
        return c + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b"")
    open(path, "wb").write(png)


if __name__ == "__main__":
    import sys

    w, h, rows = read_xwd(sys.argv[1])
    write_png(sys.argv[2], w, h, rows)
