# The build stages the application directory exactly as the programs expect it
# at run time: programs and shared libraries at its root, plug-ins below it.
# `cmake --install` reproduces the same tree under the install prefix.

set(OMBRIX_APP_DIR "${CMAKE_BINARY_DIR}/app" CACHE PATH "Staged application directory")

set(OMBRIX_DBMAPS_DIR        "OmbrixServerComponents/OmbrixDbMaps")
set(OMBRIX_AUTHCOMS_DIR      "OmbrixServerComponents/OmbrixAuthenticate")
set(OMBRIX_SERCOMS_DIR       "OmbrixServerComponents/OmbrixDBManipulation")
set(OMBRIX_PANETS_DIR        "OmbrixServerPanets")

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${OMBRIX_APP_DIR}")
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY "${OMBRIX_APP_DIR}")
set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)
set(CMAKE_BUILD_WITH_INSTALL_RPATH ON)
set(CMAKE_INSTALL_RPATH "$ORIGIN")

foreach(dir OmbrixDbData/Tables OmbrixDbData/Data OmbrixDbData/Blobs
            ${OMBRIX_DBMAPS_DIR} ${OMBRIX_AUTHCOMS_DIR} ${OMBRIX_SERCOMS_DIR} ${OMBRIX_PANETS_DIR})
    file(MAKE_DIRECTORY "${OMBRIX_APP_DIR}/${dir}")
    install(DIRECTORY DESTINATION "${dir}")
endforeach()
# The download area is state, not part of what is installed: the runner
# creates it where the installation keeps its state.
file(MAKE_DIRECTORY "${OMBRIX_APP_DIR}/Downloads")

# A shared library at the root of the application directory.
function(ombrix_add_library name)
    add_library(${name} SHARED ${ARGN})
    target_include_directories(${name} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${name} LIBRARY DESTINATION . RUNTIME DESTINATION .)
endfunction()

# A program at the root of the application directory.
function(ombrix_add_program name)
    add_executable(${name} ${ARGN})
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${name} RUNTIME DESTINATION .)
endfunction()

# A plug-in (lib<Name>.so) in a folder of the application directory;
# its RPATH climbs back to the root where the shared libraries live.
function(ombrix_add_plugin name folder)
    add_library(${name} MODULE ${ARGN})
    set_target_properties(${name} PROPERTIES
        LIBRARY_OUTPUT_DIRECTORY "${OMBRIX_APP_DIR}/${folder}")
    file(RELATIVE_PATH back "${OMBRIX_APP_DIR}/${folder}" "${OMBRIX_APP_DIR}")
    string(REGEX REPLACE "/$" "" back "${back}")
    set_target_properties(${name} PROPERTIES INSTALL_RPATH "$ORIGIN/${back}")
    install(TARGETS ${name} LIBRARY DESTINATION "${folder}")
endfunction()

# The installation's table definitions, seed data and blobs, copied as they
# stand into the application directory at every build.
function(ombrix_stage_data folder)
    add_custom_target(${folder} ALL
        COMMAND ${CMAKE_COMMAND} -E copy_directory "${PROJECT_SOURCE_DIR}/${folder}" "${OMBRIX_APP_DIR}/${folder}"
        COMMENT "Staging ${folder}")
    install(DIRECTORY "${PROJECT_SOURCE_DIR}/${folder}/" DESTINATION "${folder}")
endfunction()
