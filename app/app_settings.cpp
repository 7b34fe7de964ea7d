// The ten settings in the user's profile, and the profile file itself.
#include "marquen_app.h"

#include <wx/fileconf.h>
#include <wx/log.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

namespace {

// A key that holds no integer, or one beyond the field's range, keeps the
// default: the framework's integer reader gives the default for the former,
// and a wrapped value would be no better for the latter.
int ReadInt(wxConfigBase& profile, const char* key, int current)
{
    long value = current;
    if (!profile.Read(wxString::FromUTF8(key), &value, static_cast<long>(current)))
        return current;
    if (value < INT_MIN || value > INT_MAX)
        return current;
    return static_cast<int>(value);
}

// A colour is a 32-bit 0x00BBGGRR value; one written as a signed integer by an
// earlier version reads back negative and means the same bits.
uint32_t ReadColour(wxConfigBase& profile, const char* key, uint32_t current)
{
    long value = static_cast<long>(current);
    if (!profile.Read(wxString::FromUTF8(key), &value, static_cast<long>(current)))
        return current;
    if (value < INT_MIN || value > static_cast<long>(UINT32_MAX))
        return current;
    return static_cast<uint32_t>(value);
}

void WriteInt(wxConfigBase& profile, const char* key, long value)
{
    profile.Write(wxString::FromUTF8(key), value);
}

}  // namespace

std::string app_settings::DefaultProfilePath()
{
    std::filesystem::path folder;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        folder = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* user = ::getpwuid(::getuid());
            home = user != nullptr ? user->pw_dir : "/tmp";
        }
        folder = std::filesystem::path(home) / ".config";
    }
    return (folder / (std::string(kAppName) + ".conf")).string();
}

void CMarquenApp::OpenProfile()
{
    if (m_pProfile)
        return;
    // The file is written atomically at Flush, into this folder; a missing
    // folder would make the write fail.
    std::error_code ignored;
    std::filesystem::path file(m_strProfilePath);
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ignored);
    wxLogNull quiet;  // an unreadable file is reported as missing keys, not a dialog
    m_pProfile = std::make_unique<wxFileConfig>(wxString::FromUTF8(app_settings::kAppName),
                                                wxString::FromUTF8(app_settings::kVendorName),
                                                wxString::FromUTF8(m_strProfilePath), wxString(),
                                                wxCONFIG_USE_LOCAL_FILE);
}

wxConfigBase& CMarquenApp::GetProfile()
{
    OpenProfile();
    return *m_pProfile;
}

void CMarquenApp::LoadSettings()
{
    m_nInterface = app_settings::kDefaultInterface;
    m_nPort = app_settings::kDefaultPort;
    m_nBaudRate = app_settings::kDefaultBaudRate;
    m_nParity = app_settings::kDefaultParity;
    m_nStopBits = app_settings::kDefaultStopBits;
    m_nFlowControl = app_settings::kDefaultFlowControl;
    m_nReadTimeout = app_settings::kDefaultReadTimeout;
    m_nWriteTimeout = app_settings::kDefaultWriteTimeout;
    m_crBackground = app_settings::kDefaultBackground;
    // "Version" keeps the value it has: 0 unless something set it before.

    wxConfigBase& profile = GetProfile();
    profile.SetPath(wxString::FromUTF8("/") + wxString::FromUTF8(app_settings::kSection));
    m_nInterface = ReadInt(profile, app_settings::kInterface, m_nInterface);
    m_nPort = ReadInt(profile, app_settings::kPort, m_nPort);
    m_nBaudRate = ReadInt(profile, app_settings::kBaudRate, m_nBaudRate);
    m_nParity = ReadInt(profile, app_settings::kParity, m_nParity);
    m_nStopBits = ReadInt(profile, app_settings::kStop, m_nStopBits);
    m_nFlowControl = ReadInt(profile, app_settings::kFlowControl, m_nFlowControl);
    m_nReadTimeout = ReadInt(profile, app_settings::kReadTimeout, m_nReadTimeout);
    m_nWriteTimeout = ReadInt(profile, app_settings::kWriteTimeout, m_nWriteTimeout);
    m_nVersion = ReadInt(profile, app_settings::kVersion, m_nVersion);
    m_crBackground = ReadColour(profile, app_settings::kBackgroundColor, m_crBackground);
    profile.SetPath(wxString::FromUTF8("/"));
}

bool CMarquenApp::SaveSettings()
{
    wxConfigBase& profile = GetProfile();
    profile.SetPath(wxString::FromUTF8("/") + wxString::FromUTF8(app_settings::kSection));
    WriteInt(profile, app_settings::kInterface, m_nInterface);
    WriteInt(profile, app_settings::kPort, m_nPort);
    WriteInt(profile, app_settings::kBaudRate, m_nBaudRate);
    WriteInt(profile, app_settings::kParity, m_nParity);
    WriteInt(profile, app_settings::kStop, m_nStopBits);
    WriteInt(profile, app_settings::kFlowControl, m_nFlowControl);
    WriteInt(profile, app_settings::kReadTimeout, m_nReadTimeout);
    WriteInt(profile, app_settings::kWriteTimeout, m_nWriteTimeout);
    WriteInt(profile, app_settings::kVersion, m_nVersion);
    WriteInt(profile, app_settings::kBackgroundColor, static_cast<long>(m_crBackground));
    profile.SetPath(wxString::FromUTF8("/"));

    bool written;
    {
        // The framework would report a failed write in a dialog of its own; the
        // message below says which file, through the program's message box.
        wxLogNull quiet;
        written = profile.Flush();
    }
    if (!written) {
        m_messageBox.ShowMessage("The settings could not be saved to " + m_strProfilePath + ".", MessageButtons::Ok,
                                 MessageIcon::Warning);
    }
    return written;
}
