# The Windows kit: one ZIP per architecture, built by CPack from the install
# rules below (component "kit" only):
#
#   langmon-VERSION-windows-ARCH/langmon.dll
#   langmon-VERSION-windows-ARCH/langmon-setup.exe
#   langmon-VERSION-windows-ARCH/WINDOWS.txt    docs/WINDOWS.md with CR LF
#   langmon-VERSION-windows-ARCH/LICENSE.txt    LICENSE with CR LF
#
# ARCH is CMAKE_SYSTEM_PROCESSOR of the toolchain (x86_64, i686). The two
# programs are stripped of their debug sections. scripts/kit builds both
# kits; tests/setup checks what the ZIP holds.
set(LANGMON_KIT_NAME "langmon-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR}")
set(LANGMON_KIT_TEXT_DIR ${PROJECT_BINARY_DIR}/kit-text)

# The texts with Windows line ends, so that every editor shows them as
# lines. Made again whenever the source changes (a configure dependency).
function(langmon_kit_text source name)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${LANGMON_KIT_TEXT_DIR}/${name} "${text}")
  install(FILES ${LANGMON_KIT_TEXT_DIR}/${name} DESTINATION . COMPONENT kit)
endfunction()

install(TARGETS langmon langmon-setup RUNTIME DESTINATION . COMPONENT kit)
langmon_kit_text(${PROJECT_SOURCE_DIR}/docs/WINDOWS.md WINDOWS.txt)
langmon_kit_text(${PROJECT_SOURCE_DIR}/LICENSE LICENSE.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME langmon)
set(CPACK_PACKAGE_VENDOR "the langmon developers")
set(CPACK_PACKAGE_FILE_NAME ${LANGMON_KIT_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};langmon;kit;/")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
include(CPack)
