# The tab pages: their layouts (pure functions, no display), and the pages
# themselves in a frame under Xvfb.
marquen_add_test(ui pages_layout LIBS marquen_ui_page_layout)

# The pages in a frame, under Xvfb. The end-to-end cases use the real
# communication server and the virtual printer.
if(TARGET marquen_ui_pages AND TARGET quorlink AND TARGET marquen_vprinter)
  find_program(MARQUEN_XVFB_RUN xvfb-run)
  add_executable(test_ui_pages_gui pages_gui_test.cpp)
  target_include_directories(test_ui_pages_gui PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/../printer
                             ${CMAKE_CURRENT_SOURCE_DIR}/../doc ${CMAKE_CURRENT_SOURCE_DIR}/../app)
  target_link_libraries(test_ui_pages_gui PRIVATE marquen_ui_pages marquen_ui_fakes marquen_fake_communication marquen_test_support
                        marquen_vprinter GTest::gtest ${CMAKE_DL_LIBS})
  set_target_properties(test_ui_pages_gui PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(test_ui_pages_gui quorlink)
  if(MARQUEN_XVFB_RUN)
    add_test(NAME ui_pages_gui
             COMMAND ${MARQUEN_XVFB_RUN} -a -s "-screen 0 1280x1024x24" $<TARGET_FILE:test_ui_pages_gui>)
    # The toolkit keeps caches (fonts, themes, the session bus) until the
    # process ends, which a leak check in a sanitizer build would report as ours.
    # Not labelled "threaded": ThreadSanitizer sees the toolkit's own threads
    # (fontconfig's start-up thread) through uninstrumented libraries and
    # reports their races; the server's threads it drives are checked by the
    # comm_server, printer and marquen_cli tests.
    set_tests_properties(ui_pages_gui PROPERTIES
      LABELS "ui;gui" TIMEOUT 300 RESOURCE_LOCK xvfb
      ENVIRONMENT "GDK_BACKEND=x11;ASAN_OPTIONS=detect_leaks=0;MARQUEN_SOURCE_DIR=${PROJECT_SOURCE_DIR};MARQUEN_BIN_DIR=${CMAKE_BINARY_DIR}/bin;MARQUEN_SCREENSHOT_DIR=${CMAKE_BINARY_DIR}/screenshots")
  endif()
endif()
