# tessloom-inspect's --html page embeds three.js. npm fetches it, with esbuild and the glTF
# validator (which the tests run over exported files), at the versions
# inspect/web/package-lock.json pins (npm ci, once per version of the lock file, into
# TESSLOOM_WEB_PACKAGES, which the presets' build folders share); esbuild bundles the page's
# script with the parts of three.js it uses, and the bundle, the page's template and style and
# three.js's licence are compiled into the program. Without npm, or when the fetch fails, the
# inspector has no --html. A failed fetch gives up within seconds (no retries, short time
# limits: a machine without the registry should not wait minutes) and is not tried again for
# the same lock file, by any build folder sharing the packages, until its note is deleted.
option(TESSLOOM_HTML "Give tessloom-inspect its --html page (needs npm at configure time)" ON)
set(TESSLOOM_WEB_PACKAGES ${PROJECT_BINARY_DIR}/web CACHE PATH
    "Where npm ci puts the HTML page's packages (build folders may share it)")
set(tessloomHtml OFF)
set(webSource ${PROJECT_SOURCE_DIR}/inspect/web)
set(webBuild ${PROJECT_BINARY_DIR}/web)
set(webPackages ${TESSLOOM_WEB_PACKAGES})
if(TESSLOOM_HTML)
  find_program(TESSLOOM_NPM npm)
  find_program(TESSLOOM_NODE node)
  if(TESSLOOM_NPM AND TESSLOOM_NODE)
    file(SHA256 ${webSource}/package-lock.json lockHash)
    set(stamp ${webPackages}/node_modules/.tessloom-lock)
    set(failedNote ${webPackages}/npm-ci-failed)
    set(installed "")
    set(failed "")
    if(EXISTS ${stamp})
      file(READ ${stamp} installed)
    endif()
    if(EXISTS ${failedNote})
      file(STRINGS ${failedNote} failed LIMIT_COUNT 1)
    endif()
    if(NOT installed STREQUAL lockHash AND failed STREQUAL lockHash)
      message(WARNING "npm ci failed before for this lock file, not tried again, so "
                      "tessloom-inspect is built without --html: delete ${failedNote} to try again")
    elseif(NOT installed STREQUAL lockHash)
      message(STATUS "Fetching three.js, esbuild and gltf-validator with npm ci")
      file(COPY ${webSource}/package.json ${webSource}/package-lock.json DESTINATION ${webPackages})
      # packages already in npm's cache are not asked for again; a registry out of reach
      # fails at once, one that does not answer within 30 s fails then
      execute_process(
        COMMAND ${TESSLOOM_NPM} ci --ignore-scripts --no-audit --no-fund --loglevel=error
                --prefer-offline --fetch-retries=0 --fetch-timeout=30000
        WORKING_DIRECTORY ${webPackages} RESULT_VARIABLE npmStatus OUTPUT_QUIET
        ERROR_VARIABLE npmError TIMEOUT 300)
      if(npmStatus EQUAL 0)
        file(WRITE ${stamp} ${lockHash})
        file(REMOVE ${failedNote})
        set(installed ${lockHash})
      else()
        file(WRITE ${failedNote} "${lockHash}\nnpm ci: ${npmStatus}\n${npmError}")
        string(REGEX REPLACE "\n.*" "" npmError "${npmError}")
        message(WARNING "npm ci failed (${npmStatus}), so tessloom-inspect is built without "
                        "--html: ${npmError} (all of it in ${failedNote})")
      endif()
    endif()
    if(installed STREQUAL lockHash)
      set(tessloomHtml ON)
    endif()
  endif()
endif()
# configure_file makes a change of the lock file configure again
if(EXISTS ${webSource}/package-lock.json)
  configure_file(${webSource}/package-lock.json ${webBuild}/package-lock.json.seen COPYONLY)
endif()

if(tessloomHtml)
  set(bundle ${webBuild}/page.bundle.js)
  add_custom_command(OUTPUT ${bundle}
    COMMAND ${CMAKE_COMMAND} -E env NODE_PATH=${webPackages}/node_modules
            ${TESSLOOM_NODE} ${webPackages}/node_modules/esbuild/bin/esbuild ${webSource}/page.js
            --bundle --minify --format=iife --charset=ascii --legal-comments=inline
            --log-level=warning --outfile=${bundle}
    DEPENDS ${webSource}/page.js ${webPackages}/node_modules/.tessloom-lock
    COMMENT "Bundling the HTML page's script with three.js")
  set(assets ${webBuild}/page_assets.cpp)
  add_custom_command(OUTPUT ${assets}
    COMMAND ${CMAKE_COMMAND} -DOUTPUT=${assets} -DTEMPLATE=${webSource}/page.html
            -DSTYLE=${webSource}/page.css -DSCRIPT=${bundle}
            -DLICENCE=${webPackages}/node_modules/three/LICENSE -P ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
    DEPENDS ${bundle} ${webSource}/page.html ${webSource}/page.css
            ${PROJECT_SOURCE_DIR}/cmake/embed.cmake
    COMMENT "Embedding the HTML page's parts")
  target_sources(tessloom_inspect PRIVATE ${PROJECT_SOURCE_DIR}/inspect/html.cpp ${assets})
  target_compile_definitions(tessloom_inspect PUBLIC TESSLOOM_HTML)
  install(FILES ${webPackages}/node_modules/three/LICENSE RENAME three.js-licence
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tessloom)
else()
  message(STATUS "tessloom-inspect is built without --html: it needs npm and node, and npm ci "
                 "to fetch inspect/web/package-lock.json's packages from the npm registry")
endif()
