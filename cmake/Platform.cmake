# What differs between the POSIX and the Windows build of the executable.
if(WIN32)
  set(QV_EXECUTABLE_NAME Quilvaren)
else()
  set(QV_EXECUTABLE_NAME quilvaren)
endif()
set(QV_WINDOWS_RESOURCE "")
