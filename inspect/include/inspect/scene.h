// tessloom-inspect on an ASE scene: its meshes, and which one a plain conversion keeps.
#pragma once

#include <cstdio>
#include <string>

namespace tessloom::inspect {

// True when the file's first byte that is not white space is '*' followed by three bytes of
// text (or the file's end): a mesh file starts with a count, which is never that. A file that
// cannot be read is a scene when its name ends in ".ase" in any case.
bool looksLikeScene(const std::string& path);

// The listing (one line for the scene, then a line per mesh: index, line of its
// *GEOMOBJECT, the vertex and face counts and material reference the count pass read in its
// block, name; "-" where it read none), then one line per finding (what a conversion will do
// to the scene, in the form compilers use) and their count; with asJson, one document with
// the listing and the findings as objects. Returns the exit status: 0 with no finding, 1 with any.
// Throws InputError when the scene cannot be read.
int inspectScene(std::FILE* out, const std::string& path, bool asJson);

}  // namespace tessloom::inspect
