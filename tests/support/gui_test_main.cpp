#include "gui_test_main.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>

#include <gtest/gtest.h>

#include <cstdio>

namespace testing_support {

int RunGuiTestProgram(int argc, char** argv, const std::function<int()>& body)
{
    ::testing::InitGoogleTest(&argc, argv);
    // The toolkit sees the program's name only: the test options are
    // GoogleTest's.
    int wxArgc = 1;
    char* wxArgv[] = {argv[0], nullptr};
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(wxArgc, wxArgv)) {
        std::fprintf(stderr, "no display: run under xvfb-run\n");
        return 1;
    }
    int result = 1;
    {
        wxGUIEventLoop loop;
        wxEventLoopActivator active(&loop);
        result = body ? body() : RUN_ALL_TESTS();
    }
    wxEntryCleanup();
    return result;
}

}  // namespace testing_support
