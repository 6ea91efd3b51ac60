# The host framework the plug-in compiles and links against: our stand-in in
# host/ (libsitehost.so), or the site host's own framework, given by one of
# its headers that declares the device and provider base classes and
# get_ttime, the folders its headers are in, and its library. The plug-in's
# sources name the framework's headers only in device/host_framework.h.
set(VELMOCAIR_HOST_FRAMEWORK_HEADER "" CACHE STRING
    "Header of the site host's framework that declares what the plug-in uses (empty: the stand-in in host/)")
set(VELMOCAIR_HOST_INCLUDE_DIRS "" CACHE STRING "Folders of the site host's framework headers")
set(VELMOCAIR_HOST_LIBRARY "" CACHE FILEPATH "The site host's framework library")

add_library(velmocair_host_framework INTERFACE)
if(VELMOCAIR_HOST_FRAMEWORK_HEADER STREQUAL "")
  add_subdirectory(host)
  target_link_libraries(velmocair_host_framework INTERFACE sitehost)
else()
  if(VELMOCAIR_HOST_LIBRARY STREQUAL "")
    message(FATAL_ERROR "VELMOCAIR_HOST_FRAMEWORK_HEADER needs VELMOCAIR_HOST_LIBRARY")
  endif()
  # Of the tests, only those that hold for any host framework are built.
  if(VELMOCAIR_BUILD_TOOLS OR VELMOCAIR_FUZZ OR VELMOCAIR_BUILD_BENCH)
    message(FATAL_ERROR "the tools, fuzz targets and benchmarks run on the stand-in host: "
                        "build against the site host's framework with -DVELMOCAIR_BUILD_TOOLS=OFF")
  endif()
  target_include_directories(velmocair_host_framework INTERFACE ${VELMOCAIR_HOST_INCLUDE_DIRS})
  target_compile_definitions(velmocair_host_framework INTERFACE
    VELMOCAIR_HOST_FRAMEWORK_HEADER="${VELMOCAIR_HOST_FRAMEWORK_HEADER}")
  target_link_libraries(velmocair_host_framework INTERFACE ${VELMOCAIR_HOST_LIBRARY})
endif()
