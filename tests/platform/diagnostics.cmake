# Diagnostics: handler, recent log.
marquen_add_test(platform diagnostics LIBS marquen_platform_diagnostics LABELS threaded)
