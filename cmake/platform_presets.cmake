# Writes the presets of the platforms in cmake/platforms.txt, which
# CMakePresets.json includes: run after changing the table (a test checks
# the file is current).
#   cmake [-DOUT=file] -P cmake/platform_presets.cmake
include(${CMAKE_CURRENT_LIST_DIR}/platforms.cmake)
if(NOT OUT)
  set(OUT ${CMAKE_CURRENT_LIST_DIR}/platform-presets.json)
endif()

set(configure "")
set(build "")
set(workflow "")
set(package "")
foreach(name ${KRELT_PLATFORMS})
  krelt_platform(family ${name} family)
  krelt_platform(triple ${name} triple)
  krelt_platform(debian ${name} debian)
  # The family's hidden preset (cmake/base-presets.json) does the rest.
  list(APPEND configure "    {\"name\": \"${name}\", \"inherits\": \"${family}\", \"displayName\": \"krelt and krelt-info for ${triple}\"}")
  list(APPEND build "    {\"name\": \"${name}\", \"configurePreset\": \"${name}\"}")
  list(APPEND workflow "    {\"name\": \"${name}\", \"steps\": [{\"type\": \"configure\", \"name\": \"${name}\"}, {\"type\": \"build\", \"name\": \"${name}\"}]}")
  # A Windows row once more with clang-cl and lld-link (the hidden preset
  # msvc), named NAME-msvc.
  if(family STREQUAL "w64-mingw32")
    krelt_platform(processor ${name} processor)
    list(APPEND configure "    {\"name\": \"${name}-msvc\", \"inherits\": \"msvc\", \"displayName\": \"krelt and krelt-info for ${processor}-pc-windows-msvc (clang-cl, lld-link)\", \"cacheVariables\": {\"KRELT_PLATFORM\": \"${name}\"}}")
    list(APPEND build "    {\"name\": \"${name}-msvc\", \"configurePreset\": \"${name}-msvc\"}")
    list(APPEND workflow "    {\"name\": \"${name}-msvc\", \"steps\": [{\"type\": \"configure\", \"name\": \"${name}-msvc\"}, {\"type\": \"build\", \"name\": \"${name}-msvc\"}]}")
  endif()
  if(NOT debian STREQUAL "-")
    list(APPEND package "    {\"name\": \"${name}\", \"inherits\": \"debian\", \"configurePreset\": \"${name}\"}")
  endif()
endforeach()
foreach(section configure build workflow package)
  list(JOIN ${section} ",\n" ${section})
endforeach()
file(WRITE ${OUT} "{
  \"version\": 6,
  \"include\": [\"base-presets.json\"],
  \"configurePresets\": [
${configure}
  ],
  \"buildPresets\": [
${build}
  ],
  \"workflowPresets\": [
${workflow}
  ],
  \"packagePresets\": [
${package}
  ]
}
")
