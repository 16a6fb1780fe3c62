# Installing: the program, the stand-ins for the outside libraries and the manual page; and a
# Debian package of the same (cpack -G DEB in the build folder).
#
#   prefix/bin/quilvaren, prefix/bin/tcp_sink
#   prefix/lib/libSendTSTCP.so                   the TCP sender (found by its bare name)
#   prefix/lib/quilvaren/libfile_tuner*.so       the file-playing tuner drivers
#   prefix/share/man/man1/quilvaren.1
#   prefix/share/doc/quilvaren/                  README, outside components, a channel list
# Windows builds put the libraries beside Quilvaren.exe, where a bare name is looked for first.
if(WIN32)
  set(qv_sender_destination ${CMAKE_INSTALL_BINDIR})
  set(qv_tuner_destination ${CMAKE_INSTALL_BINDIR})
else()
  set(qv_sender_destination ${CMAKE_INSTALL_LIBDIR})
  set(qv_tuner_destination ${CMAKE_INSTALL_LIBDIR}/quilvaren)
endif()

install(TARGETS quilvaren RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET tcp_sink)
  install(TARGETS tcp_sink RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET sendtstcp)
  install(TARGETS sendtstcp LIBRARY DESTINATION ${qv_sender_destination}
                            RUNTIME DESTINATION ${qv_sender_destination})
endif()
foreach(tuner file_tuner file_tuner_basic)
  if(TARGET ${tuner})
    install(TARGETS ${tuner} LIBRARY DESTINATION ${qv_tuner_destination}
                             RUNTIME DESTINATION ${qv_tuner_destination})
  endif()
endforeach()
if(NOT WIN32)
  install(FILES docs/quilvaren.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
install(FILES README.md docs/outside-components.md stand-ins/file_tuner/example.channels
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_PACKAGE_NAME quilvaren)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "${QV_COMPANY_NAME}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Caption packets of ISDB transport streams: extract, merge, filter, display, convert")
set(CPACK_PACKAGE_CONTACT "Quilvaren developers <quilvaren@localhost>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
