// WritePort (synchronous and packetised), AbortTransfert and WriteAndRead.
#include "communication.h"

#include "fundaport.h"
#include "port_failure.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>

namespace quorlink {
namespace {

/// How long a synchronous write waits for the device to take the bytes.
constexpr DWORD kSynchronousWriteWait = 1000;

/// Bytes an array holds, 0 for anything but one dimension.
uint64_t ByteCapacity(const SAFEARRAY* array) {
    return uint64_t{array->rgsabound[0].cElements} * array->cbElements;
}

/// The one-dimensional array of bytes a WriteAndRead variant holds, by value
/// or by reference (also through a variant reference); null for anything else.
SAFEARRAY* ByteArrayOf(VARIANT* variant) {
    if (!variant)
        return nullptr;
    if (variant->vt == (VT_BYREF | VT_VARIANT))
        variant = variant->pvarVal;
    if (!variant)
        return nullptr;
    SAFEARRAY* array = nullptr;
    if (variant->vt == (VT_ARRAY | VT_UI1))
        array = variant->parray;
    else if (variant->vt == (VT_BYREF | VT_ARRAY | VT_UI1) && variant->pparray)
        array = *variant->pparray;
    if (!array || SafeArrayGetDim(array) != 1 || array->cbElements != 1)
        return nullptr;
    return array;
}

/// Quiet time after which a reply that is still short counts as complete.
/// The read thread wakes on the first byte, so on a slow line the data event
/// fires while the rest of a reply is still on the wire (a 4-byte reply lasts
/// 33 ms at 1200 baud); waiting this long for each next byte keeps a reply
/// whole without delaying one that is complete.
constexpr DWORD kReplyByteGap = 100;

/// How often a wait for a reply looks whether the line is still there.
constexpr DWORD kHangUpPoll = 50;

/// Waits for the data signal, at most readWait. A line that hangs up in the
/// meantime (the printer unplugged or switched off) brings no reply: the wait
/// ends as soon as the port library finds the device gone. True when the
/// signal came.
bool WaitForReply(AutoResetSignal& data, DWORD readWait) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(readWait);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const DWORD slice = static_cast<DWORD>(std::clamp<long long>(left.count(), 0, kHangUpPoll));
        if (data.WaitAndTake(slice))
            return true;
        if (left.count() <= 0 || Comm_IsDevicePresent() != 1)
            return false;
    }
}

}  // namespace

HRESULT CCommunication::WritePort(SAFEARRAY** pBuffer, LONG lLength, LONG* plWritten, LONG lPacketSize,
                                  LONG* pRC) noexcept {
    return GuardedCall([&]() -> HRESULT {
        SAFEARRAY* array = pBuffer ? *pBuffer : nullptr;
        if (SafeArrayGetDim(array) != 1)
            return S_FALSE;
        if (!pRC)
            return E_POINTER;
        *pRC = WRITEPORT_RC_SUCCESS;
        HANDLE abort = AbortEventHandle();
        if (!abort) {
            *pRC = WRITEPORT_RC_FAILED;
            return S_OK;
        }
        // Never more than the array holds.
        if (lLength < 0 || static_cast<uint64_t>(lLength) > ByteCapacity(array)) {
            *pRC = WRITEPORT_RC_FAILED;
            return S_OK;
        }
        if (lPacketSize > 0)
            return StartTransfer(array, lLength, lPacketSize, pRC);

        ResetEvent(abort);
        HRESULT hr = S_OK;
        // PortLock is held for at most one synchronous write (1 s) or one
        // reopening; a generous bound keeps a stuck peer from blocking forever.
        if (!m_portLock.try_lock_for(std::chrono::milliseconds(m_link->EndWait() + kSynchronousWriteWait))) {
            *pRC = WRITEPORT_RC_INCOMPLETE;
            return S_OK;
        }
        marquen::AdoptedLock port(m_portLock);
        if (Comm_IsOpened() != 1 || !Comm_IsConnected())
            *pRC = WRITEPORT_RC_NOT_CONNECTED;
        else
            *pRC = WriteSynchronously(array, lLength, plWritten, hr);
        return hr;
    });
}

// PortLock held; the port is connected.
LONG CCommunication::WriteSynchronously(SAFEARRAY* array, LONG length, LONG* plWritten, HRESULT& hr) {
    if (FAILED(SafeArrayLock(array))) {
        // Nothing was sent: no success code.
        hr = S_FALSE;
        return WRITEPORT_RC_FAILED;
    }
    // The write may outlive this call (a time-out leaves it going on in the
    // background), so it goes out of a copy kept until the next write.
    std::shared_ptr<std::vector<uint8_t>> bytes;
    try {
        const auto* data = static_cast<const uint8_t*>(array->pvData);
        bytes = std::make_shared<std::vector<uint8_t>>(data, data + length);
    } catch (const std::bad_alloc&) {
        SafeArrayUnlock(array);
        return WRITEPORT_RC_FAILED;
    }
    LONG rc;
    HANDLE port = Comm_GethCommPortTX();
    OVERLAPPED* overlapped = Comm_GetOverlappedTX();
    if (overlapped == nullptr) {
        // The port library could not make its state: nothing can be written.
        ReportPortFailure("writing to the port failed");
        SafeArrayUnlock(array);
        return WRITEPORT_RC_FAILED;
    }
    DWORD written = 0;
    BOOL done;
    {
        // Comm_WritePort cancels a write still pending on the shared
        // OVERLAPPED before it starts this one; only then may that write's
        // buffer go.
        std::lock_guard shared(Shared().lock);
        done = Comm_WritePort(port, bytes->data(), static_cast<DWORD>(length), &written, overlapped);
        DWORD error = GetLastError();
        int cause = GetLastErrno();
        Shared().pendingWrite = bytes;
        SetLastErrorWithErrno(error, cause);
    }
    if (done) {
        if (plWritten)
            *plWritten = static_cast<LONG>(written);
        rc = written == static_cast<DWORD>(length) ? WRITEPORT_RC_SUCCESS : WRITEPORT_RC_INCOMPLETE;
    } else if (GetLastError() == ERROR_IO_PENDING) {
        HANDLE abort = AbortEventHandle();
        const HANDLE waits[2] = {overlapped->hEvent, abort};
        DWORD wait = WaitForAnyObject(std::span(waits, abort ? 2 : 1), kSynchronousWriteWait);
        if (wait == WAIT_OBJECT_0) {
            SetLastError(ERROR_SUCCESS);
            GetOverlappedResult(port, overlapped, &written, FALSE);
            if (plWritten)
                *plWritten = static_cast<LONG>(written);
            if (written == static_cast<DWORD>(length)) {
                rc = WRITEPORT_RC_SUCCESS;
            } else if (GetLastError() != ERROR_SUCCESS) {
                ReportPortFailure("writing to the port failed");
                rc = WRITEPORT_RC_FAILED;
            } else {
                rc = WRITEPORT_RC_INCOMPLETE;
            }
        } else if (wait == WAIT_OBJECT_0 + 1) {
            ResetEvent(abort);
            rc = WRITEPORT_RC_ABORTED;
        } else if (wait == WAIT_TIMEOUT) {
            ReportPortWriteTimeout(static_cast<DWORD>(length), kSynchronousWriteWait);
            rc = WRITEPORT_RC_INCOMPLETE;
        } else {
            rc = WRITEPORT_RC_FAILED;
        }
    } else {
        ReportPortFailure("writing to the port failed");
        rc = WRITEPORT_RC_FAILED;
    }
    if (FAILED(SafeArrayUnlock(array)))
        hr = S_FALSE;
    return rc;
}

HRESULT CCommunication::StartTransfer(SAFEARRAY* array, LONG length, LONG packetSize, LONG* pRC) {
    std::lock_guard writer(m_writerLock);
    // One transfer at a time: a running one ends before the next begins.
    if (m_writerThread && !EndTransferLocked()) {
        *pRC = WRITEPORT_RC_FAILED;
        return S_OK;
    }
    HANDLE abort = AbortEventHandle();
    ResetEvent(abort);

    // The caller may let the array go as soon as this returns: the writer
    // sends its own copy.
    std::shared_ptr<PacketTransfer> transfer;
    try {
        transfer = std::make_shared<PacketTransfer>();
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            *pRC = WRITEPORT_RC_FAILED;
            return S_FALSE;
        }
        const auto* bytes = static_cast<const uint8_t*>(data);
        try {
            transfer->bytes.assign(bytes, bytes + length);
        } catch (...) {
            SafeArrayUnaccessData(array);
            throw;
        }
        if (FAILED(SafeArrayUnaccessData(array))) {
            *pRC = WRITEPORT_RC_FAILED;
            return S_FALSE;
        }
    } catch (const std::bad_alloc&) {
        *pRC = WRITEPORT_RC_FAILED;
        return S_OK;
    }
    transfer->packetSize = static_cast<size_t>(packetSize);
    transfer->abortEvent = abort;
    transfer->window = m_window;
    transfer->link = m_link;
    transfer->ledger = m_ledger;
    {
        std::lock_guard ledger(m_ledger->lock);
        m_ledger->currentFrom = m_ledger->posted;
    }
    HANDLE thread = CreatePacketWriter(transfer);
    if (!thread) {
        *pRC = WRITEPORT_RC_FAILED;
        return S_OK;
    }
    m_writerThread = thread;
    m_transfer = std::move(transfer);
    return S_OK;
}

bool CCommunication::EndTransferLocked() {
    if (!m_writerThread)
        return true;
    m_transfer->stoppedByCaller = true;
    SetEvent(m_transfer->abortEvent);
    if (WaitForSingleObject(m_writerThread, m_link->EndWait()) != WAIT_OBJECT_0)
        return false;
    CloseHandle(m_writerThread);
    m_writerThread = nullptr;
    m_transfer.reset();
    // Progress it posted and the window has not raised yet is not raised.
    std::lock_guard ledger(m_ledger->lock);
    m_ledger->dropBelow = m_ledger->posted;
    return true;
}

void CCommunication::EndTransfer() {
    std::lock_guard writer(m_writerLock);
    EndTransferLocked();
}

HRESULT CCommunication::AbortTransfert() noexcept {
    return GuardedCall([&]() -> HRESULT {
        EndTransfer();
        return S_OK;
    });
}

// The data event has fired: bytes are queued. Until `expected` bytes are
// there, waits for each further byte at most kReplyByteGap, and in all at most
// the read time-out.
void CCommunication::GatherReply(ReceiveChannel& channel, LONG expected) {
    const DWORD readWait = m_link->ReadWait();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(readWait);
    for (;;) {
        size_t queued;
        {
            std::lock_guard guard(channel.queueLock);
            queued = channel.queue.Count();
        }
        if (expected <= 0 || queued >= static_cast<size_t>(expected))
            return;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return;
        const DWORD wait = std::min<DWORD>(kReplyByteGap, static_cast<DWORD>(left.count()));
        if (!channel.data.WaitAndTake(wait))
            return;
    }
}

HRESULT CCommunication::WriteAndRead(VARIANT* pBuffer, LONG lWritten, LONG* plRead, LONG* pbResult) noexcept {
    return GuardedCall([&]() -> HRESULT {
        if (!pbResult)
            return E_POINTER;
        *pbResult = 0;
        if (lWritten == 0 || !IsOpenedAndConnected())
            return S_OK;
        // The reply goes into the same array: it must really be one of bytes.
        SAFEARRAY* array = ByteArrayOf(pBuffer);
        std::shared_ptr<ReceiveChannel> channel = CurrentChannel();
        if (!array || !channel)
            return S_OK;

        channel->replyWait = true;
        LONG rc = 0;
        LONG written = 0;
        HRESULT hr = WritePort(&array, lWritten, &written, 0, &rc);
        if (hr == S_OK && rc == WRITEPORT_RC_SUCCESS && written == lWritten &&
            WaitForReply(channel->data, m_link->ReadWait())) {
            GatherReply(*channel, plRead ? *plRead : 0);
            std::unique_lock queueGuard(channel->queueLock);
            LONG moved = 0;
            if (!channel->queue.Empty() && plRead && *plRead > 0 && SUCCEEDED(SafeArrayLock(array))) {
                // Never more than the array holds, whatever *plRead says.
                size_t room = std::min<uint64_t>(static_cast<uint64_t>(*plRead), array->rgsabound[0].cElements);
                moved = static_cast<LONG>(
                    channel->queue.Take(std::span<uint8_t>(static_cast<uint8_t*>(array->pvData), room)));
                SafeArrayUnlock(array);
            }
            queueGuard.unlock();
            if (moved > 0)
                *pbResult = 1;
            if (plRead)
                *plRead = moved;
        }
        channel->replyWait = false;
        return S_OK;
    });
}

}  // namespace quorlink
