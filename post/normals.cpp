// Normals the scene does not give, computed from its faces, and the count of faces left
// without one.
#include <algorithm>
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

    // A face without a normal takes that of its winding.
    auto fixFace = [&](Face& face, const Vec* w) {
        if (!isZero(face.faceNormal)) return;
        face.faceNormal = !isValid(face) ? kUp : unit(w ? *w : windingOf(face), kUp);
    };
    const bool cornersMissing = std::any_of(faces.begin(), faces.end(), [](const Face& f) {
        return isZero(f.normalA) || isZero(f.normalB) || isZero(f.normalC);
    });
    if (!cornersMissing) {
        for (Face& face : faces) fixFace(face, nullptr);
        return;
    }

    // A corner without a normal takes the sum of the windings, weighted by area, of the faces
    // around its vertex that share a group with its face (its own face included). Most
    // vertices have faces of one set of groups only: their sum is made in one pass over the
    // faces. Vertices whose faces have different sets are mixed, and summed face by face.
    struct Around {
        std::uint32_t groups = 0;  // the set of groups of the faces around, while they agree
        bool mixed = false;
        Vec sum;
        Normal normal;  // the sum at unit length
    };
    auto eachVertex = [](const Face& f, auto&& act) {
        act(f.a);
        if (f.b != f.a) act(f.b);
        if (f.c != f.a && f.c != f.b) act(f.c);
    };
    auto smoothed = [&](std::size_t f) { return groupsOf(f) != 0 && isValid(faces[f]); };
    Table<Around> around(vertexCount);
    bool anyMixed = false;
    for (std::size_t f = 0; f < faces.size(); ++f) {
        if (!smoothed(f)) {
            fixFace(faces[f], nullptr);
            continue;
        }
        const std::uint32_t groups = groupsOf(f);
        const Vec w = windingOf(faces[f]);
        fixFace(faces[f], &w);
        eachVertex(faces[f], [&](std::int32_t v) {
            Around& a = around[static_cast<std::size_t>(v)];
            if (a.groups == 0) {
                a.groups = groups;
                a.sum = w;
            } else if (a.groups == groups) {
                a.sum += w;
            } else {
                a.mixed = anyMixed = true;
            }
        });
    }
    // each vertex's sum at unit length once, for all its corners (zero: no direction)
    for (Around& a : around) {
        if (a.groups != 0 && !a.mixed) a.normal = unit(a.sum, Normal{});
    }
    for (std::size_t f = 0; f < faces.size(); ++f) {
        if (!smoothed(f)) continue;
        Face& face = faces[f];
        for (auto [vertex, normal] :
             {std::pair{face.a, &face.normalA}, std::pair{face.b, &face.normalB},
              std::pair{face.c, &face.normalC}}) {
            const Around& a = around[static_cast<std::size_t>(vertex)];
            if (a.mixed || !isZero(*normal)) continue;
            *normal = isZero(a.normal) ? face.faceNormal : a.normal;
        }
    }
    if (anyMixed) {
        // the faces around each mixed vertex, each once
        Table<std::size_t> first(vertexCount + 1, 0);
        auto eachMixed = [&](auto&& act) {
            for (std::size_t f = 0; f < faces.size(); ++f) {
                if (!smoothed(f)) continue;
                eachVertex(faces[f], [&](std::int32_t v) {
                    if (around[static_cast<std::size_t>(v)].mixed)
                        act(f, static_cast<std::size_t>(v));
                });
            }
        };
        eachMixed([&](std::size_t, std::size_t v) { ++first[v + 1]; });
        for (std::size_t v = 0; v < vertexCount; ++v) first[v + 1] += first[v];
        Table<std::int32_t> faceList(first[vertexCount]);
        {
            Table<std::size_t> next(first.begin(), first.end() - 1);
            eachMixed([&](std::size_t f, std::size_t v) {
                faceList[next[v]++] = static_cast<std::int32_t>(f);
            });
        }
        std::vector<std::pair<std::uint32_t, Vec>> sets;
        Vec byGroup[32];
        for (std::size_t v = 0; v < vertexCount; ++v) {
            if (first[v] == first[v + 1]) continue;
            const auto begin = faceList.begin() + static_cast<std::ptrdiff_t>(first[v]);
            const auto end = faceList.begin() + static_cast<std::ptrdiff_t>(first[v + 1]);
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
