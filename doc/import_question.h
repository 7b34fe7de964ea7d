#pragma once
// The question put to the user when a colour or grey picture is opened: how to
// turn it into printer dots. The desktop answers it with a dialog that shows
// a live preview; tests answer it with a fake. The choices the user made last
// are kept by a store (the desktop keeps them in the user's profile), so the
// next import starts from them. Everything here runs on the user-interface
// thread.
#include "image_import.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

/// Printer widths offered for fitting a picture, in dots.
inline constexpr uint32_t kImportFitWidths[] = {384, 512, 576, 640};

/// The picture being imported, decoded once: the dots for any choice are made
/// from it without reading the file again.
class ImportPreview {
public:
    /// bytes: the whole file (a DetectImageFormat format); grey: its levels
    /// at the picture's own size, as ReadGreyPicture gives them.
    ImportPreview(std::vector<uint8_t> bytes, GreyPicture grey);

    uint32_t SourceWidth() const { return m_source.width; }
    uint32_t SourceHeight() const { return m_source.height; }
    /// The dots for options: resampled to options.fitWidth (0 or the picture's
    /// own width: as it is), tone adjusted, dithered. False with "Error - ..."
    /// when the resampling fails. The levels of the last width asked for are
    /// kept, so a change of method or tone does not resample again.
    bool Compute(const ImportOptions& options, ImportedPicture& picture, std::string& error);

private:
    std::vector<uint8_t> m_bytes;
    GreyPicture m_source;
    uint32_t m_fittedWidth = 0;  ///< width of m_fitted; 0: none kept
    GreyPicture m_fitted;
};

/// What the user is asked about.
struct ImportRequest {
    std::string path;    ///< the file opened
    ImageFormat format = ImageFormat::Png;
    ImportPreview* preview = nullptr;  ///< never null during the question
};

class IImportQuestion {
public:
    virtual ~IImportQuestion() = default;
    /// Asks modally how to turn request's picture into dots, starting from
    /// initial. The choices, or nothing when the user cancels. Blocks until
    /// the user answers (no time-out: only the user can end it).
    virtual std::optional<ImportOptions> AskImportOptions(const ImportRequest& request,
                                                          const ImportOptions& initial) = 0;
};

/// Where the last choices are kept between imports and runs.
class IImportSettingsStore {
public:
    virtual ~IImportSettingsStore() = default;
    /// The choices kept, or the defaults for what is missing or out of range.
    virtual ImportOptions LoadImportOptions() = 0;
    /// Keeps options for the next import (written out at once).
    virtual void SaveImportOptions(const ImportOptions& options) = 0;
};

/// options with every value held to the range the importer accepts and a
/// fit width of 0 or one of kImportFitWidths (anything else becomes 0).
ImportOptions ClampImportOptions(ImportOptions options);
