# The tab pages: their layouts (pure functions, no display), and the pages
# themselves in a frame under Xvfb.
marquen_add_test(ui pages_layout LIBS marquen_ui_page_layout)
