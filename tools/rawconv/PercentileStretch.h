#pragma once

#include <cstdint>
#include <vector>

namespace rawconv {

// Linear stretch of 16-bit pixels onto 8 bits between two levels taken from
// the image itself: a CCD frame uses a few hundred counts of the 65536, and
// shown as it is it looks black.
class PercentileStretch
{
public:
    PercentileStretch(std::uint16_t low, std::uint16_t high);

    // The levels at lowPercent and highPercent of the pixels sorted by value:
    // the value at rank round(percent / 100 * (n - 1)), so 0 is the minimum,
    // 100 the maximum and 50 the median of an odd count.
    static PercentileStretch fromPixels(const std::vector<std::uint16_t>& pixels, double lowPercent,
                                        double highPercent);

    std::uint16_t low() const { return low_; }
    std::uint16_t high() const { return high_; }

    // low and below give 0, high and above 255, linear in between, rounded.
    // Without a range (a flat image, or one saturated all over) the full
    // 16-bit scale is used instead, so such a frame shows its true level:
    // white when saturated, black when empty.
    std::uint8_t apply(std::uint16_t value) const;

private:
    std::uint16_t low_;
    std::uint16_t high_;
};

} // namespace rawconv
