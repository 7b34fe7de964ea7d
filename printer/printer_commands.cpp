#include "printer_commands.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace printer_commands {

namespace {

Command Write(std::vector<uint8_t> bytes, size_t arrayLength = 0)
{
    size_t length = std::max(arrayLength, bytes.size());
    return Command{std::move(bytes), length, 0};
}

Command Request(std::vector<uint8_t> bytes, LONG expected)
{
    size_t length = std::max(bytes.size(), static_cast<size_t>(expected));
    return Command{std::move(bytes), length, expected};
}

ICommunication* Require(ICommunication* pComm)
{
    if (pComm == nullptr)
        _com_issue_errorex(E_POINTER, nullptr, IID_ICommunication);
    return pComm;
}

// Owns the variant that carries a request's array, whatever array the call
// leaves in it.
struct VariantGuard {
    VARIANT value;
    VariantGuard() { VariantInit(&value); }
    ~VariantGuard() { VariantClear(&value); }
    VariantGuard(const VariantGuard&) = delete;
    VariantGuard& operator=(const VariantGuard&) = delete;
};

// The bytes of a one-dimensional byte array, at most count of them; nothing
// for anything else.
std::vector<uint8_t> CopyBytes(SAFEARRAY* array, LONG count)
{
    std::vector<uint8_t> bytes;
    if (array == nullptr || count <= 0 || SafeArrayGetDim(array) != 1 || SafeArrayGetElemsize(array) != 1)
        return bytes;
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper)))
        return bytes;
    int64_t elements = int64_t{upper} - lower + 1;
    size_t taken = static_cast<size_t>(std::clamp<int64_t>(count, 0, std::max<int64_t>(elements, 0)));
    void* data = nullptr;
    if (taken == 0 || FAILED(SafeArrayAccessData(array, &data)))
        return bytes;
    bytes.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + taken);
    SafeArrayUnaccessData(array);
    return bytes;
}

}  // namespace

Command SelectLogo(uint8_t nLogo) { return Write({0x1D, 0x23, nLogo}, 8); }
Command LogoStatus(uint8_t nLogo) { return Request({0x1F, 0x65, nLogo}, 4); }
Command PrintLogo(uint8_t nMode) { return Write({0x1D, 0x2F, nMode}); }
Command EraseLogos() { return Write({0x1D, 0x40, 0x31}); }
Command UploadLogo() { return Write({0x1F, 0x6A}); }
Command ReadTotalMemory() { return Request({0x1D, 0x0B}, 1); }
Command ReadLogoArea() { return Request({0x1F, 0x07, 0x55}, 3); }
Command ReadFreeLogoMemory() { return Request({0x1F, 0x77, 0x01}, 8); }
Command SetLogoArea(uint8_t nSizeSteps) { return Request({0x1D, 0x22, 0x55, nSizeSteps, 0x00}, 1); }

uint16_t LogoChecksum(std::span<const uint8_t> stream)
{
    uint16_t sum = 0;
    for (uint8_t byte : stream)
        sum = static_cast<uint16_t>(sum + byte);
    return static_cast<uint16_t>(0x10000 - sum);
}

ByteArray::ByteArray(std::span<const uint8_t> bytes, size_t nLength)
{
    if (bytes.size() > nLength || nLength > std::numeric_limits<ULONG>::max())
        _com_issue_error(E_OUTOFMEMORY);
    m_pArray = SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(nLength));
    if (m_pArray == nullptr)
        _com_issue_error(E_OUTOFMEMORY);
    if (!bytes.empty())
        std::memcpy(m_pArray->pvData, bytes.data(), bytes.size());
}

ByteArray::ByteArray(ByteArray&& other) noexcept : m_pArray(std::exchange(other.m_pArray, nullptr)) {}

ByteArray& ByteArray::operator=(ByteArray&& other) noexcept
{
    if (this != &other) {
        Reset();
        m_pArray = std::exchange(other.m_pArray, nullptr);
    }
    return *this;
}

void ByteArray::Reset()
{
    if (SAFEARRAY* array = std::exchange(m_pArray, nullptr))
        SafeArrayDestroy(array);
}

LONG WriteCommand(ICommunication* pComm, const Command& command)
{
    Require(pComm);
    ByteArray array(command.bytes, command.arrayLength);
    LONG lWritten = 0;
    // Not -1, so a write the object refuses without setting it counts as
    // not sent.
    LONG lRC = 0;
    ThrowIfFailed(pComm->WritePort(array.Address(), static_cast<LONG>(command.bytes.size()), &lWritten, 0, &lRC),
                  IID_ICommunication);
    return lRC;
}

LONG WritePackets(ICommunication* pComm, ByteArray& array, LONG lLength)
{
    Require(pComm);
    LONG lWritten = 0;
    LONG lRC = 0;
    ThrowIfFailed(pComm->WritePort(array.Address(), lLength, &lWritten, kDefineLogoPacketSize, &lRC),
                  IID_ICommunication);
    return lRC;
}

Reply RequestReply(ICommunication* pComm, const Command& command)
{
    Require(pComm);
    ByteArray array(command.bytes, command.arrayLength);
    VariantGuard buffer;
    buffer.value.vt = VT_ARRAY | VT_UI1;
    buffer.value.parray = array.Detach();
    LONG lRead = command.expectedReply;
    LONG bResult = 0;
    ThrowIfFailed(pComm->WriteAndRead(&buffer.value, static_cast<LONG>(command.bytes.size()), &lRead, &bResult),
                  IID_ICommunication);
    Reply reply;
    reply.bResult = bResult != 0;
    reply.lRead = lRead;
    if (reply.bResult && buffer.value.vt == (VT_ARRAY | VT_UI1))
        reply.bytes = CopyBytes(buffer.value.parray, lRead);
    return reply;
}

}  // namespace printer_commands
