#include "SimImage.h"

#include "CameraLibrary.h"

#include <algorithm>
#include <cmath>

namespace camlib {

namespace {

// Where the stars sit, as fractions of the visible area, and how bright and
// wide they are. Spread over the sensor and over three decades of brightness
// so that both faint detections and saturation show up at ordinary times.
struct StarPlacement
{
    double fx, fy, peakPerSecond, sigma;
};
constexpr StarPlacement Placements[] = {
    {0.50, 0.50, 20000.0, 2.2}, {0.25, 0.30, 3000.0, 1.6}, {0.62, 0.18, 12000.0, 2.0}, {0.80, 0.70, 800.0, 1.4},
    {0.40, 0.75, 6000.0, 1.8},  {0.12, 0.85, 1500.0, 1.5}, {0.90, 0.12, 400.0, 1.3},   {0.70, 0.45, 2500.0, 1.7},
};

quint64 splitmix64(quint64& state)
{
    quint64 z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Sum of four 16-bit uniforms: close enough to a unit normal deviate for read
// noise, and far cheaper than a logarithm per pixel.
constexpr double FourUniformsMean = 4 * 32767.5;
const float FourUniformsScale = float(1.0 / std::sqrt(4.0 * (65536.0 * 65536.0 - 1.0) / 12.0));

float normalDeviate(quint64 r)
{
    const quint64 sum = (r & 0xFFFF) + ((r >> 16) & 0xFFFF) + ((r >> 32) & 0xFFFF) + (r >> 48);
    return float(double(sum) - FourUniformsMean) * FourUniformsScale;
}

} // namespace

SimImage::SimImage(long visibleUlX, long visibleUlY, int visibleWidth, int visibleHeight)
{
    for (const StarPlacement& p : Placements) {
        // The odd fraction keeps centres off pixel boundaries, as real ones are.
        const Star star{visibleUlX + p.fx * visibleWidth + 0.37, visibleUlY + p.fy * visibleHeight + 0.61,
                        p.peakPerSecond, p.sigma};
        starList.push_back(star);

        const int radius = int(std::ceil(4.0 * star.sigma));
        Profile profile;
        profile.x0 = long(std::floor(star.x)) - radius;
        profile.y0 = long(std::floor(star.y)) - radius;
        profile.size = 2 * radius + 1;
        profile.values.resize(std::size_t(profile.size) * std::size_t(profile.size));
        for (int j = 0; j < profile.size; ++j) {
            for (int i = 0; i < profile.size; ++i) {
                const double dx = double(profile.x0 + i) + 0.5 - star.x;
                const double dy = double(profile.y0 + j) + 0.5 - star.y;
                const double r2 = (dx * dx + dy * dy) / (2.0 * star.sigma * star.sigma);
                profile.values[std::size_t(j) * std::size_t(profile.size) + std::size_t(i)] =
                    float(star.peakPerSecond * std::exp(-r2));
            }
        }
        profiles.push_back(std::move(profile));
    }
}

void SimImage::renderRow(const FrameParams& frame, int row, quint16* out, int width) const
{
    if (!out || width <= 0)
        return;
    const int columns = (row >= 0 && row < frame.height) ? std::clamp(frame.width, 0, width) : 0;
    std::fill(out + columns, out + width, BiasLevel);
    if (columns == 0)
        return;

    // Any flood bit in the frame type (the RBI pre-flash) fills the wells.
    if (frame.frameType & 2) {
        std::fill(out, out + columns, Saturation);
        return;
    }

    const int hbin = std::max(1, frame.hbin);
    const int vbin = std::max(1, frame.vbin);
    const double seconds = std::max(0L, frame.exposureMs) / 1000.0;
    // Binning sums the charge of the pixels; the bias and the read noise come
    // once per read pixel.
    const float level = float(BiasLevel + DarkPerSecond * seconds * hbin * vbin);
    const float noise = float(ReadNoise);

    thread_local std::vector<float> acc;
    acc.resize(std::size_t(columns));

    quint64 state = frame.seed;
    splitmix64(state);
    state ^= frame.frameNumber * 0xD1B54A32D192ED03ull;
    splitmix64(state);
    state ^= quint64(row) * 0x8CB92BA72F3D8DD7ull;
    for (int c = 0; c < columns; ++c)
        acc[std::size_t(c)] = level + noise * normalDeviate(splitmix64(state));

    if (frame.frameType == FrameNormal)
        addStars(frame, row, acc.data(), columns);

    for (int c = 0; c < columns; ++c) {
        const float v = acc[std::size_t(c)] + 0.5f;
        out[c] = v <= 0.0f ? 0 : v >= float(Saturation) ? Saturation : quint16(v);
    }
}

void SimImage::addStars(const FrameParams& frame, int row, float* acc, int columns) const
{
    const int hbin = std::max(1, frame.hbin);
    const int vbin = std::max(1, frame.vbin);
    const float seconds = float(std::max(0L, frame.exposureMs) / 1000.0);
    const long top = frame.ulY + long(row) * vbin;
    const long bottom = top + vbin; // exclusive
    const long left = frame.ulX;
    const long right = left + long(columns) * hbin; // exclusive

    for (const Profile& p : profiles) {
        const long y0 = std::max(top, p.y0);
        const long y1 = std::min(bottom, p.y0 + p.size);
        const long x0 = std::max(left, p.x0);
        const long x1 = std::min(right, p.x0 + p.size);
        for (long y = y0; y < y1; ++y) {
            const float* line = p.values.data() + std::size_t(y - p.y0) * std::size_t(p.size);
            for (long x = x0; x < x1; ++x)
                acc[(x - left) / hbin] += line[x - p.x0] * seconds;
        }
    }
}

} // namespace camlib
