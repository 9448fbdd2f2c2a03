#include "tools/corvana-sim/CoverArt.h"

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace corvanasim {

namespace {

void PutBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xff);
}

void Chunk(std::string& png, const char* type, const std::string& data) {
    PutBigEndian(png, static_cast<uint32_t>(data.size()));
    std::string typed = std::string(type, 4) + data;
    png += typed;
    PutBigEndian(png,
                 static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(typed.data()), typed.size())));
}

}  // namespace

std::string CoverPng(const std::string& imageId, int size) {
    size_t hash = std::hash<std::string>{}(imageId);
    uint8_t a[3] = {static_cast<uint8_t>(hash), static_cast<uint8_t>(hash >> 8),
                    static_cast<uint8_t>(hash >> 16)};
    uint8_t b[3] = {static_cast<uint8_t>(255 - a[0]), static_cast<uint8_t>(255 - a[1]),
                    static_cast<uint8_t>(255 - a[2])};

    std::vector<uint8_t> raw;
    for (int y = 0; y < size; ++y) {
        raw.push_back(0);  // no filter
        for (int x = 0; x < size; ++x) {
            const uint8_t* colour = (x + y < size) ? a : b;
            raw.insert(raw.end(), colour, colour + 3);
        }
    }
    uLongf compressedSize = compressBound(raw.size());
    std::string compressed(compressedSize, '\0');
    compress(reinterpret_cast<Bytef*>(compressed.data()), &compressedSize, raw.data(), raw.size());
    compressed.resize(compressedSize);

    std::string header;
    PutBigEndian(header, static_cast<uint32_t>(size));
    PutBigEndian(header, static_cast<uint32_t>(size));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace

    std::string png("\x89PNG\r\n\x1a\n", 8);
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", compressed);
    Chunk(png, "IEND", "");
    return png;
}

}  // namespace corvanasim
