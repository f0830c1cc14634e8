// Distances on the earth as a sphere, knowing nothing of any town's projection.
#pragma once

#include <cmath>

// The great-circle distance in metres between two points given in degrees
// (haversine, on the mean radius).
inline double metres_between(double lat1, double lon1, double lat2, double lon2) {
    const double d = 3.14159265358979323846 / 180.0;
    const double a = std::pow(std::sin((lat2 - lat1) * d / 2), 2) +
                     std::cos(lat1 * d) * std::cos(lat2 * d) *
                         std::pow(std::sin((lon2 - lon1) * d / 2), 2);
    return 2 * 6371008.8 * std::asin(std::sqrt(a));
}
