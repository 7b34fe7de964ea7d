# Message windows: queues, sends across threads, timers, device broadcasts.
marquen_add_test(platform window_messages LIBS marquen_platform_window LABELS threaded)
marquen_add_test(platform window_notify LIBS marquen_platform_window LABELS threaded)
