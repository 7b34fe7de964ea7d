// The upload buffer of the application object: where a logo the printer
// sends back is assembled, block by block, to exactly the size its bitmap
// header announced.
#include "marquen_app.h"

#include <algorithm>
#include <cstring>
#include <new>

void CMarquenApp::StartUpload(int nSize)
{
    m_pUploadBuffer.reset();
    m_nUploadSize = -1;
    m_nUploadReceived = -1;
    if (nSize < 0)
        return;
    // A zero-length buffer still marks an upload in progress.
    m_pUploadBuffer.reset(new (std::nothrow) uint8_t[nSize > 0 ? nSize : 1]);
    if (!m_pUploadBuffer)
        return;
    m_nUploadSize = nSize;
    m_nUploadReceived = 0;
}

int CMarquenApp::AppendUpload(const uint8_t* bytes, size_t nLength)
{
    if (!m_pUploadBuffer || m_nUploadSize <= 0)
        return 0;
    // Bytes past the announced size have no place in the bitmap: dropped.
    size_t room = static_cast<size_t>(m_nUploadSize - m_nUploadReceived);
    size_t taken = std::min(room, bytes != nullptr ? nLength : 0);
    if (taken > 0)
        std::memcpy(m_pUploadBuffer.get() + m_nUploadReceived, bytes, taken);
    m_nUploadReceived += static_cast<int>(taken);
    return static_cast<int>(int64_t{m_nUploadReceived} * 100 / m_nUploadSize);
}
