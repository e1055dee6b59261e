# tessloom_add_meshes(<target> SCENES <scene>... OUTPUT_DIRECTORY <dir> [MERGE|EACH])
#
# Converts each scene with tessloom::tessloom as a step of the build: one command per scene,
# run again only when its scene (or the converter) changed, all of them in parallel, and
# <target> standing for all of their outputs. Relative scenes are taken from the current
# source folder, a relative OUTPUT_DIRECTORY from the current build folder. Scene `tree.ase`
# gives `<dir>/tree.obj`; MERGE passes --merge (every mesh of the scene in that one file).
# With EACH (--each) a scene gives `<dir>/tree.0.obj`, `<dir>/tree.1.obj`, ..., as many as it
# holds meshes, which is known only once it is converted: the command's output is then the
# file `<dir>/tree.each`, touched after a successful conversion, and whatever uses the mesh
# files depends on <target>. A failed conversion fails the build with tessloom's message.
function(tessloom_add_meshes target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "MERGE;EACH" "OUTPUT_DIRECTORY" "SCENES")
  set(fn tessloom_add_meshes)
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "${fn}: unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_SCENES)
    message(FATAL_ERROR "${fn}: no SCENES given")
  endif()
  if(NOT arg_OUTPUT_DIRECTORY)
    message(FATAL_ERROR "${fn}: no OUTPUT_DIRECTORY given")
  endif()
  if(arg_MERGE AND arg_EACH)
    message(FATAL_ERROR "${fn}: MERGE and EACH exclude each other")
  endif()
  set(mode)
  if(arg_MERGE)
    set(mode --merge)
  elseif(arg_EACH)
    set(mode --each)
  endif()

  cmake_path(ABSOLUTE_PATH arg_OUTPUT_DIRECTORY BASE_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
             NORMALIZE OUTPUT_VARIABLE outDir)
  set(outputs)
  set(names)
  foreach(scene IN LISTS arg_SCENES)
    cmake_path(ABSOLUTE_PATH scene BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE
               OUTPUT_VARIABLE input)
    cmake_path(GET input STEM LAST_ONLY name)
    if(name IN_LIST names)
      message(FATAL_ERROR "${fn}: two scenes named ${name} would write the same mesh file")
    endif()
    list(APPEND names ${name})
    set(mesh "${outDir}/${name}.obj")
    if(arg_EACH)
      set(output "${outDir}/${name}.each")
      set(touch COMMAND ${CMAKE_COMMAND} -E touch "${output}")
    else()
      set(output "${mesh}")
      set(touch)
    endif()
    cmake_path(RELATIVE_PATH input BASE_DIRECTORY "${CMAKE_SOURCE_DIR}" OUTPUT_VARIABLE shown)
    add_custom_command(OUTPUT "${output}"
      COMMAND tessloom::tessloom ${mode} "${input}" "${mesh}" ${touch}
      DEPENDS "${input}" "$<TARGET_FILE:tessloom::tessloom>"
      COMMENT "Converting ${shown}"
      VERBATIM)
    list(APPEND outputs "${output}")
  endforeach()
  file(MAKE_DIRECTORY "${outDir}")
  add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
