#pragma once

// A point or direction in space.
class g_vector {
public:
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    g_vector() = default;
    g_vector(double ax, double ay, double az) : x(ax), y(ay), z(az) {}

    double length() const;
    double dot(const g_vector& b) const;
    // Angle to b in radians, 0 to pi. A zero-length vector gives NaN.
    double angle(const g_vector& b) const;

    g_vector& operator*=(double factor);
    g_vector& operator+=(const g_vector& b);
    g_vector& operator-=(const g_vector& b);
    g_vector operator+(const g_vector& b) const;
    g_vector operator-(const g_vector& b) const;
};
