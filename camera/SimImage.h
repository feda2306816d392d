#pragma once

#include <QtGlobal>
#include <vector>

namespace camlib {

// The picture the camera simulator reads out: bias, dark current, read noise
// and a handful of stars at fixed places on the sensor, so a frame looks like
// a frame of the sky. Rendering is a pure function of the frame parameters
// and the row, so any row can be checked on its own and equal settings give
// equal images. Kept cheap per pixel (one 64-bit random number, no
// transcendental functions) for 4096 x 4096 frames.
class SimImage
{
public:
    // One exposure as the camera latched it when it started.
    struct FrameParams
    {
        // First pixel, in unbinned sensor coordinates.
        long ulX = 0;
        long ulY = 0;
        // Size of the image in binned pixels.
        int width = 0;
        int height = 0;
        int hbin = 1;
        int vbin = 1;
        long frameType = 0;
        long exposureMs = 0;
        quint64 seed = 1;
        // Distinguishes the noise of successive frames.
        quint64 frameNumber = 0;
    };

    struct Star
    {
        double x; // centre, sensor coordinates
        double y;
        double peakPerSecond; // ADU per second in the brightest unbinned pixel
        double sigma;         // pixels
    };

    static constexpr quint16 BiasLevel = 1000;
    static constexpr double ReadNoise = 8.0;     // ADU rms per read pixel
    static constexpr double DarkPerSecond = 2.0; // ADU per second per unbinned pixel
    static constexpr quint16 Saturation = 65535;

    // The stars are placed over the visible area that starts at
    // (visibleUlX, visibleUlY) and has the given size.
    SimImage(long visibleUlX, long visibleUlY, int visibleWidth, int visibleHeight);

    // Writes exactly `width` pixels of image row `row` (0 = first) to `out`.
    // Pixels beyond the frame's width, and whole rows outside its height,
    // are bias.
    void renderRow(const FrameParams& frame, int row, quint16* out, int width) const;

    const std::vector<Star>& stars() const { return starList; }

private:
    // A star's light per second over a square of sensor pixels around it,
    // worked out once so that rendering only adds numbers.
    struct Profile
    {
        long x0;
        long y0;
        int size;
        std::vector<float> values; // size * size, row by row
    };

    void addStars(const FrameParams& frame, int row, float* acc, int columns) const;

    std::vector<Star> starList;
    std::vector<Profile> profiles;
};

} // namespace camlib
