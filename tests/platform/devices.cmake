# Devices: port map, spooler port list, serial default configuration.
marquen_add_test(platform devices_port_map LIBS marquen_platform_devices marquen_platform_diagnostics)
marquen_add_test(platform devices_serial_config LIBS marquen_platform_devices util)
