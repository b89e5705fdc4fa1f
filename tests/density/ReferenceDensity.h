#pragma once
// A deliberately plain, single-threaded transcription of the estimate, one
// statement per rule, used to check the production code bit for bit.
#include <osg/Vec3f>

#include <algorithm>
#include <cmath>
#include <vector>

namespace reference {

struct Grid {
    double xMin, xMax, yMin, yMax, zMin, zMax;
    int xCount, yCount, zCount;
    double xStep, yStep, zStep;
    std::vector<double> values;

    Grid(double x0, double x1, int nx, double y0, double y1, int ny, double z0, double z1, int nz)
        : xMin(x0), xMax(x1), yMin(y0), yMax(y1), zMin(z0), zMax(z1), xCount(nx), yCount(ny), zCount(nz),
          xStep((x1 - x0) / (nx - 1)), yStep((y1 - y0) / (ny - 1)), zStep((z1 - z0) / (nz - 1)),
          values(static_cast<size_t>(nx) * ny * nz, 0.0)
    {
    }
    int Index(int ix, int iy, int iz) const { return ix + xCount * iy + xCount * yCount * iz; }

    double Sample(const osg::Vec3f& p) const
    {
        const double fx = (p.x() - xMin) / xStep, fy = (p.y() - yMin) / yStep, fz = (p.z() - zMin) / zStep;
        const int ix = static_cast<int>(fx), iy = static_cast<int>(fy), iz = static_cast<int>(fz);
        const double tx = fx - ix, ty = fy - iy, tz = fz - iz;
        auto v = [&](int a, int b, int c) { return values[Index(a, b, c)]; };
        const double c00 = v(ix, iy, iz) + tx * (v(ix + 1, iy, iz) - v(ix, iy, iz));
        const double c10 = v(ix, iy + 1, iz) + tx * (v(ix + 1, iy + 1, iz) - v(ix, iy + 1, iz));
        const double c0 = c00 + ty * (c10 - c00);
        const double c01 = v(ix, iy, iz + 1) + tx * (v(ix + 1, iy, iz + 1) - v(ix, iy, iz + 1));
        const double c11 = v(ix, iy + 1, iz + 1) + tx * (v(ix + 1, iy + 1, iz + 1) - v(ix, iy + 1, iz + 1));
        const double c1 = c01 + ty * (c11 - c01);
        return c0 + tz * (c1 - c0);
    }

    void Splat(const osg::Vec3f& h, const osg::Vec3f& p, bool normalise)
    {
        const double sx = (xMax - xMin) / (static_cast<double>(h.x()) * (xCount - 1));
        const double sy = (yMax - yMin) / (static_cast<double>(h.y()) * (yCount - 1));
        const double sz = (zMax - zMin) / (static_cast<double>(h.z()) * (zCount - 1));
        const double N = normalise ? static_cast<double>(h.x()) * h.y() * h.z() : 1.0;
        int start[3];
        double offset[3];
        const double mins[3] = {xMin, yMin, zMin}, s[3] = {sx, sy, sz};
        for (int a = 0; a < 3; ++a) {
            const double u0 = (mins[a] - p[a]) / h[a];
            if (u0 < -1) {
                start[a] = static_cast<int>((std::fabs(u0) - 1) / s[a]);
                offset[a] = u0 + start[a] * s[a];
            } else {
                start[a] = 0;
                offset[a] = u0;
            }
        }
        double uz = offset[2];
        for (int iz = start[2]; iz < zCount && uz <= 1; ++iz, uz += sz) {
            double uy = offset[1];
            for (int iy = start[1]; iy < yCount && uy <= 1; ++iy, uy += sy) {
                int ix = start[0];
                double ux = offset[0];
                double Q = ux * ux + uy * uy + uz * uz;
                double P = ux * sx;
                if (P < 0) {
                    while (Q > 1) {
                        ++ix;
                        Q = Q + 2 * P + sx * sx;
                        P = P + sx * sx;
                        if (P >= 0) break;
                    }
                }
                while (ix < xCount && Q <= 1) {
                    values[Index(ix, iy, iz)] += (1 - Q) / N;
                    ++ix;
                    Q = Q + 2 * P + sx * sx;
                    P = P + sx * sx;
                }
            }
        }
    }

    void Scale(double f)
    {
        for (double& v : values) v *= f;
    }

    void ComputeDensity(const std::vector<osg::Vec3f>& pos)
    {
        const size_t n = pos.size();
        const size_t hi = static_cast<size_t>(std::ceil(0.8 * n)), lo = static_cast<size_t>(std::ceil(0.2 * n));
        const double L = std::log(static_cast<double>(n));
        float h[3];
        for (int a = 0; a < 3; ++a) {
            std::vector<double> c(n);
            for (size_t i = 0; i < n; ++i) c[i] = pos[i][a];
            std::sort(c.begin(), c.end());
            h[a] = static_cast<float>(std::fabs(c[hi] - c[lo]) * 2 / L);
        }
        const osg::Vec3f bw(h[0], h[1], h[2]);
        for (const osg::Vec3f& p : pos) Splat(bw, p, false);
        Scale(0.5968310365946075 / (static_cast<double>(n) * h[0] * h[1] * h[2]));
        std::vector<double> d(n);
        double sum = 0;
        for (size_t i = 0; i < n; ++i) {
            d[i] = Sample(pos[i]);
            sum += d[i];
        }
        std::fill(values.begin(), values.end(), 0.0);
        const double mean = sum / n;
        const double steps[3] = {xStep, yStep, zStep};
        for (size_t i = 0; i < n; ++i) {
            const double lambda = std::sqrt(d[i] / mean);
            osg::Vec3f local;
            for (int a = 0; a < 3; ++a) {
                float b = static_cast<float>(h[a] / lambda);
                if (b > 10 * steps[a]) b = static_cast<float>(10 * steps[a]);
                local[a] = b;
            }
            Splat(local, pos[i], true);
        }
        Scale(0.5968310365946075 / n);
    }
};

}  // namespace reference
