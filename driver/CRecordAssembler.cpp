#include "driver/CRecordAssembler.h"

#include <cstring>

bool CRecordAssembler::add(std::uint8_t byte)
{
    if ((byte & 0x80) == 0) {
        // Bytes before the first phasing byte belong to no record, and a
        // full buffer takes nothing more: that record is dropped at the next
        // phasing byte.
        if (recordFill != 0 && recordFill < sizeof recordBuffer) {
            recordBuffer[recordFill++] = byte;
        }
        return false;
    }
    if ((recordFill == 13 || recordFill == 14) && recordBuffer[recordFill - 1] != 0) {
        closingByte = byte;
        return true;
    }
    // A record of another length, or one from address 0, is no record.
    start(byte);
    return false;
}

void CRecordAssembler::next()
{
    start(closingByte);
}

void CRecordAssembler::setRecord(const std::uint8_t* bytes, std::uint32_t count)
{
    recordFill = count < sizeof recordBuffer ? count : static_cast<std::uint32_t>(sizeof recordBuffer);
    std::memcpy(recordBuffer, bytes, recordFill);
    recordBuffer[0] &= 0x7F;
}

void CRecordAssembler::start(std::uint8_t phasingByte)
{
    recordBuffer[0] = static_cast<std::uint8_t>(phasingByte & 0x7F);
    recordFill = 1;
}
