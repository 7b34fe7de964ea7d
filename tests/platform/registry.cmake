# Registry key store: the tree and its text form, the file under a scratch
# XDG_CONFIG_HOME, and concurrent writers (threads and processes).
marquen_add_test(platform registry_store LIBS marquen_platform_registry)
marquen_add_test(platform registry_concurrency LIBS marquen_platform_registry Threads::Threads LABELS threaded)
