# Installation and the CMake package KwCamera:
#   bin/kwcam                         the host tool
#   lib/libMVCameraControl.so         the SDK the plug-in links
#   lib/kwcamera/libkwcamhik.so       the plug-in (finds the SDK through $ORIGIN/..)
#   include/kwcamera/cameraobject.h   the contract
#   include/kwcamera/sim/mvsim/control.h  the simulator's control interface
#   include/kwcamera/sim/mvcameracontrol.h the SDK's C interface it includes
#   lib/cmake/KwCamera/               the package: KwCamera::contract, KwCamera::simulator
include(CMakePackageConfigHelpers)

set(KWCAMERA_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/KwCamera)
set(KWCAMERA_QT_MIN_VERSION 5.9)
set(KWCAMERA_PLUGIN_INSTALL_PATH
    ${CMAKE_INSTALL_LIBDIR}/kwcamera/${CMAKE_SHARED_LIBRARY_PREFIX}kwcamhik${CMAKE_SHARED_LIBRARY_SUFFIX})
set(KWCAMERA_SIMULATOR_INSTALL_PATH
    ${CMAKE_INSTALL_LIBDIR}/kwcamera/sim/${CMAKE_SHARED_LIBRARY_PREFIX}MVCameraControl${CMAKE_SHARED_LIBRARY_SUFFIX})
set(KWCAMERA_SIMULATOR_INCLUDE_DIR ${CMAKE_INSTALL_INCLUDEDIR}/kwcamera/sim)

install(TARGETS kwcamera_contract EXPORT KwCameraTargets)
install(FILES ${PROJECT_SOURCE_DIR}/src/kwcamera/contract/cameraobject.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kwcamera)
install(FILES ${PROJECT_SOURCE_DIR}/src/mvsim/include/mvsim/control.h
        DESTINATION ${KWCAMERA_SIMULATOR_INCLUDE_DIR}/mvsim)
install(FILES ${PROJECT_SOURCE_DIR}/src/sdk/mvcameracontrol.h DESTINATION ${KWCAMERA_SIMULATOR_INCLUDE_DIR})
install(EXPORT KwCameraTargets NAMESPACE KwCamera:: DESTINATION ${KWCAMERA_PACKAGE_DIR})

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KwCameraConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/KwCameraConfig.cmake
  INSTALL_DESTINATION ${KWCAMERA_PACKAGE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR KWCAMERA_PLUGIN_INSTALL_PATH KWCAMERA_SIMULATOR_INSTALL_PATH
            KWCAMERA_SIMULATOR_INCLUDE_DIR)
# The contract's binary layout is fixed within a minor version only.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/KwCameraConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/KwCameraConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/KwCameraConfigVersion.cmake
        DESTINATION ${KWCAMERA_PACKAGE_DIR})
