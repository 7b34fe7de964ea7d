#pragma once
// An application object whose hooks record their calls, in a scratch profile.
#include "doc_test_util.h"
#include "marquen_app.h"

#include <wx/fileconf.h>
#include <wx/mstream.h>

#include <sstream>

#include <string>
#include <vector>

namespace app_testing {

class FakeWaitThread : public IWaitThread {
public:
    explicit FakeWaitThread(std::vector<std::string>& calls) : m_calls(calls) {}
    void Stop() override { m_calls.push_back("StopWaitThread"); }

private:
    std::vector<std::string>& m_calls;
};

class RecordingApp : public CMarquenApp {
public:
    RecordingApp(IMessageBox& messageBox, testing_support::FakeDocumentWindows& windows)
        : CMarquenApp(messageBox), m_windows(windows)
    {
    }

    bool CreateCommunication() override
    {
        calls.push_back("CreateCommunication");
        return communicationWorks;
    }
    void ConnectPrinter() override
    {
        calls.push_back("ConnectPrinter");
        baudRateAtConnect = m_nBaudRate;
        programDirAtConnect = m_strProgramDir;
        CMarquenApp::ConnectPrinter();
    }

    using CMarquenApp::OpenDocumentFileDefault;

    std::vector<std::string> calls;
    std::vector<std::string> recentFiles;
    std::vector<std::string> statusShown;
    bool communicationWorks = true;
    bool mainFrameWorks = true;
    int baudRateAtConnect = -1;
    std::string programDirAtConnect;
    bool profileWrittenBeforeExit = false;
    /// Attached to the document with the main frame, as the desktop does.
    IImportQuestion* attachImportQuestion = nullptr;

protected:
    void InitFrameworkSupport() override { calls.push_back("InitFrameworkSupport"); }
    std::unique_ptr<IWaitThread> CreateWaitThread() override
    {
        calls.push_back("CreateWaitThread");
        return std::make_unique<FakeWaitThread>(calls);
    }
    void LoadStdProfileSettings(wxConfigBase&, int nRecentFiles) override
    {
        calls.push_back("LoadStdProfileSettings " + std::to_string(nRecentFiles));
    }
    void InitComponentSupport() override { calls.push_back("InitComponentSupport"); }
    bool CreateMainFrame(CMarquenDoc& doc) override
    {
        calls.push_back("CreateMainFrame");
        if (mainFrameWorks)
            m_windows.Attach(doc);
        if (attachImportQuestion != nullptr)
            doc.AttachImportQuestion(attachImportQuestion, nullptr);
        return mainFrameWorks;
    }
    bool ProcessCommandLine() override
    {
        calls.push_back("ProcessCommandLine");
        return CMarquenApp::ProcessCommandLine();
    }
    void ShowMainWindow() override { calls.push_back("ShowMainWindow"); }
    void AddToRecentFileList(const std::string& path) override { recentFiles.push_back(path); }
    void ShowStatusText(const std::string& text) override { statusShown.push_back(text); }
    void OnAppAbout() override { calls.push_back("OnAppAbout"); }
    void ShutdownCommunication() override { calls.push_back("ShutdownCommunication"); }
    void OfferDriverSwitchBack() override { calls.push_back("OfferDriverSwitchBack"); }
    void TermComponentSupport() override { calls.push_back("TermComponentSupport"); }
    int FrameworkExit() override
    {
        calls.push_back("FrameworkExit");
        profileWrittenBeforeExit = std::filesystem::exists(GetProfilePath());
        return 3;
    }

private:
    testing_support::FakeDocumentWindows& m_windows;
};

/// The entries of section "Settings" of a profile file, in file order: the
/// names from the file's lines, the values read back through the profile
/// reader (keys with spaces are escaped on disk).
inline std::vector<std::pair<std::string, long>> ReadSection(const std::string& file)
{
    std::vector<uint8_t> bytes = testing_support::ReadFileBytes(file);
    std::string text(bytes.begin(), bytes.end());
    wxMemoryInputStream stream(text.data(), text.size());
    wxFileConfig profile(stream, wxConvUTF8);
    profile.SetPath(wxString::FromUTF8("/Settings"));

    std::vector<std::pair<std::string, long>> entries;
    std::istringstream lines(text);
    std::string line;
    bool inSection = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line[0] == '[') {
            inSection = line == "[Settings]";
            continue;
        }
        std::string::size_type equals = line.find('=');
        if (!inSection || equals == std::string::npos)
            continue;
        std::string name;
        for (size_t i = 0; i < equals; ++i) {
            if (line[i] == '\\' && i + 1 < equals)
                ++i;
            name += line[i];
        }
        long value = -12345;
        profile.Read(wxString::FromUTF8(name), &value);
        entries.emplace_back(name, value);
    }
    return entries;
}

class AppFixture : public ::testing::Test {
protected:
    AppFixture() : windows(page), app(messages, windows)
    {
        app.SetProfilePath((dir / "config/Marquen.conf").string());
    }

    std::string WriteBmp(const std::string& name, uint32_t width, uint32_t height)
    {
        testing_support::WriteFileBytes(dir / name, doc_testing::MakeBmp(width, height, doc_testing::Diagonal));
        return (dir / name).string();
    }

    testing_support::TempDir dir;
    testing_support::RecordingMessageBox messages;
    testing_support::FakePictureInfoPage page;
    testing_support::FakeDocumentWindows windows;
    RecordingApp app;
};

}  // namespace app_testing
