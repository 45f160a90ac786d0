// Test pictures shared by the benchmarks.
#pragma once

#include "image/PGraphic.h"

#include <cmath>
#include <cstdint>
#include <random>

namespace rastova::bench {

constexpr int kPhotoWidth = 6000;
constexpr int kPhotoHeight = 4000;

// A photo-like true-colour picture: smooth gradients and soft shapes with a
// little noise on top, so that neighbouring pixels are similar but rarely equal.
inline void MakePhoto(TPixelGraphic& image, int width = kPhotoWidth, int height = kPhotoHeight)
{
    image.SetSize(width, height, bc24);
    std::mt19937 random(12345);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = image.ScanLine(y);
        for (int x = 0; x < width; ++x, p += 3) {
            const double fx = double(x) / width, fy = double(y) / height;
            const double shade = 0.5 + 0.5 * std::sin(6.0 * fx + 4.0 * fy * fy);
            const int noise = int(random() % 13) - 6;
            const auto channel = [noise](double v) {
                const int c = int(v * 255.0) + noise;
                return std::uint8_t(c < 0 ? 0 : c > 255 ? 255 : c);
            };
            p[2] = channel(0.15 + 0.8 * fx * shade);
            p[1] = channel(0.1 + 0.6 * shade * (1.0 - fy * 0.5));
            p[0] = channel(0.25 + 0.7 * fy * (1.0 - 0.5 * shade));
        }
    }
}

// The photo, made once per process.
inline const TPixelGraphic& Photo()
{
    static const TPixelGraphic* photo = [] {
        auto* image = new TPixelGraphic;
        MakePhoto(*image);
        return image;
    }();
    return *photo;
}

}  // namespace rastova::bench
