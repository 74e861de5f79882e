# What `cmake --install` installs, and the package that `cpack` (or the `package` target)
# makes of it: on Linux a Debian package of the tools and libraries, on Windows a ZIP laid
# out for the two people who unpack it, whoever installs the driver on a host and whoever
# commissions stations with the tools.
file(GLOB devado_docs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md)
set(devado_docs ${PROJECT_SOURCE_DIR}/README.md ${devado_docs})

if(WIN32)
  # driver/   what goes onto a host: the driver and the packet library (the host brings
  #           its own runtime library)
  # tools/    the commissioning tools with every DLL they load, the stand-in runtime too
  # docs/     the README and the notes
  # DEVADO01.int, a sample init file
  # Only the DLLs: the import libraries are for linking against them here.
  install(TARGETS devado dov_pakt
          RUNTIME DESTINATION driver
          ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
  install(TARGETS devado-host countnet-sim devado dov_pakt hevpro
          RUNTIME DESTINATION tools
          ARCHIVE DESTINATION lib EXCLUDE_FROM_ALL)
  # The text files with Windows line ends, for the editors of older hosts. The driver reads
  # its init file with either.
  foreach(name README-tools.txt DEVADO01.int)
    configure_file(${PROJECT_SOURCE_DIR}/docs/${name} ${CMAKE_BINARY_DIR}/crlf/${name}
                   @ONLY NEWLINE_STYLE CRLF)
  endforeach()
  install(FILES ${CMAKE_BINARY_DIR}/crlf/README-tools.txt DESTINATION tools)
  install(FILES ${CMAKE_BINARY_DIR}/crlf/DEVADO01.int DESTINATION .)
  install(FILES ${devado_docs} DESTINATION docs)
else()
  # The tools find the runtime and packet libraries in the private folder through their
  # RPATH; the driver finds the packet library beside it. devado-host loads the driver
  # from there by name (see runner/driver_library.cpp).
  set_target_properties(devado-host countnet-sim PROPERTIES
                        INSTALL_RPATH "$ORIGIN/${DEVADO_BINDIR_TO_LIBDIR}")
  set_target_properties(devado PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS devado-host countnet-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(TARGETS devado dov_pakt hevpro LIBRARY DESTINATION ${DEVADO_INSTALL_LIBDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/docs/man/devado-host.1
                ${PROJECT_SOURCE_DIR}/docs/man/countnet-sim.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${devado_docs} ${PROJECT_SOURCE_DIR}/docs/DEVADO01.int
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  # The gateway service, naming the program where it is installed: the prefix is known
  # only when installing (the package is made with /usr); systemd finds the units of
  # packages under /usr/lib/systemd/system.
  install(CODE "
    set(bindir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(docdir \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DOCDIR}\")
    configure_file(${PROJECT_SOURCE_DIR}/docs/systemd/devado-host.service.in
                   ${CMAKE_BINARY_DIR}/devado-host.service @ONLY)")
  install(FILES ${CMAKE_BINARY_DIR}/devado-host.service DESTINATION lib/systemd/system)
endif()

set(CPACK_PACKAGE_NAME devado)
set(CPACK_PACKAGE_CONTACT "devado maintainers <devado@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "commissioning tools for the devado particle counter driver")
set(CPACK_PACKAGE_DESCRIPTION [[
devado-host loads the devado driver as an HMI/SCADA host does, cold-starts
it, defines its tags and shows what networked particle counters (CountNet
stations) deliver. countnet-sim simulates such stations on loopback
addresses. The driver, its packet library and a stand-in host runtime come
with them.]])
set(CPACK_OUTPUT_FILE_PREFIX packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME devado-${PROJECT_VERSION}-windows-i686)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME devado-tools)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE i386)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  # The versions the programs and libraries ask of the C library (GLIBC_2.34), of the C++
  # library (GLIBCXX_3.4.30, from gcc 12), of libgcc (GCC_7.0.0) and of the MQTT client
  # library (its 1.6 interface), as `objdump -T` lists them. A package of architecture
  # i386 depends on the i386 packages of these names.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6 (>= 2.34), libgcc-s1 (>= 7), libmosquitto1 (>= 1.6), libsqlite3-0 (>= 3.7.14), libstdc++6 (>= 12)")
endif()
include(CPack)
