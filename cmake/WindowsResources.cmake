# Windows resources of the executables: every program gets a VERSIONINFO made
# from the project version (ExeVersionString reads it back); the window also
# gets its application manifest. Does nothing on other systems.
#
#   kelvanor_windows_resources(TARGET DESCRIPTION [MANIFEST file])
function(kelvanor_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  cmake_parse_arguments(ARG "" "MANIFEST" "" ${ARGN})
  set(KELVANOR_RC_NAME ${target})
  set(KELVANOR_RC_DESCRIPTION "${description}")
  set(KELVANOR_RC_EXTRA "")
  if(ARG_MANIFEST)
    # 1 = the manifest the loader reads when it creates the process, 24 = RT_MANIFEST.
    set(KELVANOR_RC_EXTRA "1 24 \"${ARG_MANIFEST}\"")
  endif()
  set(rc ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/packaging/windows/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
