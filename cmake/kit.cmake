# The Windows kit: one ZIP per architecture, built by CPack from the install
# rules below (component "kit" only):
#
#   langmon-VERSION-windows-ARCH/langmon.dll
#   langmon-VERSION-windows-ARCH/langmon-setup.exe
#   langmon-VERSION-windows-ARCH/WINDOWS.txt    docs/WINDOWS.md with CR LF
#   langmon-VERSION-windows-ARCH/CHANGES.txt    CHANGES.md, the release notes
#   langmon-VERSION-windows-ARCH/LICENSE.txt    LICENSE, then LICENSE-RUNTIME
#                                               (the notices of the runtime
#                                               linked into both programs)
#
# ARCH is CMAKE_SYSTEM_PROCESSOR of the toolchain (x86_64, i686). The two
# programs are stripped of their debug sections, and signed after that when
# scripts/kit --sign asks (kit_sign.cmake). scripts/kit builds both kits;
# tests/setup checks what the ZIP holds.
set(LANGMON_KIT_NAME "langmon-${PROJECT_VERSION}-windows-${CMAKE_SYSTEM_PROCESSOR}")
set(LANGMON_KIT_TEXT_DIR ${PROJECT_BINARY_DIR}/kit-text)

# The texts with Windows line ends, so that every editor shows them as
# lines; several sources are joined with an empty line between them. Made
# again whenever a source changes (a configure dependency).
function(langmon_kit_text name)
  set(text "")
  foreach(source ${ARGN})
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    file(READ ${source} part)
    if(NOT text STREQUAL "")
      string(APPEND text "\n")
    endif()
    string(APPEND text "${part}")
  endforeach()
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${LANGMON_KIT_TEXT_DIR}/${name} "${text}")
  install(FILES ${LANGMON_KIT_TEXT_DIR}/${name} DESTINATION . COMPONENT kit)
endfunction()

install(TARGETS langmon langmon-setup RUNTIME DESTINATION . COMPONENT kit)
langmon_kit_text(WINDOWS.txt ${PROJECT_SOURCE_DIR}/docs/WINDOWS.md)
langmon_kit_text(CHANGES.txt ${PROJECT_SOURCE_DIR}/CHANGES.md)
langmon_kit_text(LICENSE.txt ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/LICENSE-RUNTIME)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME langmon)
set(CPACK_PACKAGE_VENDOR "the langmon developers")
set(CPACK_PACKAGE_FILE_NAME ${LANGMON_KIT_NAME})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};langmon;kit;/")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/kit_sign.cmake)
include(CPack)
