#include "document_views.h"

#include "command_ids.h"
#include "marquen_doc.h"

const PictureFile* ApplyDocumentUpdate(CMarquenDoc& doc, long lHint, IPictureInfoPage& page)
{
    const long displayed = doc.IsShowInput() ? HINT_INPUT_PICTURE : HINT_OUTPUT_PICTURE;
    if (lHint != displayed)
        return nullptr;
    if (lHint == HINT_OUTPUT_PICTURE && doc.IsModified()) {
        OutputPictureParameters values = page.GetOutputParameters();
        if (doc.CreateOutputPicture(values.type, values.path, values.width, values.height, values.offsetX,
                                    values.offsetY))
            doc.SetModifiedFlag(false);
    }
    const PictureFile* picture = lHint == HINT_INPUT_PICTURE ? doc.GetInput() : doc.GetOutput();
    if (picture == nullptr)
        return nullptr;
    page.ShowPictureInfo(*picture, doc.IsNewInput());
    return picture;
}

std::string ApplyDefaultExtension(std::string path, std::string_view extension)
{
    if (extension.empty())
        return path;
    std::string::size_type nameStart = path.find_last_of('/');
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    if (nameStart >= path.size())
        return path;  // a folder, not a file name
    std::string::size_type dot = path.find_last_of('.');
    if (dot != std::string::npos && dot > nameStart)
        return path;
    path += '.';
    path += extension;
    return path;
}
