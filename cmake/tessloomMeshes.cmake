# tessloom_add_meshes(<target> SCENES <scene>... OUTPUT_DIRECTORY <dir>
#                     [MERGE | EACH | MESH <name>|<index>] [BATCH]
#                     [OPTIONS <option>...] [OUTPUTS_VARIABLE <var>])
#
# Converts each scene with tessloom::tessloom as a step of the build: one command per scene,
# run again only when its scene (or the converter) changed, all of them in parallel, and
# <target> standing for all of their outputs. Relative scenes are taken from the current
# source folder, a relative OUTPUT_DIRECTORY from the current build folder. Scene `tree.ase`
# gives `<dir>/tree.obj`; MERGE passes --merge (every mesh of the scene in that one file),
# MESH passes --mesh (only that mesh of each scene, still in `<dir>/tree.obj`), OPTIONS are
# passed to the converter as they are, before the paths.
#
# With EACH (--each) a scene gives `<dir>/tree.0.obj`, `<dir>/tree.1.obj`, ..., as many as it
# holds meshes, which is known only once it is converted: the command's output is then the
# stamp file `<dir>/tree.each`, which lists the files written, one absolute path a line.
# The files are converted into a folder of their own beside the stamp and moved into place
# once all are; those of the previous conversion that it no longer gives are removed. When
# that list changes, the next build re-runs CMake first, so that `clean` knows every file
# (`ninja clean` re-runs it itself; `make clean` does not).
#
# OUTPUTS_VARIABLE names a variable set to the outputs: the mesh files, or for EACH the
# stamp files. A file that two scenes would write, in one call or in two, is refused when
# CMake runs. A failed conversion fails the build with tessloom's message.
#
# With BATCH, every scene of the call is converted by one command, `tessloom --out-dir`,
# which converts them on all cores in one process; the outputs, EACH, MERGE, OPTIONS and
# OUTPUTS_VARIABLE are as without it (OPTIONS may add `-j N`), MESH is refused. Which to use:
# one command per scene (the default) lets the build tool run the conversions in parallel
# with the rest of the build and converts again only the scenes that changed; BATCH saves a
# process per scene, which counts when the scenes are many and small (hundreds of scenes of
# a few kilobytes convert several times faster), but any change to one of them converts
# them all again, and a scene that fails fails the whole step. BATCH names the outputs as
# the converter does, by replacing the last four characters of the scene's file name: a
# scene whose name does not end in a dot and three characters (tree.ase) is refused.

# Run as a script (cmake -P) by the build, after `tessloom --each` converted a scene into
# WORK (removed after, unless KEEP_WORK is set): moves the files into place, removes the ones of the previous conversion the scene no
# longer gives, and writes the list to STAMP and, only when it changed, to LIST.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  cmake_policy(VERSION 3.25)
  cmake_path(GET STAMP PARENT_PATH outDir)
  cmake_path(GET MESH FILENAME base)
  # tessloom --each inserts ".N" before the last four characters of the path it is given
  string(LENGTH "${base}" length)
  math(EXPR cut "${length} - 4")
  string(SUBSTRING "${base}" 0 ${cut} stem)
  string(SUBSTRING "${base}" ${cut} 4 extension)
  set(written)
  set(n 0)
  while(EXISTS "${WORK}/${stem}.${n}${extension}")
    file(RENAME "${WORK}/${stem}.${n}${extension}" "${outDir}/${stem}.${n}${extension}")
    list(APPEND written "${outDir}/${stem}.${n}${extension}")
    math(EXPR n "${n} + 1")
  endwhile()
  if(NOT KEEP_WORK)  # a batch's folder holds the other scenes' files too
    file(REMOVE_RECURSE "${WORK}")
  endif()
  set(before)
  if(EXISTS "${STAMP}")
    file(STRINGS "${STAMP}" before)
  endif()
  # only files this scene's conversions write (<stem>.N<extension>), whatever else the stamp
  # may have come to hold
  string(LENGTH "${outDir}/${stem}." prefixLength)
  foreach(old IN LISTS before)
    string(FIND "${old}" "${outDir}/${stem}." at)
    if(at EQUAL 0 AND NOT old IN_LIST written)
      string(SUBSTRING "${old}" ${prefixLength} -1 rest)
      string(REGEX REPLACE "^[0-9]+" "" restExtension "${rest}")
      if(NOT restExtension STREQUAL rest AND restExtension STREQUAL extension)
        file(REMOVE "${old}")
      endif()
    endif()
  endforeach()
  list(JOIN written "\n" text)
  if(NOT text STREQUAL "")
    string(APPEND text "\n")
  endif()
  file(WRITE "${STAMP}" "${text}")
  set(listed)
  if(EXISTS "${LIST}")
    file(READ "${LIST}" listed)
  endif()
  if(NOT listed STREQUAL text)
    file(WRITE "${LIST}" "${text}")
  endif()
  return()
endif()

function(tessloom_add_meshes target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "MERGE;EACH;BATCH" "OUTPUT_DIRECTORY;MESH;OUTPUTS_VARIABLE"
                        "SCENES;OPTIONS")
  set(fn tessloom_add_meshes)
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${fn}: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  foreach(keyword IN ITEMS OUTPUT_DIRECTORY MESH OUTPUTS_VARIABLE)
    if(keyword IN_LIST arg_KEYWORDS_MISSING_VALUES)
      message(FATAL_ERROR "${fn}: ${keyword} needs a value")
    endif()
  endforeach()
  if(NOT DEFINED arg_SCENES)
    message(FATAL_ERROR "${fn}: no SCENES given")
  endif()
  if(NOT DEFINED arg_OUTPUT_DIRECTORY)
    message(FATAL_ERROR "${fn}: no OUTPUT_DIRECTORY given")
  endif()
  set(modes)
  foreach(mode IN ITEMS MERGE EACH MESH)
    if(arg_${mode} OR (mode STREQUAL "MESH" AND DEFINED arg_MESH))
      list(APPEND modes ${mode})
    endif()
  endforeach()
  list(LENGTH modes count)
  if(count GREATER 1)
    list(JOIN modes " and " both)
    message(FATAL_ERROR "${fn}: ${both} exclude each other")
  endif()
  # these two decide which files are written, which this function must know
  foreach(option IN ITEMS --each --merge)
    if(option IN_LIST arg_OPTIONS)
      string(SUBSTRING "${option}" 2 -1 keyword)
      string(TOUPPER "${keyword}" keyword)
      message(FATAL_ERROR "${fn}: OPTIONS ${option}: use ${keyword} instead")
    endif()
  endforeach()
  if(arg_BATCH AND DEFINED arg_MESH)
    message(FATAL_ERROR "${fn}: BATCH and MESH exclude each other")
  endif()
  set(mode)
  if(arg_MERGE)
    set(mode --merge)
  elseif(arg_EACH)
    set(mode --each)
  elseif(DEFINED arg_MESH)
    set(mode --mesh "${arg_MESH}")
  endif()

  cmake_path(ABSOLUTE_PATH arg_OUTPUT_DIRECTORY BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
             NORMALIZE OUTPUT_VARIABLE outDir)
  string(REGEX REPLACE "(.)/+$" "\\1" outDir "${outDir}")  # meshes/ is meshes
  set(outputs)
  set(clean)
  set(inputs)
  set(batchSteps)
  set(batchWork "${outDir}/.${target}.batch")
  foreach(scene IN LISTS arg_SCENES)
    cmake_path(ABSOLUTE_PATH scene BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE
               OUTPUT_VARIABLE input)
    cmake_path(GET input STEM LAST_ONLY name)
    cmake_path(RELATIVE_PATH input BASE_DIRECTORY "${CMAKE_SOURCE_DIR}" OUTPUT_VARIABLE shown)
    if(arg_BATCH)
      # the converter's name for it must be the one given here
      cmake_path(GET input FILENAME file)
      string(LENGTH "${file}" length)
      cmake_path(GET input EXTENSION LAST_ONLY extension)
      string(LENGTH "${extension}" extensionLength)
      if(NOT extensionLength EQUAL 4 OR length LESS 5)
        message(FATAL_ERROR "${fn}: BATCH names ${shown}'s output by replacing the last four "
                            "characters of its name, which must then be a dot and three "
                            "characters (as in tree.ase)")
      endif()
    endif()
    set(mesh "${outDir}/${name}.obj")
    if(arg_EACH)
      _tessloom_claim("${mesh}" 1 "${shown}" "${target}")
    else()
      _tessloom_claim("${mesh}" 0 "${shown}" "${target}")
    endif()
    if(arg_EACH)
      set(output "${outDir}/${name}.each")
      set(work "${output}.tmp")
      string(SHA1 key "${output}")
      string(SUBSTRING "${key}" 0 12 key)
      set(list "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/tessloom_meshes/${name}-${key}.files")
      # what the last conversion wrote, as CMake last saw it; a changed list runs CMake again
      if(NOT EXISTS "${list}")
        file(WRITE "${list}" "")
      endif()
      file(STRINGS "${list}" written)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${list}")
      list(APPEND clean ${written} "${work}")
      list(APPEND batchSteps COMMAND ${CMAKE_COMMAND} "-DWORK=${batchWork}" "-DMESH=${mesh}"
           "-DSTAMP=${output}" "-DLIST=${list}" -DKEEP_WORK=1 -P
           "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")
      set(steps
        COMMAND ${CMAKE_COMMAND} -E rm -rf "${work}"
        COMMAND ${CMAKE_COMMAND} -E make_directory "${work}"
        COMMAND tessloom::tessloom ${mode} ${arg_OPTIONS} -- "${input}" "${work}/${name}.obj"
        COMMAND ${CMAKE_COMMAND} "-DWORK=${work}" "-DMESH=${mesh}" "-DSTAMP=${output}"
                "-DLIST=${list}" -P "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")
    else()
      set(output "${mesh}")
      set(steps COMMAND tessloom::tessloom ${mode} ${arg_OPTIONS} -- "${input}" "${mesh}")
    endif()
    if(NOT arg_BATCH)
      add_custom_command(OUTPUT "${output}"
        ${steps}
        DEPENDS "${input}" "$<TARGET_FILE:tessloom::tessloom>"
        COMMENT "Converting ${shown}"
        VERBATIM)
    endif()
    list(APPEND outputs "${output}")
    list(APPEND inputs "${input}")
  endforeach()
  if(arg_BATCH)
    # the scenes go to the converter in a list, one a line: a command line of thousands of
    # paths may be too long; the list is rewritten only when it changes
    string(SHA1 key "${outDir}")
    string(SUBSTRING "${key}" 0 12 key)
    set(sceneList "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/tessloom_meshes/${target}-${key}.scenes")
    list(JOIN inputs "\n" text)
    set(listed)
    if(EXISTS "${sceneList}")
      file(READ "${sceneList}" listed)
    endif()
    if(NOT listed STREQUAL "${text}\n")
      file(WRITE "${sceneList}" "${text}\n")
    endif()
    list(LENGTH inputs count)
    if(arg_EACH)
      # into a folder of their own, then moved into place scene by scene as without BATCH
      set(steps
        COMMAND ${CMAKE_COMMAND} -E rm -rf "${batchWork}"
        COMMAND tessloom::tessloom --out-dir "${batchWork}" ${mode} ${arg_OPTIONS}
                --from "${sceneList}"
        ${batchSteps}
        COMMAND ${CMAKE_COMMAND} -E rm -rf "${batchWork}")
      list(APPEND clean "${batchWork}")
    else()
      set(steps COMMAND tessloom::tessloom --out-dir "${outDir}" ${mode} ${arg_OPTIONS}
                --from "${sceneList}")
    endif()
    add_custom_command(OUTPUT ${outputs}
      ${steps}
      DEPENDS ${inputs} "${sceneList}" "$<TARGET_FILE:tessloom::tessloom>"
      COMMENT "Converting ${count} scenes in one batch (${target})"
      VERBATIM)
  endif()
  file(MAKE_DIRECTORY "${outDir}")
  add_custom_target(${target} ALL DEPENDS ${outputs})
  set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES ${clean})
  if(DEFINED arg_OUTPUTS_VARIABLE)
    set(${arg_OUTPUTS_VARIABLE} ${outputs} PARENT_SCOPE)
  endif()
endfunction()

# Records that `mesh` (with `each` 1, the base of `<name>.N.obj`) is written for `shown`, or
# stops, naming both scenes, when a scene of this or an earlier call writes the same file.
function(_tessloom_claim mesh each shown target)
  get_property(claims GLOBAL PROPERTY _tessloom_mesh_claims)
  get_property(owners GLOBAL PROPERTY _tessloom_mesh_owners)
  get_property(kinds GLOBAL PROPERTY _tessloom_mesh_kinds)
  cmake_path(GET mesh PARENT_PATH dir)
  cmake_path(GET mesh STEM LAST_ONLY name)
  list(LENGTH claims count)
  set(i 0)
  while(i LESS count)
    list(GET claims ${i} other)
    list(GET owners ${i} owner)
    list(GET kinds ${i} otherEach)
    cmake_path(GET other PARENT_PATH otherDir)
    cmake_path(GET other STEM LAST_ONLY otherName)
    set(clash)
    if(other STREQUAL mesh)
      set(clash "${mesh}")
    elseif(otherDir STREQUAL dir AND NOT each STREQUAL otherEach)
      # EACH gives tree.N.obj for tree.ase, which tree.N.ase gives without it
      string(REGEX REPLACE "\\.[0-9]+$" "" nameStem "${name}")
      string(REGEX REPLACE "\\.[0-9]+$" "" otherStem "${otherName}")
      if(otherEach AND NOT nameStem STREQUAL name AND nameStem STREQUAL otherName)
        set(clash "${mesh}")
      elseif(each AND NOT otherStem STREQUAL otherName AND otherStem STREQUAL name)
        set(clash "${other}")
      endif()
    endif()
    if(NOT "${clash}" STREQUAL "")
      message(FATAL_ERROR "tessloom_add_meshes: ${owner} and ${shown} (${target}) would "
                          "write the same mesh file ${clash}")
    endif()
    math(EXPR i "${i} + 1")
  endwhile()
  set_property(GLOBAL APPEND PROPERTY _tessloom_mesh_claims "${mesh}")
  set_property(GLOBAL APPEND PROPERTY _tessloom_mesh_owners "${shown} (${target})")
  set_property(GLOBAL APPEND PROPERTY _tessloom_mesh_kinds "${each}")
endfunction()
