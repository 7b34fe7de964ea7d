// The settings in the user's profile, and the profile file itself.
#include "marquen_app.h"

#include <wx/fileconf.h>
#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/sstream.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A profile holds ten numbers, a web address and a few recent files; a file
// far larger than that is not one.
constexpr uintmax_t kMaxProfileBytes = 1u << 20;

// Collects what the framework logs while it parses the profile. It parses a
// stream, so it names the file '' and a line without a key trips one of its
// assertions; the messages are passed on with the profile's own path.
class ProfileParseLog : public wxLog {
public:
    explicit ProfileParseLog(std::string path)
        : m_path(std::move(path)),
          m_previous(wxLog::SetActiveTarget(this)),
          m_previousAssert(wxSetAssertHandler(nullptr))
    {
    }
    ~ProfileParseLog() override
    {
        wxSetAssertHandler(m_previousAssert);
        wxLog::SetActiveTarget(m_previous);
        for (const auto& [level, text] : m_messages) {
            wxString named = text;
            named.Replace(wxString::FromUTF8("file ''"), wxString::FromUTF8("profile '" + m_path + "'"));
            wxLogGeneric(level, "%s", named);
        }
    }
    ProfileParseLog(const ProfileParseLog&) = delete;
    ProfileParseLog& operator=(const ProfileParseLog&) = delete;

protected:
    void DoLogRecord(wxLogLevel level, const wxString& text, const wxLogRecordInfo&) override
    {
        m_messages.emplace_back(level, text);
    }

private:
    std::string m_path;
    wxLog* m_previous;
    wxAssertHandler_t m_previousAssert;
    std::vector<std::pair<wxLogLevel, wxString>> m_messages;
};

// "Port" is zero-based: COM1 to COM256 (LPT likewise).
constexpr int kHighestPortIndex = 255;

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

// The same for a setting with a range of its own: a value outside it keeps
// the default. A time-out of 0 or less would fail every exchange at once, and
// a port number beyond COM256 names no port: every command would fail with
// a message about the port or the printer instead of the setting.
int ReadIntInRange(wxConfigBase& profile, const char* key, int current, int lowest, int highest)
{
    int value = ReadInt(profile, key, current);
    return value < lowest || value > highest ? current : value;
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

// The profile as its file would hold it; nothing when it cannot be written out.
std::optional<std::string> ProfileText(wxConfigBase& profile)
{
    wxStringOutputStream stream;
    if (!static_cast<wxFileConfig&>(profile).Save(stream, wxConvUTF8))
        return std::nullopt;
    const wxScopedCharBuffer utf8 = stream.GetString().utf8_str();
    return std::string(utf8.data(), utf8.length());
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
    // The profile is read and written as a whole through streams, so that no
    // part of the framework shows a dialog of its own about the file (a hidden
    // one hangs a run without a display) and the file is replaced atomically.
    std::string text;
    m_bProfileUnreadable = false;
    std::error_code error;
    if (std::filesystem::exists(m_strProfilePath, error)) {
        std::ifstream in(m_strProfilePath, std::ios::binary);
        uintmax_t size = std::filesystem::file_size(m_strProfilePath, error);
        if (!in || error || size > kMaxProfileBytes) {
            m_bProfileUnreadable = true;
        } else {
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            m_bProfileUnreadable = in.bad();
        }
    }
    if (m_bProfileUnreadable)
        text.clear();
    wxMemoryInputStream stream(text.data(), text.size());
    {
        ProfileParseLog log(m_strProfilePath);
        m_pProfile = std::make_unique<wxFileConfig>(stream, wxConvUTF8);
    }
    m_strProfileWritten = ProfileText(*m_pProfile).value_or(std::string());
}

bool CMarquenApp::WriteProfile()
{
    if (!m_pProfile)
        return true;
    // A profile that exists but could not be read would lose its other keys
    // (the recent files, the manual's web address) if it were replaced.
    if (m_bProfileUnreadable)
        return false;
    std::optional<std::string> text = ProfileText(*m_pProfile);
    if (!text)
        return false;
    // Nothing changed since the file was read or last written: it is left
    // alone, so a run that changed nothing (marquen-cli's) never puts back
    // what it read over what another run has written since.
    if (*text == m_strProfileWritten)
        return true;

    std::filesystem::path file(m_strProfilePath);
    std::error_code ignored;
    if (file.has_parent_path())
        std::filesystem::create_directories(file.parent_path(), ignored);
    std::string temporary = (file.parent_path() / ("." + file.filename().string() + ".tmp-XXXXXX")).string();
    int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    ::fchmod(fd, 0600);  // the user's own settings
    const char* data = text->data();
    size_t left = text->size();
    bool written = true;
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            written = false;
            break;
        }
        data += n;
        left -= static_cast<size_t>(n);
    }
    written = written && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (written && ::rename(temporary.c_str(), m_strProfilePath.c_str()) == 0) {
        m_strProfileWritten = std::move(*text);
        return true;
    }
    ::unlink(temporary.c_str());
    return false;
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
    m_strHost.clear();
    m_nTcpPort = app_settings::kDefaultTcpPort;
    // "Version" keeps the value it has: 0 unless something set it before.

    wxConfigBase& profile = GetProfile();
    profile.SetPath(wxString::FromUTF8("/") + wxString::FromUTF8(app_settings::kSection));
    m_nInterface = ReadInt(profile, app_settings::kInterface, m_nInterface);
    m_nPort = ReadIntInRange(profile, app_settings::kPort, m_nPort, 0, kHighestPortIndex);
    m_nBaudRate = ReadInt(profile, app_settings::kBaudRate, m_nBaudRate);
    m_nParity = ReadInt(profile, app_settings::kParity, m_nParity);
    m_nStopBits = ReadInt(profile, app_settings::kStop, m_nStopBits);
    m_nFlowControl = ReadInt(profile, app_settings::kFlowControl, m_nFlowControl);
    m_nReadTimeout = ReadIntInRange(profile, app_settings::kReadTimeout, m_nReadTimeout, 1, INT_MAX);
    m_nWriteTimeout = ReadIntInRange(profile, app_settings::kWriteTimeout, m_nWriteTimeout, 1, INT_MAX);
    m_nVersion = ReadInt(profile, app_settings::kVersion, m_nVersion);
    m_crBackground = ReadColour(profile, app_settings::kBackgroundColor, m_crBackground);
    // The network printer's address; profiles of before it have neither key.
    wxString host;
    if (profile.Read(wxString::FromUTF8(app_settings::kHost), &host))
        m_strHost = host.Strip(wxString::both).utf8_string();
    m_nTcpPort = ReadIntInRange(profile, app_settings::kTcpPort, m_nTcpPort, 1, 65535);
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
    profile.Write(wxString::FromUTF8(app_settings::kHost), wxString::FromUTF8(m_strHost));
    WriteInt(profile, app_settings::kTcpPort, m_nTcpPort);
    profile.SetPath(wxString::FromUTF8("/"));

    bool written = WriteProfile();
    if (!written) {
        m_messageBox.ShowMessage("The settings could not be saved to " + m_strProfilePath + ".", MessageButtons::Ok,
                                 MessageIcon::Warning);
    }
    return written;
}
