#include "geomlib/g_vector.h"

#include <algorithm>
#include <cmath>

double g_vector::length() const { return std::sqrt(x * x + y * y + z * z); }

double g_vector::dot(const g_vector& b) const { return x * b.x + y * b.y + z * b.z; }

double g_vector::angle(const g_vector& b) const {
    const double cosine = dot(b) / (length() * b.length());
    if (std::isnan(cosine)) return cosine;
    return std::acos(std::clamp(cosine, -1.0, 1.0));
}

g_vector& g_vector::operator*=(double factor) {
    x *= factor;
    y *= factor;
    z *= factor;
    return *this;
}

g_vector& g_vector::operator+=(const g_vector& b) {
    x += b.x;
    y += b.y;
    z += b.z;
    return *this;
}

g_vector& g_vector::operator-=(const g_vector& b) {
    x -= b.x;
    y -= b.y;
    z -= b.z;
    return *this;
}

g_vector g_vector::operator+(const g_vector& b) const { return g_vector(x + b.x, y + b.y, z + b.z); }

g_vector g_vector::operator-(const g_vector& b) const { return g_vector(x - b.x, y - b.y, z - b.z); }
