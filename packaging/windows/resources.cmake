# Windows resources for our programs: include this once at file scope, then call
#   eml2pst_windows_resources(TARGET DESCRIPTION [WX])
# per executable. WX adds wxWidgets' own resources (cursors, standard icons); the target must
# then see wxWidgets' include folders, as the wizard already does. Elsewhere it does nothing.
if(NOT WIN32)
  function(eml2pst_windows_resources)
  endfunction()
  return()
endif()

enable_language(RC)
set(EML2PST_WINDOWS_DIR ${CMAKE_CURRENT_LIST_DIR})

function(eml2pst_windows_resources target description)
  cmake_parse_arguments(PARSE_ARGV 2 arg "WX" "" "")
  if(DEFINED EML2PST_VERSION)
    set(version ${EML2PST_VERSION})
  elseif(PROJECT_VERSION)
    set(version ${PROJECT_VERSION})
  else()
    message(FATAL_ERROR "eml2pst_windows_resources: set EML2PST_VERSION or project(VERSION)")
  endif()

  # The version block wants four numbers: "1.2" gives 1,2,0,0 and "0.3.1-rc2" 0,3,1,0.
  string(REGEX MATCH "^[0-9]+(\\.[0-9]+)*" numeric "${version}")
  string(REPLACE "." ";" parts "${numeric}.0.0.0")
  list(SUBLIST parts 0 4 parts)
  list(JOIN parts "," EML2PST_VERSION_RC)

  set(EML2PST_VERSION ${version})
  get_target_property(EML2PST_RC_NAME ${target} OUTPUT_NAME)
  if(NOT EML2PST_RC_NAME)
    set(EML2PST_RC_NAME ${target})
  endif()
  set(EML2PST_RC_DESCRIPTION ${description})
  set(EML2PST_RC_WX 0)
  if(arg_WX)
    set(EML2PST_RC_WX 1)
  endif()

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${EML2PST_WINDOWS_DIR}/eml2pst.rc.in ${rc} @ONLY)
  # windres reports no dependencies: rebuild when the embedded files change.
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
    "${EML2PST_WINDOWS_DIR}/app.manifest;${EML2PST_WINDOWS_DIR}/eml2pst.ico")
  target_sources(${target} PRIVATE ${rc})
endfunction()
