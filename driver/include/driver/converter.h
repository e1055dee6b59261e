// The conversion run as the command line sees it: one scene in, one mesh file out.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ase/meshes.h"
#include "ase/scene.h"
#include "driver/progress.h"
#include "meshfile/encode.h"
#include "meshfile/input.h"
#include "output/output.h"

namespace tessloom {

// How a run converts, besides which meshes it takes.
struct RunOptions {
    Repairs repairs;
    // Any warning fails the run: the warnings are printed and nothing is written.
    bool strict = false;
};

// Which meshes of a scene to convert, besides the plain conversion.
struct MeshChoice {
    enum class Kind { kOne, kEach, kMerge };
    Kind kind = Kind::kOne;
    std::string selector;  // kOne: an index (all digits) or a name
    bool byName = false;   // kOne: the selector is a name, even when it is all digits
};

class InputGuard;

// Where a conversion's meshes go as they are made: files for the command line, values for
// the library.
class MeshTarget {
  public:
    // The number of the plain conversion's one mesh.
    static constexpr std::size_t kWhole = static_cast<std::size_t>(-1);

    virtual ~MeshTarget() = default;
    // --each, before any mesh is converted.
    virtual void beforeEach(const SceneMeshes&) {}
    // A mesh converted: the plain conversion's (kWhole), the one chosen, or each in turn.
    virtual void mesh(std::unique_ptr<MeshConverter> mesh, std::size_t n) = 0;
    // The records of --merge.
    virtual void merged(meshfile::MeshFile records) = 0;
    // The input is checked and the warnings allow the meshes: they may be put in place.
    virtual void commit() = 0;
};

// Thrown under --strict when there are warnings.
class WarningsRefused : public Rejected {
  public:
    using Rejected::Rejected;
};

// Converts the open input, named `inputPath` in the warnings, as the choice says (none: the
// plain conversion), handing the meshes to `target`. Warning lines go to `warnings` as they
// are found, whether the conversion succeeds or not. Throws Rejected (WarningsRefused under
// --strict), std::bad_alloc, or what the target throws.
void convertInput(std::FILE* input, const InputGuard& guard, const std::string& inputPath,
                  const std::optional<MeshChoice>& choice, const RunOptions& options,
                  MeshTarget& target, std::vector<std::string>& warnings);

// The records of a converter's mesh file as values: they encode to the bytes it writes.
meshfile::MeshFile meshFileOf(const MeshConverter& mesh);

// Converts inputPath and writes the mesh file. Returns the exit status: 0 once the file is
// complete and in place, 1 after printing one "tessloom: " line on standard error.
// A scene of several meshes still gives the last one's file, and a warning on standard error;
// so does what the conversion loses (lossWarnings).
int convertScene(const std::string& inputPath, const std::optional<std::string>& outputPath,
                 const RunOptions& options = {});

// What one conversion printed, as a whole: the warning lines, then the "tessloom: PATH:
// reason" line when it failed.
struct Conversion {
    bool ok = false;
    std::string messages;
};

// The conversion convertScene() and convertMeshes() run, its messages returned instead of
// printed, so that conversions on several threads print each of theirs in one piece. With
// showProgress, a large input shows its progress line.
Conversion convertFile(const std::string& inputPath, const std::optional<std::string>& outputPath,
                       const std::optional<MeshChoice>& choice, const RunOptions& options,
                       bool showProgress);

// --mesh, --each and --merge: see the manual. Returns the exit status as convertScene does.
int convertMeshes(const std::string& inputPath, const std::optional<std::string>& outputPath,
                  const MeshChoice& choice, const RunOptions& options = {});

// The output path of mesh n for --each: ".n" before the path's last four characters, or
// after a shorter path.
std::string eachOutputPath(std::string_view path, std::size_t n);

// The warning line of a conversion of a scene whose lines end in a lone carriage return.
std::string carriageReturnsWarning(const std::string& inputPath);

// The warning line of a plain conversion of a scene with several meshes.
std::string severalMeshesWarning(const std::string& inputPath, const SceneMeshes& scene);

// The warning lines, one per kind, of what the conversions of inputPath lost: texture
// coordinates scaled by a tiling no line gave, and faces left with a zero normal.
std::vector<std::string> lossWarnings(const std::string& inputPath, const Losses& losses);

// Under --strict, warnings fail the run: WarningsRefused is thrown.
void refuseWarnings(const RunOptions& options, const std::vector<std::string>& warnings);

// Each line on standard error.
void printWarnings(const std::vector<std::string>& warnings);

// The mesh a --mesh selector names: an index when it is all digits (and not byName), else a
// name. Throws Rejected, listing the meshes, when there is none or several.
std::size_t selectMesh(const SceneMeshes& scene, std::string_view selector, bool byName = false);

// Runs `run` and returns 0, or prints its failure as one "tessloom: PATH: reason" line on
// standard error and returns 1.
int reportFailure(const std::string& inputPath, const std::function<void()>& run);

// Runs `run` and returns nothing, or its failure as "PATH: reason" (escaped, no line feed):
// the line reportFailure() prints after "tessloom: ".
std::optional<std::string> failureOf(const std::string& inputPath,
                                     const std::function<void()>& run);

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

// The input opened for the passes, as every program opens its input (meshfile/input.h): a
// regular file, opened without waiting on a FIFO. Throws Rejected, the reason naming the file
// as `name` ("cannot open the input: ...", "the input is not a regular file"), or naming none
// when it is empty ("cannot open: ...", "not a regular file").
InputFile openInput(const std::string& inputPath, std::string_view name = "the input");

// A scene opened as openInput() opens it, for runs that name the scene in their own line
// ("tessloom: PATH: reason"): the reason is the system's alone ("No such file or
// directory", "Permission denied"), or "not a regular file" for a folder, a device or a
// socket (which no open takes).
InputFile openScene(const std::string& path);

// The files no output may replace: the one `stamp` is of, when it is known.
std::vector<output::FileId> inputIdentity(const meshfile::FileStamp* stamp);

// The input as the run found it. The passes read the file anew each time, so a writer at
// work on it would give each pass other bytes: every whole pass must read as many bytes as
// the first, of a file whose stamp has not changed since the guard was made. The checks run
// as each pass ends (through setup()) and before an output is put in place.
class InputGuard {
  public:
    // With a name, an input of more than kProgressBytes shows a progress line on a terminal
    // ("tessloom: converting NAME 42%") while the converters it sets up read it, erased when
    // the guard ends.
    explicit InputGuard(std::FILE* input, const std::string& progressName = {});

    // `base` with passEnded set to this guard's checks, for one converter (each converter's
    // passes are compared among themselves), and the input's stamp, which the converter's
    // writeMeshFile() never replaces.
    ReadSetup setup(ReadSetup base = {}) const;

    // Throws Rejected when the input's stamp changed since the guard was made.
    void checkUnchanged() const;

    // The input's stamp when the guard was made; null for a stream without a descriptor.
    const std::shared_ptr<const meshfile::FileStamp>& stamp() const { return before_; }

  private:
    std::FILE* input_;
    std::shared_ptr<const meshfile::FileStamp> before_;
    std::shared_ptr<ByteProgress> progress_;
};

// Scenes larger than this show a progress line.
inline constexpr std::uint64_t kProgressBytes = 50'000'000;

// The `size` bytes that `encode` puts in the buffer it is given, written to `path`, complete
// but not yet in place (the caller commits it), never replacing one of `keep`. Throws
// Rejected.
std::unique_ptr<output::Output> pendingOutput(
    const std::string& path, std::span<const output::FileId> keep, std::uint64_t size,
    const std::function<void(OutBuffer&)>& encode,
    output::Output::Accept accept = output::Output::Accept::kAny);

// The mesh file of `mesh` written to `path` in the same way.
std::unique_ptr<output::Output> pendingMeshFile(
    const MeshConverter& mesh, const std::string& path, std::span<const output::FileId> keep,
    output::Output::Accept accept = output::Output::Accept::kAny);

}  // namespace tessloom
