# The driver's code is compiled once: the shared library that the host loads (which
# exports OxaMain and nothing else) and the static library that the tests link directly
# are both made of the same objects.
add_library(devado_objects OBJECT
  entry/banner.cpp
  entry/driver_info.cpp
  entry/instance_block.cpp
  entry/oxa_main.cpp
  entry/receive_timeout.cpp
  lifecycle/cold_start.cpp
)
target_link_libraries(devado_objects PUBLIC devado_platform dov_pakt hevpro)
set_target_properties(devado_objects PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

add_library(devado_core STATIC $<TARGET_OBJECTS:devado_objects>)
target_link_libraries(devado_core PUBLIC devado_platform dov_pakt hevpro)

if(WIN32)
  devado_shared_library(devado $<TARGET_OBJECTS:devado_objects>
                        entry/dll_main.cpp entry/devado.def)
else()
  devado_shared_library(devado $<TARGET_OBJECTS:devado_objects>)
  target_link_options(devado PRIVATE "LINKER:--exclude-libs,ALL")
endif()
target_link_libraries(devado PRIVATE devado_platform dov_pakt hevpro)
