// The checks of a mesh file: indices, face materials, bounds, and values worth a warning.
#include "inspect/checks.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <initializer_list>

#include "output/output.h"

namespace tessloom::inspect {

namespace {

bool finite(std::initializer_list<float> values) {
    for (const float v : values) {
        if (!std::isfinite(v)) return false;
    }
    return true;
}

bool isZero(const meshfile::Position& n) {
    return n.x == 0 && n.y == 0 && n.z == 0;
}

bool sameBits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

}  // namespace

Checker::Checker(const meshfile::Sections& sections) : sections_(sections) {
    if (sections_.numTVertex == 0) {
        // a scene without texture vertices leaves index 0 in every face, pointing nowhere
        texIndices_.first = "no texture vertices: indices not used";
    }
}

void Checker::fail(Check& check, const std::string& what) {
    if (check.offenders++ == 0) check.first = what;
}

void Checker::material(std::size_t i, const meshfile::MaterialEntry& m) {
    materials_.push_back(m);
    if (!finite({m.ambient[0], m.ambient[1], m.ambient[2], m.diffuse[0], m.diffuse[1], m.diffuse[2],
                 m.specular[0], m.specular[1], m.specular[2], m.shine, m.uTiling, m.vTiling,
                 m.uOffset, m.vOffset})) {
        fail(finite_, "material entry " + std::to_string(i));
    }
}

void Checker::vertex(std::size_t i, const meshfile::Position& v) {
    meshfile::extendBounds(computed_, v);
    if (!finite({v.x, v.y, v.z})) fail(finite_, "vertex " + std::to_string(i));
}

void Checker::texVertex(std::size_t i, const meshfile::TexCoord& t) {
    if (!finite({t.u, t.v})) fail(finite_, "texture vertex " + std::to_string(i));
    zeroTexVertex_.push_back(t.u == 0 && t.v == 0);
}

std::int64_t Checker::entryOf(std::int32_t material) const {
    // one entry serves every face; with several the index picks one, out of range none
    if (materials_.size() <= 1) return 0;
    return material >= 0 && static_cast<std::size_t>(material) < materials_.size() ? material : -1;
}

void Checker::face(std::size_t i, const meshfile::FaceRecord& f) {
    const std::string face = "face " + std::to_string(i);
    const char* corners = "abc";
    const std::int32_t vertices[] = {f.a, f.b, f.c};
    const std::int32_t texVertices[] = {f.ta, f.tb, f.tc};
    bool cornersAreVertices = true;
    for (int k = 0; k < 3; ++k) {
        if (vertices[k] < 0 || vertices[k] >= sections_.numVertex) {
            fail(vertexIndices_,
                 face + " corner " + corners[k] + " = " + std::to_string(vertices[k]));
            cornersAreVertices = false;
            break;
        }
    }
    // a texture corner naming no texture vertex does not count as one at (0, 0)
    bool texCornersZero = true;
    for (int k = 0; k < 3 && sections_.numTVertex > 0; ++k) {
        const std::int32_t t = texVertices[k];
        if (t < 0 || t >= sections_.numTVertex) {
            fail(texIndices_, face + " corner " + corners[k] + " = " + std::to_string(t));
            texCornersZero = false;
            break;
        }
        texCornersZero = texCornersZero && static_cast<std::size_t>(t) < zeroTexVertex_.size() &&
                         zeroTexVertex_[static_cast<std::size_t>(t)];
    }
    if (texUse_.empty()) texUse_.resize(std::max<std::size_t>(materials_.size(), 1));
    if (const std::int64_t entry = entryOf(f.material); entry >= 0) {
        TexUse& use = texUse_[static_cast<std::size_t>(entry)];
        ++use.faces;
        use.allZero = use.allZero && texCornersZero;
    }
    if (cornersAreVertices) {
        const meshfile::Position* normals[] = {&f.normalA, &f.normalB, &f.normalC};
        if (isZero(f.faceNormal)) {
            fail(normals_, face + " face normal");
        } else {
            for (int k = 0; k < 3; ++k) {
                if (isZero(*normals[k])) {
                    fail(normals_, face + " corner " + corners[k] + " normal");
                    break;
                }
            }
        }
    }
    if (f.a == f.b || f.b == f.c || f.a == f.c) fail(degenerate_, face);

    // -1 without materials; one and the same index with one entry; within (-n, n) with n
    const std::int32_t n = sections_.materialEntries;
    const std::string index = face + " material " + std::to_string(f.material);
    if (sections_.layout == meshfile::Layout::kWithoutMaterials) {
        if (f.material != -1) fail(faceMaterials_, index + ", expected -1");
    } else if (n == 1) {
        if (i == 0) firstMaterial_ = f.material;
        if (f.material != firstMaterial_) {
            fail(faceMaterials_, index + ", face 0 has " + std::to_string(firstMaterial_));
        }
    } else if (f.material <= -n || f.material >= n) {
        fail(faceMaterials_, index + " of " + std::to_string(n) + " entries");
    } else if (f.material < 0) {
        fail(negativeMaterials_, index);
    }
    if (!finite({f.faceNormal.x, f.faceNormal.y, f.faceNormal.z, f.normalA.x, f.normalA.y,
                 f.normalA.z, f.normalB.x, f.normalB.y, f.normalB.z, f.normalC.x, f.normalC.y,
                 f.normalC.z})) {
        fail(finite_, face + " normals");
    }
}

void Checker::bounds(const meshfile::Bounds& b) {
    stored_ = b;
    const float stored[] = {b.radius, b.minX, b.maxX, b.minY, b.maxY, b.minZ, b.maxZ};
    const float computed[] = {computed_.radius, computed_.minX, computed_.maxX, computed_.minY,
                              computed_.maxY,   computed_.minZ, computed_.maxZ};
    static const char* const kNames[] = {"radius", "min x", "max x", "min y",
                                         "max y",  "min z", "max z"};
    for (int k = 0; k < 7; ++k) {
        if (!sameBits(stored[k], computed[k])) {
            fail(bounds_, std::string(kNames[k]) + " stored " + std::to_string(stored[k]) +
                              ", the vertices give " + std::to_string(computed[k]));
        }
    }
    if (!finite({b.radius, b.minX, b.maxX, b.minY, b.maxY, b.minZ, b.maxZ}))
        fail(finite_, "the bounds");
}

std::vector<Check> Checker::results() const {
    std::vector<Check> checks;
    Check sizes = named("sizes");
    sizes.first =
        std::string("every section accounted for, ") + meshfile::layoutName(sections_.layout);
    checks.push_back(sizes);
    // a check with offenders fails (or warns); one without says what held
    auto settle = [&](Check c, Outcome offended, const std::string& held) {
        if (c.offenders) c.outcome = offended;
        if (c.first.empty()) c.first = held;
        checks.push_back(c);
    };
    const std::string faces =
        " of " + output::counted(static_cast<std::uint64_t>(sections_.numFaces), "face", "faces");
    settle(vertexIndices_, Outcome::kFailed, "all corners" + faces);
    settle(texIndices_, Outcome::kFailed, "all corners" + faces);
    settle(faceMaterials_, Outcome::kFailed, "all indices" + faces);
    settle(bounds_, Outcome::kFailed, "equal to what the vertices give, bit for bit");
    for (const Check& c : {negativeMaterials_, finite_, degenerate_, normals_})
        settle(c, Outcome::kWarning, "none");
    // an entry (or the mesh, without entries) that faces use, all of them with every
    // texture corner at (0, 0): its texture shows one texel
    Check texCoords = named("texture coordinates");
    if (sections_.numTVertex > 0) {
        for (std::size_t e = 0; e < texUse_.size(); ++e) {
            if (texUse_[e].faces == 0 || !texUse_[e].allZero) continue;
            const std::uint64_t n = texUse_[e].faces;
            fail(texCoords, (materials_.empty() ? std::string("the mesh")
                                                : "material entry " + std::to_string(e)) +
                                ", " + std::to_string(n) + (n == 1 ? " face" : " faces") +
                                " all at (0, 0)");
        }
    }
    settle(texCoords, Outcome::kWarning,
           sections_.numTVertex > 0 ? "none" : "no texture vertices: nothing to check");
    return checks;
}

}  // namespace tessloom::inspect
