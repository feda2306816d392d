#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A set of timings in nanoseconds and their percentiles (nearest rank).
class Latencies
{
public:
    void reserve(std::size_t n) { samples.reserve(n); }
    void add(std::int64_t ns);
    std::size_t count() const { return samples.size(); }
    void clear();
    void merge(const Latencies& other);

    // The smallest sample with at least p per cent of the samples at or
    // below it; 0 when there are none.
    std::int64_t percentile(double p) const;
    std::int64_t median() const { return percentile(50.0); }
    std::int64_t max() const { return percentile(100.0); }
    double mean() const;

    // Median of a handful of repeated measurements.
    static double median(std::vector<double> values);

private:
    mutable std::vector<std::int64_t> samples;
    mutable bool sorted = true;
};
