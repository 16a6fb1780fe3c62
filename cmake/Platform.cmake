# What differs between the POSIX and the Windows build of the executable.
if(WIN32)
  set(QV_EXECUTABLE_NAME Quilvaren)

  # The version resource carries the contact block (CompanyName, Comments) of the usage text.
  enable_language(RC)
  string(REPLACE "\"" "\"\"" QV_RC_COMPANY_NAME "${QV_COMPANY_NAME}")
  string(REPLACE "\"" "\"\"" QV_RC_COMMENTS "${QV_COMMENTS}")
  configure_file(${PROJECT_SOURCE_DIR}/src/app/quilvaren.rc.in ${PROJECT_BINARY_DIR}/quilvaren.rc
                 @ONLY)
  set(QV_WINDOWS_RESOURCE ${PROJECT_BINARY_DIR}/quilvaren.rc)

  # Message literals reach the binary as CP932 bytes (checked by src/platform/charset_guard.cpp).
  # -static: the executables need no MinGW runtime DLLs beside them. version: GetFileVersionInfoA.
  target_compile_options(quilvaren_core PUBLIC -fexec-charset=CP932)
  target_link_options(quilvaren_core PUBLIC -static)
  target_link_libraries(quilvaren_core PUBLIC version)
else()
  set(QV_EXECUTABLE_NAME quilvaren)
  set(QV_WINDOWS_RESOURCE "")
endif()
