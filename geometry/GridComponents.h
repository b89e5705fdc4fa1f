#pragma once
// GridComponents: connected parts of a grid's nodes, for the techniques that
// keep one structure. A part is a largest set of nodes where a test holds,
// joined through the six face neighbours (steps of one node along one axis):
// the marching-cubes edges join exactly those, so the surface a part gets
// from its own values closes around it alone, and two parts that only touch
// along a cell's diagonal stay two.
//
// In: the grid's node counts (x fastest, then y, then z, as ScalarField3D
// numbers them), seeds and the test. Out: one label per node (−1 for none)
// and the nodes of each part in the order they were reached. Cost: one
// int32 per node, and each node of a grown part is visited once with its
// six neighbours tested.
#include <cstddef>
#include <cstdint>
#include <vector>

class GridComponents {
public:
    GridComponents(int32_t xCount, int32_t yCount, int32_t zCount)
        : xCount(xCount), yCount(yCount), zCount(zCount),
          labels(static_cast<size_t>(xCount) * static_cast<size_t>(yCount) * static_cast<size_t>(zCount), -1),
          starts(1, 0)
    {
    }

    // Grows the part holding node seed where inside(node) holds and returns
    // its label (0, 1, ... in order of growth); −1 when the seed fails the
    // test, and the seed's label when it already belongs to a part.
    template <class Inside>
    int32_t Grow(int32_t seed, Inside inside)
    {
        const size_t s = static_cast<size_t>(seed);
        if (labels[s] >= 0) return labels[s];
        if (!inside(seed)) return -1;
        const int32_t label = Count();
        size_t next = nodes.size();
        labels[s] = label;
        nodes.push_back(seed);
        auto visit = [&](int32_t n) {
            if (labels[static_cast<size_t>(n)] < 0 && inside(n)) {
                labels[static_cast<size_t>(n)] = label;
                nodes.push_back(n);
            }
        };
        while (next < nodes.size()) FaceNeighbours(nodes[next++], visit);
        starts.push_back(static_cast<int32_t>(nodes.size()));
        return label;
    }

    // For every node where inside holds and that a part reaches through such
    // nodes: the label of the part nearest in face steps (ties to the part
    // reached first, parts in label order); −1 for every other node. The
    // parts' own nodes get their own label.
    template <class Inside>
    std::vector<int32_t> Claim(Inside inside) const
    {
        std::vector<int32_t> owner(labels);
        std::vector<int32_t> queue(nodes);
        for (size_t next = 0; next < queue.size(); ++next) {
            const int32_t n = queue[next], label = owner[static_cast<size_t>(n)];
            FaceNeighbours(n, [&](int32_t m) {
                if (owner[static_cast<size_t>(m)] < 0 && inside(m)) {
                    owner[static_cast<size_t>(m)] = label;
                    queue.push_back(m);
                }
            });
        }
        return owner;
    }

    int32_t Count() const { return static_cast<int32_t>(starts.size()) - 1; }

    // Calls visit(m) for each of node n's face neighbours inside the grid.
    template <class Visit>
    void FaceNeighbours(int32_t n, Visit&& visit) const
    {
        FaceNeighboursIn(xCount, yCount, zCount, n, visit);
    }
    // The same on any grid of these node counts, always in the order −x, +x, −y, +y, −z, +z.
    template <class Visit>
    static void FaceNeighboursIn(int32_t xCount, int32_t yCount, int32_t zCount, int32_t n, Visit&& visit)
    {
        const int32_t slice = xCount * yCount;
        const int32_t ix = n % xCount, iy = (n / xCount) % yCount, iz = n / slice;
        if (ix > 0) visit(n - 1);
        if (ix + 1 < xCount) visit(n + 1);
        if (iy > 0) visit(n - xCount);
        if (iy + 1 < yCount) visit(n + xCount);
        if (iz > 0) visit(n - slice);
        if (iz + 1 < zCount) visit(n + slice);
    }
    int32_t LabelOf(int32_t node) const { return labels[static_cast<size_t>(node)]; }
    // The nodes of part label: [First(label), Last(label)).
    const int32_t* First(int32_t label) const { return nodes.data() + starts[static_cast<size_t>(label)]; }
    const int32_t* Last(int32_t label) const { return nodes.data() + starts[static_cast<size_t>(label) + 1]; }

private:
    int32_t xCount, yCount, zCount;
    std::vector<int32_t> labels;
    std::vector<int32_t> nodes;   // every part's nodes, part after part
    std::vector<int32_t> starts;  // where each part begins in nodes, and the end
};
