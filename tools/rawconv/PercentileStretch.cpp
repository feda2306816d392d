#include "PercentileStretch.h"

#include <algorithm>
#include <cmath>

namespace rawconv {

PercentileStretch::PercentileStretch(std::uint16_t low, std::uint16_t high) : low_(low), high_(high) {}

PercentileStretch PercentileStretch::fromPixels(const std::vector<std::uint16_t>& pixels, double lowPercent,
                                                double highPercent)
{
    if (pixels.empty())
        return PercentileStretch(0, 65535);

    // A histogram gives exact percentiles in one pass, without sorting a copy.
    std::vector<std::size_t> histogram(65536, 0);
    for (std::uint16_t p : pixels)
        ++histogram[p];

    const double last = double(pixels.size() - 1);
    auto valueAt = [&](double percent) {
        const double clamped = std::min(100.0, std::max(0.0, percent));
        const std::size_t rank = std::size_t(std::llround(clamped / 100.0 * last));
        std::size_t seen = 0;
        for (std::size_t v = 0; v < histogram.size(); ++v) {
            seen += histogram[v];
            if (seen > rank)
                return std::uint16_t(v);
        }
        return std::uint16_t(65535);
    };
    return PercentileStretch(valueAt(lowPercent), valueAt(highPercent));
}

std::uint8_t PercentileStretch::apply(std::uint16_t value) const
{
    if (high_ <= low_)
        return std::uint8_t((std::uint32_t(value) * 255 + 32767) / 65535);
    if (value <= low_)
        return 0;
    if (value >= high_)
        return 255;
    const std::uint32_t range = std::uint32_t(high_ - low_);
    return std::uint8_t((std::uint32_t(value - low_) * 255 + range / 2) / range);
}

} // namespace rawconv
