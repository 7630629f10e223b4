# Profile-guided optimisation of talvo's layers below the command lines (gcc), driven by build.sh:
#   TALVO_PGO=generate  instrumented code; each run adds its counts to TALVO_PGO_PROFILE_DIR
#   TALVO_PGO=use       optimised with the counts in TALVO_PGO_PROFILE_DIR
#   TALVO_PGO=off       neither (the default)
# Profiles are named by the object's path below the build directory, so an instrumented build in one
# directory trains the optimised build in another. Profiles only steer inlining, block layout and
# branch order: the programs write the same bytes with them or without them.
set(TALVO_PGO "off" CACHE STRING "Profile-guided optimisation of talvo: off, generate or use")
set_property(CACHE TALVO_PGO PROPERTY STRINGS off generate use)
set(TALVO_PGO_PROFILE_DIR "${CMAKE_BINARY_DIR}/pgo-profile" CACHE PATH "Where the talvo profiles are")

if(NOT TALVO_PGO STREQUAL "off" AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  message(FATAL_ERROR "TALVO_PGO=${TALVO_PGO} needs gcc")
endif()

# Applies the chosen mode to one talvo target.
function(talvo_pgo target)
  set(profile_path -fprofile-prefix-path=${CMAKE_BINARY_DIR})
  if(TALVO_PGO STREQUAL "generate")
    # Atomic counters: talvo-pack's workers run the same code at once.
    target_compile_options(${target} PRIVATE -fprofile-generate=${TALVO_PGO_PROFILE_DIR} ${profile_path}
                                             -fprofile-update=atomic)
    target_link_options(${target} PUBLIC -fprofile-generate)
  elseif(TALVO_PGO STREQUAL "use")
    # Code the training does not reach stays optimised for speed, not size. A source edited since the
    # training (a build by hand, without scripts/build.sh) loses its profile with a warning that no
    # option names, so warnings do not fail these objects; every other configuration compiles the
    # same sources with warnings as errors. gcc's bounds warnings misfire on standard-library code
    # that profiles inline differently. ccache cannot see profiles named this way, so these objects
    # are compiled without it, and again whenever the training's stamp changes.
    target_compile_options(${target} PRIVATE -fprofile-use=${TALVO_PGO_PROFILE_DIR} ${profile_path}
                                             -fprofile-partial-training -Wno-missing-profile
                                             -Wno-coverage-mismatch -Wno-array-bounds
                                             -Wno-stringop-overflow -Wno-stringop-overread)
    set_target_properties(${target} PROPERTIES CXX_COMPILER_LAUNCHER "")
    get_target_property(sources ${target} SOURCES)
    set_source_files_properties(${sources} TARGET_DIRECTORY ${target} PROPERTIES OBJECT_DEPENDS
                                ${TALVO_PGO_PROFILE_DIR}/stamp COMPILE_OPTIONS -Wno-error)
  endif()
endfunction()
