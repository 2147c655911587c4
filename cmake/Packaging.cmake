# What a Debian package needs besides the two programs: the desktop entry,
# the AppStream metadata, the icon set, a man page per program and the bash
# completion of quillmark-cli, then CPack's settings for `cpack -G DEB`.
#
# The man pages and the completion are made at build time from the built
# programs' own --help, so that they always describe the options the
# programs really take.

find_program(HELP2MAN_EXECUTABLE help2man REQUIRED)
find_program(RSVG_CONVERT_EXECUTABLE rsvg-convert REQUIRED)
find_program(GZIP_EXECUTABLE gzip REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

set(QUILLMARK_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)
set(QUILLMARK_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
set(QUILLMARK_APP_ID org.quillmark.quillmark)

# Icons of the desktop application: the SVG as drawn, and PNGs rendered from
# it for the sizes desktops look up before they fall back to scaling.
set(icon_outputs)
if(TARGET quillmark)
  set(icon_svg ${QUILLMARK_PACKAGING_DIR}/icons/quillmark.svg)
  foreach(size 16 24 32 48 64 128 256)
    set(png ${QUILLMARK_PACKAGING_OUT}/icons/${size}x${size}/apps/quillmark.png)
    add_custom_command(OUTPUT ${png}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILLMARK_PACKAGING_OUT}/icons/${size}x${size}/apps
      COMMAND ${RSVG_CONVERT_EXECUTABLE} --width=${size} --height=${size} --output=${png} ${icon_svg}
      DEPENDS ${icon_svg}
      COMMENT "Rendering the ${size}x${size} icon")
    list(APPEND icon_outputs ${png})
    install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  install(FILES ${icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# Man pages, gzipped as Debian ships them. quillmark-cli's page also lists
# every command with its own --help.
set(man_script ${QUILLMARK_PACKAGING_DIR}/man/make_man_page.py)
set(man_outputs)
function(quillmark_man_page target summary)
  set(page ${QUILLMARK_PACKAGING_OUT}/man/${target}.1.gz)
  set(extra ${QUILLMARK_PACKAGING_DIR}/man/${target}.h2m)
  add_custom_command(OUTPUT ${page}
    COMMAND ${Python3_EXECUTABLE} ${man_script} --help2man ${HELP2MAN_EXECUTABLE}
            --program $<TARGET_FILE:${target}> --name ${target} --summary ${summary}
            --include ${extra} ${ARGN} --output ${page}
    DEPENDS ${target} ${man_script} ${extra} ${QUILLMARK_PACKAGING_DIR}/cli_help.py
    COMMENT "Writing the man page of ${target}"
    VERBATIM)
  set(man_outputs ${man_outputs} ${page} PARENT_SCOPE)
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
quillmark_man_page(quillmark-cli "find and recover deleted and lost files from a terminal" --subcommands)
if(TARGET quillmark)
  quillmark_man_page(quillmark "find and recover deleted and lost files")
endif()

# Bash completion of quillmark-cli's commands and their options.
set(completion_script ${QUILLMARK_PACKAGING_DIR}/completion/make_completion.py)
set(completion ${QUILLMARK_PACKAGING_OUT}/completion/quillmark-cli)
add_custom_command(OUTPUT ${completion}
  COMMAND ${Python3_EXECUTABLE} ${completion_script} --program $<TARGET_FILE:quillmark-cli>
          --output ${completion}
  DEPENDS quillmark-cli ${completion_script} ${QUILLMARK_PACKAGING_DIR}/cli_help.py
  COMMENT "Writing the bash completion of quillmark-cli"
  VERBATIM)
install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# /usr/share/doc/quillmark: the copyright in Debian's machine-readable
# format, its licence text taken from the project's LICENSE, and the
# changelog, which a native package keeps as changelog.gz (gzip -9n: the
# highest compression and no time stamp, so that two builds are the same).
set(CPACK_PACKAGE_CONTACT "Quillmark developers <packages@quillmark.org>")
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/quillmark)
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license_text)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
string(STRIP "${license_text}" license_text)
# Every line of a field's text starts with a space; an empty line is " .".
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REGEX REPLACE "\n" "\n " QUILLMARK_LICENSE_TEXT " ${license_text}")
configure_file(${QUILLMARK_PACKAGING_DIR}/doc/copyright.in ${QUILLMARK_PACKAGING_OUT}/doc/copyright @ONLY)
set(changelog ${QUILLMARK_PACKAGING_OUT}/doc/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E copy ${QUILLMARK_PACKAGING_DIR}/doc/changelog ${QUILLMARK_PACKAGING_OUT}/doc/changelog
  COMMAND ${GZIP_EXECUTABLE} -9nf ${QUILLMARK_PACKAGING_OUT}/doc/changelog
  DEPENDS ${QUILLMARK_PACKAGING_DIR}/doc/changelog
  COMMENT "Compressing the package's changelog"
  VERBATIM)
install(FILES ${QUILLMARK_PACKAGING_OUT}/doc/copyright ${changelog} DESTINATION ${doc_dir})

add_custom_target(quillmark-packaging-files ALL DEPENDS ${icon_outputs} ${man_outputs} ${completion} ${changelog})

if(TARGET quillmark)
  install(FILES ${QUILLMARK_PACKAGING_DIR}/desktop/${QUILLMARK_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${QUILLMARK_PACKAGING_DIR}/metainfo/${QUILLMARK_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # The help, one page per language file (help/German.html for
  # Languages/German.ini), read from the disk so that it opens without a
  # network.
  install(DIRECTORY ${QUILLMARK_PACKAGING_DIR}/help/ DESTINATION ${CMAKE_INSTALL_DATADIR}/quillmark/help
          FILES_MATCHING PATTERN "*.html")
  # The polkit action through which "pkexec quillmark" opens the window as
  # root: without it pkexec drops the display the window needs.
  install(FILES ${QUILLMARK_PACKAGING_DIR}/polkit/${QUILLMARK_APP_ID}.policy
          DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
endif()

# The Debian package. Its Depends come from the shared libraries the two
# programs link (dpkg-shlibdeps); what is loaded or run at run time without
# a link is listed by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillmark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and recover deleted and lost files")
# CPack puts the summary above this as the description's first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Quillmark Pro finds files that were deleted from a disk, a partition or a\n"
  "disk image, and copies them out to a folder you choose. It reads FAT12,\n"
  "FAT16, FAT32 and NTFS volumes, shows what it found as a folder tree or by\n"
  "category, finds files by their contents where the file system no longer\n"
  "lists them, and copies failing disks sector by sector into image files.\n"
  "It never writes to the disk it scans.\n"
  "\n"
  "The package holds the desktop application (quillmark) and the command\n"
  "line (quillmark-cli).")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The skin's images are SVG, drawn through Qt's SVG image and icon plugins;
# the linker drops the unused link to Qt SVG, so it is named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
set(CPACK_STRIP_FILES ON)
# Recommended: the Qt plugins for more picture formats and for Wayland, the
# GStreamer plugins that play previewed audio and video, and catdoc for the
# text of legacy .doc, .xls and .ppt files (without them those previews say
# they cannot be shown), udisks2, through which the window asks for read
# access to a disk its user may not open, and Qt's translations, which word
# the file dialogs in the language the user chose.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
  "qt6-image-formats-plugins, qt6-wayland, catdoc, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-libav, udisks2, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gstreamer1.0-plugins-bad")
include(CPack)
