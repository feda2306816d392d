#include "Latencies.h"

#include <algorithm>
#include <cmath>

void Latencies::add(std::int64_t ns)
{
    if (!samples.empty() && ns < samples.back())
        sorted = false;
    samples.push_back(ns);
}

void Latencies::clear()
{
    samples.clear();
    sorted = true;
}

std::int64_t Latencies::percentile(double p) const
{
    if (samples.empty())
        return 0;
    if (!sorted) {
        std::sort(samples.begin(), samples.end());
        sorted = true;
    }
    const double rank = std::ceil(std::clamp(p, 0.0, 100.0) / 100.0 * double(samples.size()));
    const std::size_t index = rank < 1.0 ? 0 : std::size_t(rank) - 1;
    return samples[std::min(index, samples.size() - 1)];
}

double Latencies::mean() const
{
    if (samples.empty())
        return 0.0;
    double sum = 0.0;
    for (std::int64_t s : samples)
        sum += double(s);
    return sum / double(samples.size());
}

double Latencies::median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

void Latencies::merge(const Latencies& other)
{
    samples.insert(samples.end(), other.samples.begin(), other.samples.end());
    sorted = false;
}
