#include "import_question.h"

#include <algorithm>

ImportPreview::ImportPreview(std::vector<uint8_t> bytes, GreyPicture grey)
    : m_bytes(std::move(bytes)), m_source(std::move(grey))
{
}

bool ImportPreview::Compute(const ImportOptions& options, ImportedPicture& picture, std::string& error)
{
    const GreyPicture* levels = &m_source;
    if (options.fitWidth != 0 && options.fitWidth != m_source.width) {
        if (m_fittedWidth != options.fitWidth) {
            // Decoding again is the one way to the library's resampling; the
            // file is in memory and a logo decodes in a few milliseconds.
            GreyPicture fitted;
            if (!ReadGreyPicture(m_bytes, options.fitWidth, fitted, error))
                return false;
            m_fitted = std::move(fitted);
            m_fittedWidth = options.fitWidth;
        }
        levels = &m_fitted;
    }
    picture.sourceWidth = m_source.width;
    picture.sourceHeight = m_source.height;
    picture.width = levels->width;
    picture.height = levels->height;
    picture.bits = GreyToBits(*levels, options.dither);
    return true;
}

ImportOptions ClampImportOptions(ImportOptions options)
{
    DitherSettings& dither = options.dither;
    if (static_cast<int>(dither.method) < 0 || static_cast<int>(dither.method) > static_cast<int>(DitherMethod::Stucki))
        dither.method = kDefaultDitherMethod;
    dither.threshold = std::clamp(dither.threshold, kMinThreshold, kMaxThreshold);
    dither.brightness = std::clamp(dither.brightness, -kMaxBrightness, kMaxBrightness);
    dither.contrast = std::clamp(dither.contrast, -kMaxContrast, kMaxContrast);
    if (!(dither.gamma >= kMinGamma && dither.gamma <= kMaxGamma))
        dither.gamma = 1.0;
    if (std::find(std::begin(kImportFitWidths), std::end(kImportFitWidths), options.fitWidth) ==
        std::end(kImportFitWidths))
        options.fitWidth = 0;
    return options;
}
