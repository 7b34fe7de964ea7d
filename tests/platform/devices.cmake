# Devices: port map, serial default settings.
marquen_add_test(platform devices_port_map LIBS marquen_platform_devices marquen_platform_diagnostics)
marquen_add_test(platform devices_serial_config LIBS marquen_platform_devices util)
# Device setup and hot-plug: the rules anywhere, the printer under the
# virtual USB printer, one run per printer it needs.
marquen_add_test(platform devices_device_setup LIBS marquen_platform_devices marquen_platform_window
  marquen_platform_kernel LABELS usb threaded)
target_include_directories(test_platform_devices_device_setup PRIVATE ${PROJECT_SOURCE_DIR}/usb_driver)
add_dependencies(test_platform_devices_device_setup marquen_usb_driver_file)
if(TARGET marquen_vprinter_usb)
  add_dependencies(test_platform_devices_device_setup vprinter)
  function(device_setup_usb_test name filter)
    cmake_parse_arguments(V "NO_SERIAL" "" "OPTIONS;ENVIRONMENT" ${ARGN})
    set(test_command $<TARGET_FILE:test_platform_devices_device_setup> --gtest_filter=DeviceSetup.${filter})
    # The empty value is spelled out: a CMake list would drop it.
    if(V_NO_SERIAL)
      add_test(NAME DeviceSetupUsb.${name}
               COMMAND $<TARGET_FILE:vprinter> --usb ${V_OPTIONS} --usb-serial "" -- ${test_command})
    else()
      add_test(NAME DeviceSetupUsb.${name} COMMAND $<TARGET_FILE:vprinter> --usb ${V_OPTIONS} -- ${test_command})
    endif()
    set_tests_properties(DeviceSetupUsb.${name} PROPERTIES LABELS "platform;usb;threaded" TIMEOUT 120
      ENVIRONMENT "MARQUEN_BIN_DIR=${CMAKE_BINARY_DIR}/bin;${V_ENVIRONMENT}")
  endfunction()
  device_setup_usb_test(Instance ThePrinterAsADeviceInstance OPTIONS --usb-serial ABC-42
    ENVIRONMENT "EXPECTED_SERIAL=ABC-42")
  # No serial number: the instance is named by its place on the bus.
  device_setup_usb_test(InstanceWithoutSerial ThePrinterAsADeviceInstance NO_SERIAL
    ENVIRONMENT "EXPECTED_SERIAL=1-1")
  device_setup_usb_test(Install InstallingEitherDriverMovesThePrinter OPTIONS --usb-kernel-driver usblp)
  device_setup_usb_test(HotPlug RemovalAndArrivalAreBroadcast OPTIONS --usb-kernel-driver usblp
    --usb-unplug-after 1000 --usb-replug-after 1000)
endif()
