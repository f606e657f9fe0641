#include "tools/capture/PngWriter.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ios>

namespace {

// Table for the CRC-32 of ISO 3309 / ITU-T V.42 (polynomial 0xEDB88320, reflected), which
// PNG uses for every chunk.
std::array<std::uint32_t, 256> MakeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[n] = c;
    }
    return table;
}

void PutBigEndian32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 24));
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

// length, type, data, CRC of type and data
void PutChunk(std::vector<std::uint8_t>& out, const char type[4], const std::vector<std::uint8_t>& data) {
    PutBigEndian32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t typeStart = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    PutBigEndian32(out, Crc32(out.data() + typeStart, out.size() - typeStart));
}

}  // namespace

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    static const std::array<std::uint32_t, 256> table = MakeCrcTable();
    std::uint32_t c = crc ^ 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    }
    return c ^ 0xFFFFFFFFu;
}

std::uint32_t Adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler) {
    constexpr std::uint32_t kModulus = 65521;  // largest prime below 2^16 (RFC 1950)
    std::uint32_t a = adler & 0xFFFF;
    std::uint32_t b = adler >> 16;
    for (std::size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % kModulus;
        b = (b + a) % kModulus;
    }
    return (b << 16) | a;
}

std::vector<std::uint8_t> EncodePng(const CapturedFrame& frame) {
    const auto width = static_cast<std::uint32_t>(frame.width);
    const auto height = static_cast<std::uint32_t>(frame.height);

    // The raw image: each row is filter type 0 (none) followed by R, G, B per pixel.
    const std::size_t rowBytes = 1 + 3 * static_cast<std::size_t>(width);
    std::vector<std::uint8_t> raw(rowBytes * height);
    for (std::uint32_t y = 0; y < height; ++y) {
        std::uint8_t* row = raw.data() + y * rowBytes;
        row[0] = 0;
        const std::uint32_t* source = frame.pixels.data() + static_cast<std::size_t>(y) * width;
        for (std::uint32_t x = 0; x < width; ++x) {
            row[1 + 3 * x] = static_cast<std::uint8_t>(source[x] >> 16);
            row[2 + 3 * x] = static_cast<std::uint8_t>(source[x] >> 8);
            row[3 + 3 * x] = static_cast<std::uint8_t>(source[x]);
        }
    }

    // zlib stream (RFC 1950): header, deflate stored blocks of at most 65535 bytes (RFC 1951,
    // 3.2.4: BFINAL/BTYPE=00 byte, then LEN and its one's complement, little-endian), Adler-32.
    std::vector<std::uint8_t> zlib;
    zlib.reserve(raw.size() + raw.size() / 65535 * 5 + 16);
    zlib.push_back(0x78);  // CM = 8 (deflate), CINFO = 7 (32K window)
    zlib.push_back(0x01);  // no dictionary, fastest level; 0x7801 is a multiple of 31 as required
    std::size_t offset = 0;
    do {
        const std::size_t length = std::min<std::size_t>(65535, raw.size() - offset);
        const bool last = offset + length == raw.size();
        zlib.push_back(last ? 1 : 0);
        zlib.push_back(static_cast<std::uint8_t>(length));
        zlib.push_back(static_cast<std::uint8_t>(length >> 8));
        zlib.push_back(static_cast<std::uint8_t>(~length));
        zlib.push_back(static_cast<std::uint8_t>(~length >> 8));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
                    raw.begin() + static_cast<std::ptrdiff_t>(offset + length));
        offset += length;
    } while (offset < raw.size());
    PutBigEndian32(zlib, Adler32(raw.data(), raw.size()));

    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    PutBigEndian32(header, width);
    PutBigEndian32(header, height);
    header.push_back(8);  // bit depth
    header.push_back(2);  // colour type: truecolour (RGB)
    header.push_back(0);  // compression: deflate
    header.push_back(0);  // filter method 0
    header.push_back(0);  // no interlace
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", zlib);
    PutChunk(png, "IEND", {});
    return png;
}

bool WritePng(OutputFile& file, const CapturedFrame& frame, std::string& error) {
    const std::vector<std::uint8_t> png = EncodePng(frame);
    file.Stream().write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return file.Commit(error);
}

bool WritePng(const std::string& path, const CapturedFrame& frame, std::string& error) {
    OutputFile file;
    return file.Open(path, error) && WritePng(file, frame, error);
}
