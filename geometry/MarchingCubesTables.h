#pragma once
// The marching-cubes case tables, indexed by the case (bit c set when corner c
// is below the level).
//
// Corner c of a cell sits at offset (ox, oy, oz): 0 (0,0,0) 1 (1,0,0) 2 (1,1,0)
// 3 (0,1,0) 4 (0,0,1) 5 (1,0,1) 6 (1,1,1) 7 (0,1,1). Edge e runs between the
// corners kEdgeCorners[e][0] → kEdgeCorners[e][1]; vertices are interpolated in
// that direction.
//
// kEdgeTable and kTriangleTable are generated from the published text form by
// tools/gen_marching_cubes_tables.py, which also checks that each mask holds
// exactly the edges whose corners differ and that triangles use only those.

// 12-bit mask of the edges cut in each case.
extern const int kEdgeTable[256];
// Up to five triangles per case as edge numbers, ended by −1.
extern const int kTriangleTable[256][16];
// Number of triangles in each row of kTriangleTable.
extern const int kTriangleCount[256];

constexpr int kEdgeCorners[12][2] = {
    {0, 1}, {1, 2}, {3, 2}, {3, 0}, {4, 5}, {5, 6}, {6, 7}, {7, 4},
    {0, 4}, {1, 5}, {2, 6}, {3, 7},
};

constexpr int CornerOffsetX(int c) { return (c & 1) ^ ((c >> 1) & 1); }
constexpr int CornerOffsetY(int c) { return (c >> 1) & 1; }
constexpr int CornerOffsetZ(int c) { return (c >> 2) & 1; }
