#pragma once
// Point3d: the framework's point of three doubles. Window centres, sizes and
// positions handed to the builder travel as these.
struct Point3d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Point3d() = default;
    Point3d(double px, double py, double pz) : x(px), y(py), z(pz) {}

    bool operator==(const Point3d& o) const { return x == o.x && y == o.y && z == o.z; }
    bool operator!=(const Point3d& o) const { return !(*this == o); }
};
