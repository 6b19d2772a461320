// The pictures the sample scene's materials name, drawn in code so that they are small, free
// and the same on every machine.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "examples.h"

namespace {

constexpr int kSide = 64;

struct Rgba {
    uint8_t r, g, b, a;
};
using Painter = std::function<Rgba(int x, int y)>;

uint8_t Byte(double d) {
    return static_cast<uint8_t>(std::lround(std::fmin(std::fmax(d, 0.0), 1.0) * 255));
}

// A repeatable value in [0, 1) for a cell: no random generator whose output could change.
double Hash(int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return static_cast<double>(h ^ (h >> 16)) / 4294967296.0;
}

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

HRESULT WriteBytes(const std::string& strPath, const std::vector<uint8_t>& bytes) {
    std::unique_ptr<FILE, int (*)(FILE*)> pFile(std::fopen(strPath.c_str(), "wb"), &std::fclose);
    if (!pFile || std::fwrite(bytes.data(), 1, bytes.size(), pFile.get()) != bytes.size()) {
        return E_FAIL;
    }
    return S_OK;
}

// 24-bit BMP, rows bottom first as the format has them.
HRESULT WriteBmp(const std::string& strPath, const Painter& paint) {
    std::vector<uint8_t> out{'B', 'M'};
    const uint32_t dwPixels = kSide * kSide * 3;
    Put32(out, 54 + dwPixels);
    Put32(out, 0);
    Put32(out, 54);
    Put32(out, 40);
    Put32(out, kSide);
    Put32(out, kSide);
    Put16(out, 1);
    Put16(out, 24);
    for (int i = 0; i < 6; ++i) {
        Put32(out, i == 1 ? dwPixels : 0);
    }
    for (int y = kSide - 1; y >= 0; --y) {
        for (int x = 0; x < kSide; ++x) {
            const Rgba c = paint(x, y);
            out.insert(out.end(), {c.b, c.g, c.r});
        }
    }
    return WriteBytes(strPath, out);
}

// 32-bit uncompressed TGA with alpha, rows top first.
HRESULT WriteTga(const std::string& strPath, const Painter& paint) {
    std::vector<uint8_t> out{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    Put16(out, kSide);
    Put16(out, kSide);
    out.push_back(32);
    out.push_back(0x28);  // eight alpha bits, top-left origin
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const Rgba c = paint(x, y);
            out.insert(out.end(), {c.b, c.g, c.r, c.a});
        }
    }
    return WriteBytes(strPath, out);
}

Rgba Stone(int x, int y) {
    const double d = 0.45 + 0.25 * Hash(x / 4, y / 4) + 0.1 * Hash(x, y);
    const bool bJoint = (y % 16) == 0 || ((x + (y / 16 % 2) * 8) % 16) == 0;
    return bJoint ? Rgba{70, 66, 60, 255} : Rgba{Byte(d), Byte(d * 0.95), Byte(d * 0.85), 255};
}

Rgba Wood(int x, int y) {
    const double dx = x - 20.0, dy = y - 80.0;
    const double dRing =
        0.5 + 0.5 * std::sin(std::sqrt(dx * dx + dy * dy) * 0.9 + Hash(x, 0) * 0.6);
    return {Byte(0.55 + 0.2 * dRing), Byte(0.33 + 0.15 * dRing), Byte(0.15 + 0.08 * dRing), 255};
}

Rgba WoodGrain(int x, int y) {
    const bool bStreak = Hash(x / 3, 0) > 0.8 && Hash(x, y / 8) > 0.3;
    return {40, 22, 10, static_cast<uint8_t>(bStreak ? 150 : 0)};
}

Rgba Glass(int x, int y) {
    const bool bEdge = x < 3 || y < 3 || x >= kSide - 3 || y >= kSide - 3;
    const double dShine = (x + y > 40 && x + y < 52) ? 0.35 : 0.0;
    return bEdge ? Rgba{200, 220, 235, 255}
                 : Rgba{Byte(0.55 + dShine), Byte(0.75 + dShine), Byte(0.9 + dShine),
                        Byte(0.3 + dShine)};
}

Rgba Glow(int x, int y) {
    const double dx = (x - 31.5) / 32, dy = (y - 31.5) / 32;
    const double d = std::fmax(0.0, 1.0 - std::sqrt(dx * dx + dy * dy));
    return {255, Byte(0.55 + 0.4 * d), Byte(0.15 + 0.3 * d), Byte(d * d)};
}

Rgba Cloth(int x, int y) {
    const bool bStripe = (y / 8) % 2 == 0;
    const double dWeave = ((x + y) % 2) ? 0.92 : 1.0;
    return bStripe ? Rgba{Byte(0.8 * dWeave), Byte(0.1 * dWeave), Byte(0.12 * dWeave), 255}
                   : Rgba{Byte(0.95 * dWeave), Byte(0.93 * dWeave), Byte(0.88 * dWeave), 255};
}

}  // namespace

const std::vector<std::string>& SampleTextureNames() {
    static const std::vector<std::string> names = {"stone.bmp", "wood.bmp", "wood_grain.tga",
                                                   "glass.tga", "glow.tga", "cloth.bmp"};
    return names;
}

HRESULT WriteSampleTextures(const std::string& strDirectory) {
    const Painter painters[] = {Stone, Wood, WoodGrain, Glass, Glow, Cloth};
    HRESULT hr = S_OK;
    for (size_t i = 0; i < SampleTextureNames().size() && SUCCEEDED(hr); ++i) {
        const std::string& strName = SampleTextureNames()[i];
        const std::string strPath = strDirectory + "/" + strName;
        hr = strName.ends_with(".bmp") ? WriteBmp(strPath, painters[i])
                                       : WriteTga(strPath, painters[i]);
    }
    return hr;
}
