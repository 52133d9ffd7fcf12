# What the Debian package adds to an install (man pages, Debian's copyright and changelog, the
# README and the JSON schema) and the package itself, made by CPack's DEB generator
# (scripts/package runs it).
#
# The bash completion is installed by every build. LUMITRAX_PACKAGING turns on the rest, which
# needs help2man and gzip; it is off by default so that an ordinary build needs neither.
include(GNUInstallDirs)
option(LUMITRAX_PACKAGING "Generate the man pages and Debian's copyright and changelog (needs help2man)" OFF)
set(LUMITRAX_PACKAGE_NAME lumitrax)
set(LUMITRAX_PACKAGE_MAINTAINER "Lumitrax developers <developers@lumitrax.example>" CACHE STRING
    "The package's maintainer, \"Name <email>\"")

install(FILES ${PROJECT_SOURCE_DIR}/packaging/lumitrax.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME lumitrax)

if(LUMITRAX_PACKAGING)
  find_program(LUMITRAX_HELP2MAN help2man REQUIRED)
  # Each page from the built program's --help and --version and an include file of its own;
  # lumitrax's page also gets every command's "lumitrax help COMMAND".
  set(man_dir ${PROJECT_BINARY_DIR}/man)
  set(man_pages "")
  foreach(program IN ITEMS lumitrax lumitrax-sim lumitrax-panel lumitraxd)
    set(include ${PROJECT_SOURCE_DIR}/packaging/man/${program}.h2m)
    set(page ${man_dir}/${program}.1.gz)
    set(commands OFF)
    if(program STREQUAL "lumitrax")
      set(commands ON)
    endif()
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${man_dir}
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
              ${CMAKE_COMMAND} -DHELP2MAN=${LUMITRAX_HELP2MAN} -DPROGRAM=$<TARGET_FILE:${program}>
              -DINCLUDE=${include} -DOUTPUT=${page} -DCOMMANDS=${commands}
              -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
      DEPENDS ${program} ${include} ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
      COMMENT "Writing the man page of ${program}"
      VERBATIM)
    list(APPEND man_pages ${page})
  endforeach()
  add_custom_target(lumitrax-man-pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # Debian's documentation of a package: the copyright and, compressed with gzip -9n, the
  # changelog (a native package's changelog.gz). The date honours SOURCE_DATE_EPOCH.
  string(TIMESTAMP LUMITRAX_PACKAGE_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  set(doc_dir ${PROJECT_BINARY_DIR}/debian-doc)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/copyright ${doc_dir}/copyright @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${doc_dir}/changelog @ONLY)
  add_custom_command(
    OUTPUT ${doc_dir}/changelog.gz
    COMMAND gzip -9nkf ${doc_dir}/changelog
    DEPENDS ${doc_dir}/changelog
    VERBATIM)
  # The README (the tool, the C++ API, the Python module, ser2net), the JSON schema of the
  # tool's output, the recipe format and lumitraxd's HTTP API, compressed as Debian does documents over 4 kB.
  set(docs ${doc_dir}/changelog.gz)
  foreach(doc IN ITEMS README.md docs/json.md docs/recipes.md docs/http.md docs/modbus.md docs/mqtt.md)
    get_filename_component(name ${doc} NAME)
    configure_file(${PROJECT_SOURCE_DIR}/${doc} ${doc_dir}/${name} COPYONLY)
    add_custom_command(
      OUTPUT ${doc_dir}/${name}.gz
      COMMAND gzip -9nkf ${doc_dir}/${name}
      DEPENDS ${doc_dir}/${name}
      VERBATIM)
    list(APPEND docs ${doc_dir}/${name}.gz)
  endforeach()
  add_custom_target(lumitrax-docs ALL DEPENDS ${docs})
  install(FILES ${doc_dir}/copyright ${docs}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${LUMITRAX_PACKAGE_NAME})
  # The library stays in the one package with the programs that use it (see the file).
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${LUMITRAX_PACKAGE_NAME})
endif()

# --- the package (cpack -G DEB in a build configured with prefix /usr) ---
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${LUMITRAX_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${LUMITRAX_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "control panel and tools for the Lumitrax LED lighting controller")
# The extended description; CPack puts the summary above it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "The Lumitrax controller drives 16 LED lighting channels and 4 strobe trigger
rows for machine-vision rigs over a serial line (RS-232, a USB serial adapter
or a serial device server on the network).
.
This package holds the operator's window (lumitrax-panel), the command-line
tool for scripts and SSH sessions (lumitrax, with bash completion), a virtual
controller for trying both without hardware (lumitrax-sim), the C++
Controller API (liblumitrax with its headers, CMake package and pkg-config
file), the Python module lumitrax, and lumitraxd, the service that serves
the controllers of one PC over HTTP JSON (a systemd unit, not enabled).")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The panel's Korean captions need a CJK font; without one they show as boxes.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-noto-cjk)
# Library dependencies come from dpkg-shlibdeps; the shlibs file and the ldconfig trigger
# come from CPack.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The ldconfig trigger that Debian asks of a package with a shared library. (CPack's own
# postinst and postrm still run ldconfig as well; CPack leaves them out only when the package
# brings scripts of its own, which would be empty: lintian then warns of those instead.)
# lumitraxd: its configuration is a conffile; the maintainer scripts add the system user
# lumitrax and tell systemd of the unit without enabling it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers
    ${PROJECT_SOURCE_DIR}/packaging/conffiles ${PROJECT_SOURCE_DIR}/packaging/postinst
    ${PROJECT_SOURCE_DIR}/packaging/prerm ${PROJECT_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
# The Python module is built for one interpreter's ABI (the cpython-3XY in its file name).
get_property(python_version GLOBAL PROPERTY LUMITRAX_PYTHON_VERSION)
if(python_version)
  string(REPLACE "." ";" python_parts "${python_version}")
  list(GET python_parts 0 python_major)
  list(GET python_parts 1 python_minor)
  math(EXPR python_next "${python_minor} + 1")
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= ${python_version}), python3 (<< ${python_major}.${python_next})")
endif()
# postinst adds the user lumitrax; the unit's reload sends SIGHUP with procps's /bin/kill, which
# a minimal system lacks; libsystemd0 (lumitraxd's readiness and watchdog) comes from
# dpkg-shlibdeps.
if(CPACK_DEBIAN_PACKAGE_DEPENDS)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", adduser, procps")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, procps")
endif()
include(CPack)
