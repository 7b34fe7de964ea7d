// The receive machinery's start and stop, and the window messages that raise
// the events: the timer tick (OnComm), the packet writer's progress
// (OnUpdateProgress, OnError) and received blocks (OnComm).
#include "communication.h"

#include <cstdlib>
#include <cstring>

namespace quorlink {
namespace {

constexpr marquen::window::UINT_PTR kOnCommTimer = 0;
/// The timer's first period: PeriodOfOnComm takes over once it is put.
constexpr UINT kFirstTimerPeriod = 100;

}  // namespace

bool CCommunication::StartReceiving() {
    if (!IsOpenedAndConnected())
        return false;
    std::lock_guard guard(m_channelLock);
    if (m_readThread)
        return false;
    HANDLE abort = AbortEventHandle();
    ResetEvent(abort);
    auto channel = std::make_shared<ReceiveChannel>(abort);
    HANDLE thread = CreateReadThread(channel, m_link);
    if (!thread)
        return false;
    marquen::kernel::SetThreadPriority(thread, marquen::kernel::THREAD_PRIORITY_HIGHEST);
    m_channel = std::move(channel);
    m_readThread = thread;
    marquen::kernel::ResumeThread(thread);
    SetTimer(m_window, kOnCommTimer, kFirstTimerPeriod);
    return true;
}

void CCommunication::StopReceiving() {
    HANDLE thread;
    std::shared_ptr<ReceiveChannel> channel;
    {
        std::lock_guard guard(m_channelLock);
        thread = m_readThread;
        channel = m_channel;
    }
    if (!thread || !channel)
        return;
    HANDLE abort = AbortEventHandle();
    SetEvent(abort);
    channel->stop.Set();
    if (WaitForSingleObject(thread, m_link->EndWait()) != WAIT_OBJECT_0) {
        // The thread keeps its own hold on the channel; whoever forgets the
        // thread later also lets go of the channel, which goes when the
        // thread finally ends.
        return;
    }
    std::lock_guard guard(m_channelLock);
    CloseHandle(m_readThread);
    m_readThread = nullptr;
    m_channel.reset();
    ResetEvent(abort);
}

std::shared_ptr<ReceiveChannel> CCommunication::CurrentChannel() {
    std::lock_guard guard(m_channelLock);
    return m_channel;
}

LRESULT CCommunication::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == kOnCommTimer)
            OnTimerTick();
        return 0;
    case WM_PACKET_PROGRESS:
        OnPacketProgress(wParam, lParam);
        return 0;
    case WM_RECEIVED_BLOCK:
        OnReceivedBlock(wParam, lParam);
        return 0;
    case WM_DEVICECHANGE:
    case WM_DEVMODECHANGE:
        OnDeviceChange(wParam, lParam);
        return 0;
    default:
        return DefWindowProc(m_window, message, wParam, lParam);
    }
}

void CCommunication::OnTimerTick() {
    std::shared_ptr<ReceiveChannel> channel = CurrentChannel();
    if (!channel)
        return;
    // A WriteAndRead waiting for its reply takes the bytes itself.
    if (channel->replyWait.load())
        return;
    SAFEARRAY* array;
    size_t count;
    {
        std::lock_guard queueGuard(channel->queueLock);
        if (channel->queue.Empty())
            return;
        channel->data.Reset();
        count = std::min(channel->queue.Count(), kMaxSafeArrayDataBytes);
        array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count));
        if (!array)
            return;  // the bytes stay queued for the next tick
        channel->queue.Take(std::span<uint8_t>(static_cast<uint8_t*>(array->pvData), count));
    }
    RaiseOnComm(array, static_cast<LONG>(count));
    SafeArrayDestroy(array);
}

void CCommunication::RaiseOnComm(SAFEARRAY* array, LONG length) {
    // Arguments in reverse order: lLength, then the reference to the array.
    SAFEARRAY* held = array;
    VARIANTARG args[2];
    VariantInit(&args[0]);
    args[0].vt = VT_I4;
    args[0].lVal = length;
    VariantInit(&args[1]);
    args[1].vt = VT_BYREF | VT_ARRAY | VT_UI1;
    args[1].pparray = &held;
    m_eventPoint.Fire(DISPID_OnComm, args, 2);
}

void CCommunication::OnPacketProgress(WPARAM percent, LPARAM errorFlag) {
    bool raise;
    bool endsCurrent;
    {
        std::lock_guard ledger(m_ledger->lock);
        uint64_t number = m_ledger->handled++;
        raise = number >= m_ledger->dropBelow;
        endsCurrent = raise && number >= m_ledger->currentFrom && (errorFlag != 0 || percent >= 100);
    }
    if (!raise)
        return;
    if (endsCurrent) {
        // The writer posts its last message and returns: wait for that, then
        // forget it, so a new transfer may start from the event's handler.
        std::lock_guard writer(m_writerLock);
        if (m_writerThread && WaitForSingleObject(m_writerThread, m_link->EndWait()) == WAIT_OBJECT_0) {
            CloseHandle(m_writerThread);
            m_writerThread = nullptr;
            m_transfer.reset();
        }
    }
    if (errorFlag != 0) {
        m_eventPoint.Fire(DISPID_OnError, nullptr, 0);
    } else {
        VARIANTARG arg;
        VariantInit(&arg);
        arg.vt = VT_I4;
        arg.lVal = static_cast<LONG>(percent);
        m_eventPoint.Fire(DISPID_OnUpdateProgress, &arg, 1);
    }
}

void CCommunication::OnReceivedBlock(WPARAM count, LPARAM buffer) {
    void* bytes = reinterpret_cast<void*>(buffer);
    if (bytes && count > 0 && count <= kMaxSafeArrayDataBytes) {
        if (SAFEARRAY* array = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(count))) {
            std::memcpy(array->pvData, bytes, count);
            RaiseOnComm(array, static_cast<LONG>(count));
            SafeArrayDestroy(array);
        }
    }
    std::free(bytes);
}

}  // namespace quorlink
