# Debian packages, one per brand (scripts/package builds them into dist/).
# The brands share only the browser extension and its host, which are a
# package of their own (browser/) that each brand recommends.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantortrans)
set(CPACK_PACKAGE_VENDOR "${VT_DEVELOPER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VT_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_SOURCE_DIR}/dist)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL VantorTrans MiraboTrans DoerfalTrans ${VT_BROWSER_COMPONENT})
if(VT_BROWSER_COMPONENT)
  foreach(brand VANTORTRANS MIRABOTRANS DOERFALTRANS)
    set(CPACK_DEBIAN_${brand}_PACKAGE_RECOMMENDS "vantortrans-browser (= ${PROJECT_VERSION})")
  endforeach()
endif()
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VT_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Dependencies come from the binaries, not from a hand-kept list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Qt finds no platform plugin without this one; shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
