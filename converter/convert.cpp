// The library's calls: the driver's conversion with values for a target instead of files.
#include "tessloom/convert.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "driver/converter.h"
#include "inspect/findings.h"
#include "meshfile/encode.h"
#include "output/output.h"

namespace tessloom {

namespace {

// The meshes as values, made as each is converted so that its tables go at once.
class ValueTarget : public MeshTarget {
  public:
    void mesh(std::unique_ptr<MeshConverter> mesh, std::size_t) override {
        meshes.push_back(meshFileOf(*mesh));
    }
    void merged(meshfile::MeshFile records) override { meshes.push_back(std::move(records)); }
    void commit() override {}

    std::vector<MeshFile> meshes;
};

std::optional<MeshChoice> choiceOf(const ConvertOptions& options, bool each) {
    const bool chosen = !std::holds_alternative<std::monostate>(options.mesh);
    if (each) {
        if (chosen || options.merge) {
            throw ConvertError("convertEach takes neither a mesh nor merge");
        }
        return MeshChoice{MeshChoice::Kind::kEach, ""};
    }
    if (chosen && options.merge) throw ConvertError("a mesh and merge exclude each other");
    if (options.merge) return MeshChoice{MeshChoice::Kind::kMerge, ""};
    if (const auto* index = std::get_if<std::size_t>(&options.mesh)) {
        return MeshChoice{MeshChoice::Kind::kOne, std::to_string(*index)};
    }
    if (const auto* name = std::get_if<std::string>(&options.mesh)) {
        return MeshChoice{MeshChoice::Kind::kOne, *name, true};
    }
    return std::nullopt;
}

// The warnings as the caller keeps them: without the program's prefix and the line feed.
void keepWarnings(const std::vector<std::string>& lines, std::vector<std::string>* to) {
    if (!to) return;
    constexpr std::string_view kPrefix = "tessloom: ";
    for (std::string_view line : lines) {
        if (line.starts_with(kPrefix)) line.remove_prefix(kPrefix.size());
        if (line.ends_with('\n')) line.remove_suffix(1);
        to->emplace_back(line);
    }
}

// The scene's findings, appended to `to`; the input is read from its start and left there.
void keepFindings(std::FILE* input, std::vector<Finding>& to) {
    for (inspect::Finding& f : inspect::findScene(input).findings) {
        to.push_back({.line = f.line,
                      .severity = f.severity == inspect::Severity::kError
                                      ? Finding::Severity::kError
                                      : Finding::Severity::kWarning,
                      .id = std::move(f.id),
                      .message = std::move(f.message),
                      .mesh = f.mesh});
    }
    if (std::fseek(input, 0, SEEK_SET) != 0) throw Rejected("cannot rewind the input");
}

// The conversion of `name`, opened by `open` (which may throw Rejected), as the tool runs it.
template <class Open>
std::vector<MeshFile> run(const std::string& name, Open open, const ConvertOptions& options,
                          bool each) {
    const std::optional<MeshChoice> choice = choiceOf(options, each);
    const RunOptions runOptions{
        .repairs = {.keepUv = options.keepUv, .fixNormals = options.fixNormals},
        .strict = options.strict};
    std::vector<std::string> warnings;
    ValueTarget target;
    const std::optional<std::string> failure = failureOf(name, [&] {
        const InputFile input = open();
        const InputGuard guard(input.get());  // no progress line: the caller owns the terminal
        if (options.findings) keepFindings(input.get(), *options.findings);
        convertInput(input.get(), guard, name, choice, runOptions, target, warnings);
    });
    keepWarnings(warnings, options.warnings);
    if (failure) throw ConvertError(*failure);
    return std::move(target.meshes);
}

std::vector<MeshFile> fromPath(const std::filesystem::path& path, const ConvertOptions& options,
                               bool each) {
    const std::string name = path.string();
    return run(
        name, [&name] { return openScene(name); }, options, each);
}

std::vector<MeshFile> fromMemory(std::span<const std::byte> text, const ConvertOptions& options,
                                 bool each) {
    return run(
        options.name,
        [text] {
            // A stream over the bytes, read, sought and measured as a file is: the passes
            // and the mesh search read it as they read a file. Opened for reading only.
            static char empty = 0;
            void* bytes =
                text.empty() ? &empty : const_cast<void*>(static_cast<const void*>(text.data()));
            std::FILE* file = ::fmemopen(bytes, text.size(), "r");
            if (!file) throw Rejected("cannot read the scene text in memory");
            return InputFile(file);
        },
        options, each);
}

}  // namespace

MeshFile convert(const std::filesystem::path& path, const ConvertOptions& options) {
    return std::move(fromPath(path, options, false).front());
}

MeshFile convert(std::span<const std::byte> sceneText, const ConvertOptions& options) {
    return std::move(fromMemory(sceneText, options, false).front());
}

std::vector<MeshFile> convertEach(const std::filesystem::path& path,
                                  const ConvertOptions& options) {
    return fromPath(path, options, true);
}

std::vector<MeshFile> convertEach(std::span<const std::byte> sceneText,
                                  const ConvertOptions& options) {
    return fromMemory(sceneText, options, true);
}

std::vector<std::byte> encode(const MeshFile& mesh) {
    try {
        const std::vector<std::uint8_t> bytes = meshfile::encodeMeshFile(mesh);
        const auto* first = reinterpret_cast<const std::byte*>(bytes.data());
        return {first, first + bytes.size()};
    } catch (const meshfile::EncodeError& e) {
        throw ConvertError(e.what());
    }
}

void write(const MeshFile& mesh, const std::filesystem::path& path) {
    try {
        output::Output out(path.string());
        OutBuffer buffer(
            [](void* context, const std::uint8_t* data, std::size_t size) {
                static_cast<output::Output*>(context)->write(data, size);
            },
            &out,
            static_cast<std::size_t>(
                std::min<std::uint64_t>(meshfile::encodedSize(mesh), OutBuffer::kMaxCapacity)));
        meshfile::encodeMeshFile(mesh, buffer);
        out.commit();
    } catch (const output::OutputError& e) {
        // the path as the tool shows it: a line feed in it must not break the line
        throw ConvertError(output::escaped(e.what()));
    } catch (const meshfile::EncodeError& e) {
        throw ConvertError(e.what());
    }
}

}  // namespace tessloom
