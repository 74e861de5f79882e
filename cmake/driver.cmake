# The driver's code is compiled once: the shared library that the host loads (which
# exports OxaMain and nothing else) and the static library that the tests link directly
# are both made of the same objects.
# The rules for the init file and for tag addresses, judged without acting: compiled once
# into the driver, and into a static library with which the host runner checks an
# installation offline by the very same rules.
add_library(devado_rules_objects OBJECT
  config/init_file_scan.cpp
  config/line_scanner.cpp
  link/station_address.cpp
  tags/tag_rules.cpp
)
set_target_properties(devado_rules_objects PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
add_library(devado_rules STATIC $<TARGET_OBJECTS:devado_rules_objects>)

add_library(devado_objects OBJECT
  config/init_file.cpp
  contracts/instance_block.cpp
  countnet/deferred_log.cpp
  countnet/packet_frame.cpp
  countnet/packet_handler.cpp
  countnet/sample_values.cpp
  countnet/sampling_packet.cpp
  entry/oxa_main.cpp
  lifecycle/banner.cpp
  lifecycle/cold_start.cpp
  lifecycle/driver_info.cpp
  lifecycle/end_oxa.cpp
  lifecycle/instance_teardown.cpp
  lifecycle/receive_timeout.cpp
  lifecycle/warm_start.cpp
  link/incoming_messages_thread.cpp
  link/instance_state.cpp
  link/process_messages.cpp
  link/sampling_config.cpp
  link/send_packet.cpp
  link/socket_wait.cpp
  link/sockets_reopen_thread.cpp
  link/station_link.cpp
  link/station_objects.cpp
  link/station_sockets.cpp
  tags/tag_parse.cpp
  tags/tag_read_write.cpp
)
target_link_libraries(devado_objects PUBLIC devado_platform countnet_codecs dov_pakt hevpro)
set_target_properties(devado_objects PROPERTIES
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

add_library(devado_core STATIC $<TARGET_OBJECTS:devado_objects>
            $<TARGET_OBJECTS:devado_rules_objects>)
target_link_libraries(devado_core PUBLIC devado_platform countnet_codecs dov_pakt hevpro)

if(WIN32)
  devado_shared_library(devado $<TARGET_OBJECTS:devado_objects>
                        $<TARGET_OBJECTS:devado_rules_objects> entry/dll_main.cpp entry/devado.def)
else()
  devado_shared_library(devado $<TARGET_OBJECTS:devado_objects>
                        $<TARGET_OBJECTS:devado_rules_objects>)
  # Hidden visibility does not cover what the C++ library's headers instantiate; the
  # version script leaves the host nothing but OxaMain.
  target_link_options(devado PRIVATE "LINKER:--exclude-libs,ALL"
                      "LINKER:--version-script=${PROJECT_SOURCE_DIR}/entry/devado.map")
  set_property(TARGET devado APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/entry/devado.map)
endif()
target_link_libraries(devado PRIVATE devado_platform countnet_codecs dov_pakt hevpro)
