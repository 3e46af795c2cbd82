# The window logic that needs no window: record check and image CRC, message decoder, value
# validation and the download sequence. Built also without Qt, so its tests run everywhere.
add_library(windows_logic STATIC
  ${CMAKE_SOURCE_DIR}/app/windows/Crcfunc.cpp
  ${CMAKE_SOURCE_DIR}/app/windows/MsgDecoder.cpp
  ${CMAKE_SOURCE_DIR}/app/windows/ValueCheck.cpp
  ${CMAKE_SOURCE_DIR}/app/windows/DownloadSequence.cpp)
target_include_directories(windows_logic PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(windows_logic PUBLIC appcore schedule_helpers Morvand rtl)
