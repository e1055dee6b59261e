// What tessloom-inspect checks in a mesh file, gathered in one streaming pass.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "meshfile/reader.h"

namespace tessloom::inspect {

enum class Outcome { kPassed, kWarning, kFailed };

struct Check {
    std::string name;
    Outcome outcome = Outcome::kPassed;
    std::uint64_t offenders = 0;  // records that break it
    std::string first;            // the first offender, or what was checked
};

// Collects the material entries (few), the checks and one bit a texture vertex (whether it
// is at (0, 0), which the faces after it ask); every other record only passes by.
class Checker : public meshfile::MeshVisitor {
  public:
    explicit Checker(const meshfile::Sections& sections);

    void material(std::size_t i, const meshfile::MaterialEntry& m) override;
    void vertex(std::size_t i, const meshfile::Position& v) override;
    void texVertex(std::size_t i, const meshfile::TexCoord& t) override;
    void face(std::size_t i, const meshfile::FaceRecord& f) override;
    void bounds(const meshfile::Bounds& b) override;

    // The checks in a fixed order, once every record has been seen.
    std::vector<Check> results() const;

    const std::vector<meshfile::MaterialEntry>& materials() const { return materials_; }
    const meshfile::Bounds& storedBounds() const { return stored_; }

  private:
    static Check named(const char* name) {
        Check c;
        c.name = name;
        return c;
    }
    static void fail(Check& check, const std::string& what);
    // The entry whose texture corners a face's material index counts toward; -1 for none.
    std::int64_t entryOf(std::int32_t material) const;

    meshfile::Sections sections_;
    std::vector<meshfile::MaterialEntry> materials_;
    meshfile::Bounds computed_, stored_;
    std::int32_t firstMaterial_ = 0;
    Check vertexIndices_ = named("vertex indices"), texIndices_ = named("texture indices"),
          faceMaterials_ = named("face materials"),
          negativeMaterials_ = named("negative material indices"), bounds_ = named("bounds"),
          finite_ = named("finite values"), degenerate_ = named("degenerate faces"),
          normals_ = named("normals");
    // One bit a texture vertex: whether it is (+-0, +-0); and for each material entry (or
    // for the mesh, without entries) whether faces use it and whether all of them have
    // every texture corner there.
    std::vector<bool> zeroTexVertex_;
    struct TexUse {
        std::uint64_t faces = 0;
        bool allZero = true;
    };
    std::vector<TexUse> texUse_;
};

}  // namespace tessloom::inspect
