# Kernel objects: every test here runs threads, so all carry the "threaded"
# label for the ThreadSanitizer run.
marquen_add_test(platform kernel_sync LIBS marquen_platform_kernel LABELS threaded)
marquen_add_test(platform kernel_thread LIBS marquen_platform_kernel LABELS threaded)
marquen_add_test(platform kernel_device_io LIBS marquen_platform_kernel util LABELS threaded)
marquen_add_test(platform kernel_served_device LIBS marquen_platform_devices LABELS threaded)
