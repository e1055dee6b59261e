// glTF export: corners become vertices, faces become one primitive per material index.
#include "inspect/gltf.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <ostream>
#include <utility>
#include <vector>

#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

#include <nlohmann/json.hpp>

namespace tessloom::inspect {

namespace {

using meshfile::Position;

// One glTF vertex: a mesh vertex with one texture vertex and one normal.
struct Corner {
    std::int32_t vertex, texVertex;
    std::uint32_t nx, ny, nz;  // the normalised normal's bits
    bool operator==(const Corner&) const = default;
};

// Numbers distinct corners in the order they are first seen. Open addressing in a table kept
// at least twice as large as the corners in it keeps probes short and memory in two flat
// arrays, grown with the corners; corners from flat normals computed per face are nearly all
// distinct.
class CornerIndex {
  public:
    // The corner's number, and whether it was new.
    std::pair<std::uint32_t, bool> add(const Corner& c) {
        if (2 * (corners_.size() + 1) > slots_.size()) grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash(c) & mask;; i = (i + 1) & mask) {
            if (slots_[i] == 0) {
                corners_.push_back(c);
                slots_[i] = static_cast<std::uint32_t>(corners_.size());  // its number + 1
                return {slots_[i] - 1, true};
            }
            if (corners_[slots_[i] - 1] == c) return {slots_[i] - 1, false};
        }
    }
    std::size_t size() const { return corners_.size(); }

  private:
    // every field through a full 64-bit mix, so that the slot's low bits depend on all of them
    static std::uint64_t mix(std::uint64_t x) {
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
        return x ^ (x >> 31);
    }
    static std::size_t hash(const Corner& c) {
        const std::uint64_t indices = std::uint64_t{static_cast<std::uint32_t>(c.vertex)} << 32 |
                                      static_cast<std::uint32_t>(c.texVertex);
        return static_cast<std::size_t>(
            mix(indices ^ mix(std::uint64_t{c.nx} << 32 | c.ny) ^ mix(c.nz)));
    }

    // Twice the slots, every corner in its place again.
    void grow() {
        slots_.assign(std::max<std::size_t>(1024, 2 * slots_.size()), 0);
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t n = 0; n < corners_.size(); ++n) {
            std::size_t i = hash(corners_[n]) & mask;
            while (slots_[i] != 0) i = (i + 1) & mask;
            slots_[i] = static_cast<std::uint32_t>(n + 1);
        }
    }

    std::vector<std::uint32_t> slots_;  // 0 empty, else a corner's number + 1
    std::vector<Corner> corners_;
};

// The unit vector along (x, y, z), or nothing for a zero, infinite or not-a-number one. In
// double, whose range holds the squares of any float, so a tiny or huge one keeps its way.
std::optional<Position> unit(double x, double y, double z) {
    const double length = std::sqrt(x * x + y * y + z * z);
    if (!(length > 0) || !std::isfinite(length)) return std::nullopt;
    return Position{static_cast<float>(x / length), static_cast<float>(y / length),
                    static_cast<float>(z / length)};
}

std::optional<Position> unit(const Position& n) {
    return unit(n.x, n.y, n.z);
}

// (b - a) x (c - a), normalised: the way the face's corners turn. Finite corners give a
// finite cross product in double; one of no area gives nothing.
std::optional<Position> windingNormal(const Position& a, const Position& b, const Position& c) {
    const double ux = double{b.x} - a.x, uy = double{b.y} - a.y, uz = double{b.z} - a.z;
    const double vx = double{c.x} - a.x, vy = double{c.y} - a.y, vz = double{c.z} - a.z;
    return unit(uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx);
}

// Appends `bytes` to the buffer as a view and an accessor; returns the accessor's index.
int addAccessor(tinygltf::Model& model, const void* data, std::size_t bytes, int componentType,
                int type, std::size_t count, int target) {
    auto& buffer = model.buffers[0].data;
    while (buffer.size() % 4) buffer.push_back(0);
    tinygltf::BufferView view;
    view.buffer = 0;
    view.byteOffset = buffer.size();
    view.byteLength = bytes;
    view.target = target;
    const auto* p = static_cast<const unsigned char*>(data);
    buffer.insert(buffer.end(), p, p + bytes);
    model.bufferViews.push_back(view);
    tinygltf::Accessor accessor;
    accessor.bufferView = static_cast<int>(model.bufferViews.size() - 1);
    accessor.componentType = componentType;
    accessor.type = type;
    accessor.count = count;
    model.accessors.push_back(accessor);
    return static_cast<int>(model.accessors.size() - 1);
}

// Hands what tinygltf writes to the output a block at a time, so the file is never held
// whole a second time. An output error is kept for after: the stream would swallow it.
class OutputBuffer : public std::streambuf {
  public:
    explicit OutputBuffer(output::Output& out) : out_(out) { setp(block_, block_ + sizeof block_); }
    // Passes on what is left; rethrows the first output error.
    void flushAll() {
        sync();
        if (error_) std::rethrow_exception(error_);
    }

  protected:
    int_type overflow(int_type c) override {
        if (sync() != 0) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        if (error_) return -1;
        try {
            out_.write(pbase(), static_cast<std::size_t>(pptr() - pbase()));
        } catch (...) {
            error_ = std::current_exception();
            return -1;
        }
        setp(block_, block_ + sizeof block_);
        return 0;
    }

  private:
    output::Output& out_;
    std::exception_ptr error_;
    char block_[64 * 1024];
};

}  // namespace

std::string uriOf(const std::string& name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string uri;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            uri += c;
        } else {
            uri += '%';
            uri += kHex[u >> 4];
            uri += kHex[u & 15];
        }
    }
    return uri;
}

GltfSummary writeGltf(const meshfile::MeshFile& mesh, const std::string& path) {
    output::Output out(path);
    const GltfSummary summary = writeGltf(mesh, out);
    out.commit();
    return summary;
}

namespace {

// What a valid glTF file cannot hold: a coordinate that is not finite, a corner that names
// no vertex (or no texture vertex, when there are some), more corners than 32-bit indices
// number. Throws ExportError naming the first offender.
void requireExportable(const meshfile::MeshFile& mesh) {
    const auto numVertex = static_cast<std::int64_t>(mesh.vertices.size());
    const auto numTVertex = static_cast<std::int64_t>(mesh.texVertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        const Position& p = mesh.vertices[v];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            throw ExportError("vertex " + std::to_string(v) + " is not finite");
        }
    }
    // glTF's accessors hold finite floats only, texture coordinates as much as positions
    for (std::size_t t = 0; t < mesh.texVertices.size(); ++t) {
        if (!std::isfinite(mesh.texVertices[t].u) || !std::isfinite(mesh.texVertices[t].v))
            throw ExportError("texture vertex " + std::to_string(t) + " is not finite");
    }
    // every corner must have a number that a 32-bit index holds
    if (mesh.faces.size() > (std::uint64_t{UINT32_MAX} - 1) / 3)
        throw ExportError(std::to_string(mesh.faces.size()) +
                          " faces, more than glTF's 32-bit indices number");
    for (const auto& f : mesh.faces) {
        const char* corners = "abc";
        const std::int32_t vs[] = {f.a, f.b, f.c}, ts[] = {f.ta, f.tb, f.tc};
        for (int k = 0; k < 3; ++k) {
            const std::string where =
                "face " + std::to_string(&f - mesh.faces.data()) + " corner " + corners[k];
            if (vs[k] < 0 || vs[k] >= numVertex) {
                throw ExportError(where + " names vertex " + std::to_string(vs[k]) + " of " +
                                  std::to_string(numVertex));
            }
            if (numTVertex > 0 && (ts[k] < 0 || ts[k] >= numTVertex)) {
                throw ExportError(where + " names texture vertex " + std::to_string(ts[k]) +
                                  " of " + std::to_string(numTVertex));
            }
        }
    }
}

// The glTF vertices, one per distinct corner, as arrays of floats; and the corners' numbers
// of the faces of each material index, in index order.
struct Welded {
    std::vector<float> positions, normals, uvs;
    std::map<std::int32_t, std::vector<std::uint32_t>> primitives;
};

// Each face's three normals: the stored ones made unit, or where one cannot be, the face's
// winding normal; counted in the summary.
std::array<Position, 3> cornerNormals(const meshfile::MeshFile& mesh, const meshfile::FaceRecord& f,
                                      GltfSummary& summary) {
    const std::optional<Position> stored[] = {unit(f.normalA), unit(f.normalB), unit(f.normalC)};
    std::optional<Position> winding;
    if (!stored[0] || !stored[1] || !stored[2]) {
        const auto& v = mesh.vertices;
        winding = windingNormal(v[static_cast<std::size_t>(f.a)], v[static_cast<std::size_t>(f.b)],
                                v[static_cast<std::size_t>(f.c)]);
        ++summary.windingFaces;
        if (!winding) {
            winding = kNoAreaNormal;
            ++summary.noAreaFaces;
        }
    }
    return {stored[0] ? *stored[0] : *winding, stored[1] ? *stored[1] : *winding,
            stored[2] ? *stored[2] : *winding};
}

// Corners become vertices, the same corner of several faces one vertex; faces group by
// their material index. Progress goes from 0 to 0.8.
Welded weld(const meshfile::MeshFile& mesh, GltfSummary& summary,
            const std::function<void(double)>& progress) {
    Welded welded;
    CornerIndex index;
    for (const auto& f : mesh.faces) {
        const std::int32_t vs[] = {f.a, f.b, f.c}, ts[] = {f.ta, f.tb, f.tc};
        const std::array<Position, 3> normal = cornerNormals(mesh, f, summary);
        auto& indices = welded.primitives[f.material];
        if (const auto i = static_cast<std::size_t>(&f - mesh.faces.data());
            progress && i % 65536 == 0) {
            progress(0.8 * static_cast<double>(i) / static_cast<double>(mesh.faces.size()));
        }
        for (std::size_t k = 0; k < 3; ++k) {
            const Position& n = normal[k];
            const Corner c{vs[k], summary.texCoords ? ts[k] : -1, std::bit_cast<std::uint32_t>(n.x),
                           std::bit_cast<std::uint32_t>(n.y), std::bit_cast<std::uint32_t>(n.z)};
            const auto [number, added] = index.add(c);
            if (added) {
                const Position& p = mesh.vertices[static_cast<std::size_t>(vs[k])];
                welded.positions.insert(welded.positions.end(), {p.x, p.y, p.z});
                welded.normals.insert(welded.normals.end(), {n.x, n.y, n.z});
                if (summary.texCoords) {
                    const auto& t = mesh.texVertices[static_cast<std::size_t>(ts[k])];
                    welded.uvs.insert(welded.uvs.end(), {t.u, 1.0f - t.v});
                }
            }
            indices.push_back(number);
        }
    }
    summary.vertices = index.size();
    summary.primitives = welded.primitives.size();
    return welded;
}

// A glTF material per material entry, with the entry's bitmap as an image beside the file
// when there are texture coordinates to place it.
void addMaterials(tinygltf::Model& model, const meshfile::MeshFile& mesh, bool texCoords) {
    for (const auto& m : mesh.materials) {
        tinygltf::Material material;
        // a glTF name is UTF-8 text: bytes that are not become U+FFFD, as in --json
        material.name =
            nlohmann::json(m.name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        material.name = nlohmann::json::parse(material.name).get<std::string>();
        // glTF takes factors from 0 to 1 only: others are clamped, one not a number is 0
        auto factor = [](float v) { return v > 1 ? 1.0 : v > 0 ? double{v} : 0.0; };
        material.pbrMetallicRoughness.baseColorFactor = {factor(m.diffuse[0]), factor(m.diffuse[1]),
                                                         factor(m.diffuse[2]), 1.0};
        material.pbrMetallicRoughness.metallicFactor = 0;
        // a texture needs texture coordinates to be drawn with
        if (m.hasBitmap && !m.name.empty() && texCoords) {
            tinygltf::Image image;
            image.uri = uriOf(m.name);  // beside the .glb, as the scene named it; not embedded
            model.images.push_back(image);
            tinygltf::Texture texture;
            texture.source = static_cast<int>(model.images.size() - 1);
            model.textures.push_back(texture);
            material.pbrMetallicRoughness.baseColorTexture.index =
                static_cast<int>(model.textures.size() - 1);
        }
        model.materials.push_back(material);
    }
}

// Frees a vector's memory, not only its elements.
template <typename T>
void release(std::vector<T>& v) {
    std::vector<T>().swap(v);
}

// The vertices' accessors: position (with its bounds, which glTF requires), and normal and
// texture coordinate where the mesh has them. Each array is freed once it is in the buffer.
// Returns the attributes for every primitive.
std::map<std::string, int> addVertices(tinygltf::Model& model, Welded& welded,
                                       const GltfSummary& summary) {
    const std::size_t count = summary.vertices;
    std::map<std::string, int> attributes;
    const auto& positions = welded.positions;
    const int position =
        addAccessor(model, positions.data(), positions.size() * 4, TINYGLTF_COMPONENT_TYPE_FLOAT,
                    TINYGLTF_TYPE_VEC3, count, TINYGLTF_TARGET_ARRAY_BUFFER);
    auto& accessor = model.accessors[static_cast<std::size_t>(position)];
    accessor.minValues = {positions[0], positions[1], positions[2]};
    accessor.maxValues = accessor.minValues;
    for (std::size_t i = 0; i < positions.size(); ++i) {
        accessor.minValues[i % 3] = std::min<double>(accessor.minValues[i % 3], positions[i]);
        accessor.maxValues[i % 3] = std::max<double>(accessor.maxValues[i % 3], positions[i]);
    }
    attributes["POSITION"] = position;
    release(welded.positions);
    if (summary.normals) {
        attributes["NORMAL"] = addAccessor(model, welded.normals.data(), welded.normals.size() * 4,
                                           TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, count,
                                           TINYGLTF_TARGET_ARRAY_BUFFER);
    }
    release(welded.normals);
    if (summary.texCoords) {
        attributes["TEXCOORD_0"] = addAccessor(model, welded.uvs.data(), welded.uvs.size() * 4,
                                               TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC2,
                                               count, TINYGLTF_TARGET_ARRAY_BUFFER);
    }
    release(welded.uvs);
    return attributes;
}

// The one mesh, a primitive per material index, and the node that shows it.
void addMesh(tinygltf::Model& model, const meshfile::MeshFile& mesh, Welded& welded,
             const GltfSummary& summary) {
    // every array goes into one buffer, reserved whole so that it never grows by copying;
    // each array is freed once it is in, so memory peaks near the mesh's own size
    std::size_t total =
        (welded.positions.size() + welded.normals.size() + welded.uvs.size()) * 4 + 12;
    for (const auto& entry : welded.primitives) total += entry.second.size() * 4 + 4;
    model.buffers[0].data.reserve(total);
    const std::map<std::string, int> attributes = addVertices(model, welded, summary);
    tinygltf::Mesh gltfMesh;
    const auto entries = static_cast<std::int64_t>(mesh.materials.size());
    for (auto& [materialIndex, indices] : welded.primitives) {
        tinygltf::Primitive primitive;
        primitive.mode = TINYGLTF_MODE_TRIANGLES;
        primitive.attributes = attributes;
        primitive.indices = addAccessor(model, indices.data(), indices.size() * 4,
                                        TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT, TINYGLTF_TYPE_SCALAR,
                                        indices.size(), TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
        release(indices);
        // one entry serves every face (its index is the scene's material number); with
        // sub-materials the index picks one, a negative index none
        if (entries == 1) {
            primitive.material = 0;
        } else if (materialIndex >= 0 && materialIndex < entries) {
            primitive.material = materialIndex;
        }
        gltfMesh.primitives.push_back(primitive);
    }
    model.meshes.push_back(gltfMesh);
    tinygltf::Node node;
    node.mesh = 0;
    model.nodes.push_back(node);
}

// The model as a .glb to `out`.
void emit(tinygltf::Model& model, output::Output& out) {
    tinygltf::TinyGLTF writer;
    OutputBuffer buffer(out);
    std::ostream stream(&buffer);
    const bool written = writer.WriteGltfSceneToStream(&model, stream, false, true);
    buffer.flushAll();
    if (!written) throw ExportError("cannot encode the glTF file");
}

}  // namespace

GltfSummary writeGltf(const meshfile::MeshFile& mesh, output::Output& out,
                      const std::function<void(double)>& progress) {
    requireExportable(mesh);
    GltfSummary summary;
    summary.texCoords = !mesh.texVertices.empty();
    summary.normals = !mesh.faces.empty();
    Welded welded = weld(mesh, summary, progress);

    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "tessloom-inspect";
    model.buffers.resize(1);
    addMaterials(model, mesh, summary.texCoords);
    tinygltf::Scene scene;
    if (!mesh.faces.empty()) {
        addMesh(model, mesh, welded, summary);
        scene.nodes.push_back(0);
    } else {
        model.buffers.clear();  // a glTF buffer may not be empty
        // a scene with no node, named so that it is written as an object, not as null
        scene.name = "empty mesh";
    }
    model.scenes.push_back(scene);
    model.defaultScene = 0;
    emit(model, out);
    return summary;
}

}  // namespace tessloom::inspect
