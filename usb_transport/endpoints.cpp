#include "endpoints.h"

#include "tramline.h"

#include <cstring>

namespace tramline {

EndpointSelection SelectEndpoints(std::span<const uint8_t> configuration, int useInterruptOut) {
    EndpointSelection selection;
    selection.useInterruptOut = useInterruptOut;
    bool sawAny = false;
    while (!configuration.empty()) {
        size_t length = configuration[0];
        if (length == 0) {
            selection.post = TRAMLINE_POST_EMPTY_CONFIGURATION;
            return selection;
        }
        // A length past the bytes returned, or one too short to hold its
        // type, would have the walk read beyond the descriptor: it ends here.
        if (length > configuration.size() || length < 2)
            break;
        sawAny = true;
        uint8_t type = configuration[1];
        switch (type) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 0x21:
        case 0x24:
        case 0x25: break;
        case 5: {
            if (length < 4)
                break;
            uint8_t address = configuration[2];
            bool input = (address & 0x80) != 0;
            switch (configuration[3] & 3) {
            case 2: (input ? selection.bulkIn : selection.bulkOut) = address; break;
            case 3: (input ? selection.interruptIn : selection.interruptOut) = address; break;
            default: break;
            }
            break;
        }
        default: selection.post = TRAMLINE_POST_UNKNOWN_DESCRIPTOR; return selection;
        }
        configuration = configuration.subspan(length);
    }
    if (!sawAny) {
        selection.post = TRAMLINE_POST_EMPTY_CONFIGURATION;
        return selection;
    }
    selection.hasInterruptIn = selection.interruptIn != 0;
    selection.hasInterruptOut = selection.interruptOut != 0;
    if (!selection.hasInterruptOut)
        selection.useInterruptOut = 0;
    selection.readPipe = selection.bulkIn;
    selection.statusPipe = selection.interruptIn;
    selection.outputPipe = selection.useInterruptOut ? selection.interruptOut : selection.bulkOut;
    selection.ok = selection.readPipe != 0 && selection.outputPipe != 0;
    return selection;
}

bool StoreSerial(char* buffer, size_t bufferSize, int device, std::span<const uint8_t> stringDescriptor) {
    if (buffer == nullptr || device < 0)
        return false;
    size_t start = static_cast<size_t>(device) * TRAMLINE_SERIAL_SLOT;
    if (start >= bufferSize)
        return false;
    size_t room = std::min<size_t>(TRAMLINE_SERIAL_SLOT, bufferSize - start);
    char* slot = buffer + start;
    // The characters follow the two header bytes; the declared length may
    // not exceed what was returned.
    size_t length = stringDescriptor.empty() ? 0 : std::min<size_t>(stringDescriptor[0], stringDescriptor.size());
    size_t characters = length > 2 ? (length - 2) / 2 : 0;
    characters = std::min(characters, room - 1);
    for (size_t i = 0; i < characters; ++i)
        slot[i] = static_cast<char>(stringDescriptor[2 + 2 * i]);
    slot[characters] = '\0';
    return true;
}

}  // namespace tramline
