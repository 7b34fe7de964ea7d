#include "memory_size_dlg.h"

#include "printer_commands.h"

#include <charconv>
#include <string>

namespace {

// The printer counts its logo area in steps of 64 kbytes; no model offers
// more than 1280 kbytes for logos, whatever its total memory.
constexpr int kSizeStep = 64;
constexpr int kLargestSize = 1280;

}  // namespace

std::vector<int> CMemorySizeDlg::SizesOffered(int nMaxSize)
{
    std::vector<int> sizes;
    for (int size = 0; size <= nMaxSize && size <= kLargestSize; size += kSizeStep)
        sizes.push_back(size);
    return sizes;
}

void CMemorySizeDlg::OnInitDialog(IMemorySizeDlgControls& controls)
{
    for (int size : SizesOffered(m_nMaxSize))
        controls.AddSize(std::to_string(size));
}

void CMemorySizeDlg::OnOK(IMemorySizeDlgControls& controls)
{
    int selection = controls.GetSizeSelection();
    if (selection < 0) {
        m_messageBox.ShowMessage(printer_strings::kSelectMemorySize, MessageButtons::Ok, MessageIcon::Warning);
        controls.FocusSizeList();
        return;
    }
    std::string text = controls.GetSizeText(selection);
    int size = 0;
    std::from_chars(text.data(), text.data() + text.size(), size);
    m_nSize = size;
    controls.EndDialog(IDOK);
}
