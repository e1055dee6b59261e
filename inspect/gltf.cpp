// glTF export: corners become vertices, faces become one primitive per material index.
#include "inspect/gltf.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <exception>
#include <map>
#include <ostream>
#include <type_traits>
#include <unordered_map>

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

struct CornerHash {
    std::size_t operator()(const Corner& c) const {
        std::uint64_t h = 1469598103934665603ull;
        for (const std::uint32_t v : {static_cast<std::uint32_t>(c.vertex),
                                      static_cast<std::uint32_t>(c.texVertex), c.nx, c.ny, c.nz}) {
            h = (h ^ v) * 1099511628211ull;
        }
        return static_cast<std::size_t>(h);
    }
};

Position normalised(const Position& n) {
    const double length = std::sqrt(double{n.x} * n.x + double{n.y} * n.y + double{n.z} * n.z);
    if (!(length > 0) || !std::isfinite(length)) return {0, 0, 0};
    return {static_cast<float>(n.x / length), static_cast<float>(n.y / length),
            static_cast<float>(n.z / length)};
}

bool isZero(const Position& n) {
    return n.x == 0 && n.y == 0 && n.z == 0;
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

GltfSummary writeGltf(const meshfile::MeshFile& mesh, output::Output& out,
                      const std::function<void(double)>& progress) {
    const auto numVertex = static_cast<std::int64_t>(mesh.vertices.size());
    const auto numTVertex = static_cast<std::int64_t>(mesh.texVertices.size());
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
        const Position& p = mesh.vertices[v];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            throw ExportError("vertex " + std::to_string(v) + " is not finite");
        }
    }
    GltfSummary summary;
    summary.texCoords = numTVertex > 0;
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
            if (summary.texCoords && (ts[k] < 0 || ts[k] >= numTVertex)) {
                throw ExportError(where + " names texture vertex " + std::to_string(ts[k]) +
                                  " of " + std::to_string(numTVertex));
            }
        }
        summary.normals |= !isZero(f.normalA) || !isZero(f.normalB) || !isZero(f.normalC);
    }

    // corners become vertices; faces group by their material index, in index order
    std::unordered_map<Corner, std::uint32_t, CornerHash> index;
    std::vector<float> positions, normals, uvs;
    std::map<std::int32_t, std::vector<std::uint32_t>> primitives;
    for (const auto& f : mesh.faces) {
        const std::int32_t vs[] = {f.a, f.b, f.c}, ts[] = {f.ta, f.tb, f.tc};
        const Position ns[] = {f.normalA, f.normalB, f.normalC};
        auto& indices = primitives[f.material];
        if (const auto i = static_cast<std::size_t>(&f - mesh.faces.data());
            progress && i % 65536 == 0) {
            progress(0.8 * static_cast<double>(i) / static_cast<double>(mesh.faces.size()));
        }
        for (int k = 0; k < 3; ++k) {
            const Position n = summary.normals ? normalised(ns[k]) : Position{};
            const Corner c{vs[k], summary.texCoords ? ts[k] : -1, std::bit_cast<std::uint32_t>(n.x),
                           std::bit_cast<std::uint32_t>(n.y), std::bit_cast<std::uint32_t>(n.z)};
            auto [it, added] = index.try_emplace(c, static_cast<std::uint32_t>(index.size()));
            if (added) {
                const Position& p = mesh.vertices[static_cast<std::size_t>(vs[k])];
                positions.insert(positions.end(), {p.x, p.y, p.z});
                normals.insert(normals.end(), {n.x, n.y, n.z});
                if (summary.texCoords) {
                    const auto& t = mesh.texVertices[static_cast<std::size_t>(ts[k])];
                    uvs.insert(uvs.end(), {t.u, 1.0f - t.v});
                }
            }
            indices.push_back(it->second);
        }
    }
    summary.vertices = index.size();
    decltype(index)().swap(index);  // the corners are numbered: the table is done with
    summary.primitives = primitives.size();

    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "tessloom-inspect";
    model.buffers.resize(1);
    for (const auto& m : mesh.materials) {
        tinygltf::Material material;
        // a glTF name is UTF-8 text: bytes that are not become U+FFFD, as in --json
        material.name =
            nlohmann::json(m.name).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        material.name = nlohmann::json::parse(material.name).get<std::string>();
        material.pbrMetallicRoughness.baseColorFactor = {m.diffuse[0], m.diffuse[1], m.diffuse[2],
                                                         1.0};
        material.pbrMetallicRoughness.metallicFactor = 0;
        if (m.hasBitmap && !m.name.empty()) {
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
    tinygltf::Scene scene;
    if (!mesh.faces.empty()) {
        const std::size_t count = summary.vertices;
        // every array goes into one buffer, reserved whole so that it never grows by copying;
        // each array is freed once it is in, so memory peaks near the mesh's own size
        std::size_t total = (positions.size() + normals.size() + uvs.size()) * 4 + 12;
        for (const auto& entry : primitives) total += entry.second.size() * 4 + 4;
        model.buffers[0].data.reserve(total);
        auto release = [](auto& v) { std::remove_reference_t<decltype(v)>().swap(v); };
        const int position = addAccessor(model, positions.data(), positions.size() * 4,
                                         TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, count,
                                         TINYGLTF_TARGET_ARRAY_BUFFER);
        auto& accessor = model.accessors[static_cast<std::size_t>(position)];
        accessor.minValues = {positions[0], positions[1], positions[2]};
        accessor.maxValues = accessor.minValues;
        for (std::size_t i = 0; i < positions.size(); ++i) {
            accessor.minValues[i % 3] = std::min<double>(accessor.minValues[i % 3], positions[i]);
            accessor.maxValues[i % 3] = std::max<double>(accessor.maxValues[i % 3], positions[i]);
        }
        release(positions);
        tinygltf::Mesh gltfMesh;
        int normal = -1, uv = -1;
        if (summary.normals) {
            normal = addAccessor(model, normals.data(), normals.size() * 4,
                                 TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, count,
                                 TINYGLTF_TARGET_ARRAY_BUFFER);
        }
        release(normals);
        if (summary.texCoords) {
            uv = addAccessor(model, uvs.data(), uvs.size() * 4, TINYGLTF_COMPONENT_TYPE_FLOAT,
                             TINYGLTF_TYPE_VEC2, count, TINYGLTF_TARGET_ARRAY_BUFFER);
        }
        release(uvs);
        const auto entries = static_cast<std::int64_t>(mesh.materials.size());
        for (auto& [materialIndex, indices] : primitives) {
            tinygltf::Primitive primitive;
            primitive.mode = TINYGLTF_MODE_TRIANGLES;
            primitive.attributes["POSITION"] = position;
            if (normal >= 0) primitive.attributes["NORMAL"] = normal;
            if (uv >= 0) primitive.attributes["TEXCOORD_0"] = uv;
            primitive.indices = addAccessor(
                model, indices.data(), indices.size() * 4, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                TINYGLTF_TYPE_SCALAR, indices.size(), TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
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
        scene.nodes.push_back(0);
    }
    if (mesh.faces.empty()) {
        model.buffers.clear();  // a glTF buffer may not be empty
        // a scene with no node, named so that it is written as an object, not as null
        scene.name = "empty mesh";
    }
    model.scenes.push_back(scene);
    model.defaultScene = 0;
    tinygltf::TinyGLTF writer;
    OutputBuffer buffer(out);
    std::ostream stream(&buffer);
    const bool written = writer.WriteGltfSceneToStream(&model, stream, false, true);
    buffer.flushAll();
    if (!written) throw ExportError("cannot encode the glTF file");
    return summary;
}

}  // namespace tessloom::inspect
