// Normals the scene does not give, computed from its faces, and the count of faces left
// without one.
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "ase/scene.h"

namespace tessloom {

namespace {

bool isZero(const Normal& n) {
    return n.x == 0 && n.y == 0 && n.z == 0;
}

struct Vec {
    double x = 0, y = 0, z = 0;

    Vec& operator+=(const Vec& o) {
        x += o.x;
        y += o.y;
        z += o.z;
        return *this;
    }
};

// (B - A) x (C - A): along the normal of the winding A, B, C, as long as twice the face's
// area. In double, so that no float coordinate overflows it.
Vec winding(const Vertex& a, const Vertex& b, const Vertex& c) {
    const Vec u{double{b.x} - a.x, double{b.y} - a.y, double{b.z} - a.z};
    const Vec v{double{c.x} - a.x, double{c.y} - a.y, double{c.z} - a.z};
    return {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}

// n at unit length, or `fallback` when n has no direction (zero, or not finite). A zero
// component is +0, whatever the signs of the differences that made it.
Normal unit(const Vec& n, const Normal& fallback) {
    const double length = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
    if (!(length > 0) || !std::isfinite(length)) return fallback;
    return {static_cast<float>(n.x / length + 0.0), static_cast<float>(n.y / length + 0.0),
            static_cast<float>(n.z / length + 0.0)};
}

// The normal of a face without a direction of its own (no area, or a corner that is no
// vertex): up, the output's +y.
constexpr Normal kUp{0, 1, 0};

// Above this many different sets of smoothing groups at one vertex, its corners sum the faces
// group by group (a face in two shared groups then counts twice), so that the work stays
// linear in the faces around it.
constexpr std::size_t kMaxGroupSets = 64;

}  // namespace

void MeshConverter::fixNormals() {
    const std::size_t vertexCount = vertices.size();
    auto isValid = [&](const Face& f) {
        return inRange(f.a, vertexCount) && inRange(f.b, vertexCount) && inRange(f.c, vertexCount);
    };
    auto windingOf = [&](const Face& f) {
        return winding(vertices[static_cast<std::size_t>(f.a)],
                       vertices[static_cast<std::size_t>(f.b)],
                       vertices[static_cast<std::size_t>(f.c)]);
    };
    auto groupsOf = [&](std::size_t f) { return f < smoothing_.size() ? smoothing_[f] : 0u; };

    bool cornersMissing = false;
    for (Face& face : faces) {
        if (isZero(face.faceNormal)) {
            face.faceNormal = isValid(face) ? unit(windingOf(face), kUp) : kUp;
        }
        cornersMissing =
            cornersMissing || isZero(face.normalA) || isZero(face.normalB) || isZero(face.normalC);
    }
    if (!cornersMissing) return;

    // The faces around each vertex that are in at least one smoothing group, each once.
    Table<std::size_t> first(vertexCount + 1, 0);
    auto eachVertex = [&](const Face& f, auto&& act) {
        act(f.a);
        if (f.b != f.a) act(f.b);
        if (f.c != f.a && f.c != f.b) act(f.c);
    };
    for (std::size_t f = 0; f < faces.size(); ++f) {
        if (groupsOf(f) == 0 || !isValid(faces[f])) continue;
        eachVertex(faces[f], [&](std::int32_t v) { ++first[static_cast<std::size_t>(v) + 1]; });
    }
    for (std::size_t v = 0; v < vertexCount; ++v) first[v + 1] += first[v];
    Table<std::int32_t> around(first[vertexCount]);
    {
        Table<std::size_t> next(first.begin(), first.end() - 1);
        for (std::size_t f = 0; f < faces.size(); ++f) {
            if (groupsOf(f) == 0 || !isValid(faces[f])) continue;
            eachVertex(faces[f], [&](std::int32_t v) {
                around[next[static_cast<std::size_t>(v)]++] = static_cast<std::int32_t>(f);
            });
        }
    }

    // A corner without a normal: the sum of the windings, weighted by area, of the faces
    // around its vertex that share a group with its face (its own face included).
    std::vector<std::pair<std::uint32_t, Vec>> sets;
    Vec byGroup[32];
    for (std::size_t v = 0; v < vertexCount; ++v) {
        const auto begin = around.begin() + static_cast<std::ptrdiff_t>(first[v]);
        const auto end = around.begin() + static_cast<std::ptrdiff_t>(first[v + 1]);
        sets.clear();
        bool perGroup = false;
        for (auto it = begin; it != end; ++it) {
            const auto f = static_cast<std::size_t>(*it);
            const std::uint32_t groups = groupsOf(f);
            const Vec w = windingOf(faces[f]);
            if (!perGroup) {
                auto same = sets.begin();
                while (same != sets.end() && same->first != groups) ++same;
                if (same != sets.end()) {
                    same->second += w;
                    continue;
                }
                if (sets.size() < kMaxGroupSets) {
                    sets.emplace_back(groups, w);
                    continue;
                }
                // too many sets: from here on group by group, the sets so far included
                perGroup = true;
                for (Vec& g : byGroup) g = {};
                for (const auto& [setGroups, sum] : sets) {
                    for (int b = 0; b < 32; ++b) {
                        if ((setGroups >> b) & 1) byGroup[b] += sum;
                    }
                }
            }
            for (int b = 0; b < 32; ++b) {
                if ((groups >> b) & 1) byGroup[b] += w;
            }
        }
        for (auto it = begin; it != end; ++it) {
            Face& face = faces[static_cast<std::size_t>(*it)];
            const std::uint32_t groups = groupsOf(static_cast<std::size_t>(*it));
            for (auto [vertex, normal] :
                 {std::pair{face.a, &face.normalA}, std::pair{face.b, &face.normalB},
                  std::pair{face.c, &face.normalC}}) {
                if (static_cast<std::size_t>(vertex) != v || !isZero(*normal)) continue;
                Vec sum;
                if (perGroup) {
                    for (int b = 0; b < 32; ++b) {
                        if ((groups >> b) & 1) sum += byGroup[b];
                    }
                } else {
                    for (const auto& [setGroups, setSum] : sets) {
                        if (setGroups & groups) sum += setSum;
                    }
                }
                *normal = unit(sum, face.faceNormal);
            }
        }
    }
    // Flat faces, faces whose corners are not all vertices, and corners whose neighbours
    // cancel out take the face's normal.
    for (Face& face : faces) {
        for (Normal* n : {&face.normalA, &face.normalB, &face.normalC}) {
            if (isZero(*n)) *n = face.faceNormal;
        }
    }
}

void MeshConverter::countZeroNormals() {
    const std::size_t vertexCount = vertices.size();
    for (const Face& f : faces) {
        if (!inRange(f.a, vertexCount) || !inRange(f.b, vertexCount) ||
            !inRange(f.c, vertexCount)) {
            continue;
        }
        ++losses_.faces;
        if (isZero(f.faceNormal) || isZero(f.normalA) || isZero(f.normalB) || isZero(f.normalC)) {
            ++losses_.zeroNormalFaces;
        }
    }
    losses_.noNormals = losses_.zeroNormalFaces > 0 && !faceNormalsSeen_;
}

}  // namespace tessloom
