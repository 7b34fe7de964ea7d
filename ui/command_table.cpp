#include "command_table.h"

#include "command_ids.h"

#include <wx/defs.h>

namespace command_table {

namespace {

struct Mapping {
    int systemId;
    int wxId;
};

// The framework's own commands keep their toolkit equivalents, so the toolkit
// gives them its stock accelerators' look; the program's commands get ids
// above the toolkit's reserved range.
constexpr Mapping kTable[] = {
    {ID_FILE_NEW, wxID_NEW},
    {ID_FILE_OPEN, wxID_OPEN},
    {ID_FILE_SAVE, wxID_SAVE},
    {ID_FILE_SAVE_AS, wxID_SAVEAS},
    {ID_APP_EXIT, wxID_EXIT},
    {ID_APP_ABOUT, wxID_ABOUT},
    {ID_HELP_MANUAL, wxID_HELP},
    {ID_WINDOW_INPUT, wxID_HIGHEST + 771},
    {ID_WINDOW_OUTPUT, wxID_HIGHEST + 772},
    {ID_BACKGROUND_COLOR, wxID_HIGHEST + 778},
};
static_assert(wxID_HIGHEST + 778 < 0x7FFF);

constexpr int kRecentFiles = 4;

}  // namespace

int ToWxId(int systemId)
{
    for (const Mapping& entry : kTable) {
        if (entry.systemId == systemId)
            return entry.wxId;
    }
    if (systemId >= ID_FILE_MRU_FIRST && systemId < ID_FILE_MRU_FIRST + kRecentFiles)
        return RecentFileWxId(systemId - ID_FILE_MRU_FIRST);
    return 0;
}

int ToSystemId(int wxId)
{
    for (const Mapping& entry : kTable) {
        if (entry.wxId == wxId)
            return entry.systemId;
    }
    int recent = RecentFileIndex(wxId);
    return recent >= 0 ? ID_FILE_MRU_FIRST + recent : 0;
}

int RecentFileWxId(int n)
{
    return wxID_FILE1 + n;
}

int RecentFileIndex(int wxId)
{
    int n = wxId - wxID_FILE1;
    return n >= 0 && n < kRecentFiles ? n : -1;
}

}  // namespace command_table
