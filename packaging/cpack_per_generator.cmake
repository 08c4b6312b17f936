# Read by cpack once per generator: which components each package takes, and where.
#   archive (TGZ): the show folder at the top of the archive's folder, with lib/ and README.txt
#   DEB: the show in /usr/lib/demoplayer (without lib/: dpkg-shlibdeps turns the programs'
#        needs into Depends on Debian's packages), the command and documents under /usr
if(CPACK_GENERATOR STREQUAL "DEB")
  # Each project's folder is taken from the package's root.
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
  set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CPACK_DEMO_BUILD_DIR};demoplayer;show;/usr/lib/demoplayer"
    "${CPACK_DEMO_BUILD_DIR};demoplayer;deb;/usr")
else()
  set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CPACK_DEMO_BUILD_DIR};demoplayer;show;/"
    "${CPACK_DEMO_BUILD_DIR};demoplayer;bundle;/"
    "${CPACK_DEMO_BUILD_DIR};demoplayer;readme;/")
endif()
