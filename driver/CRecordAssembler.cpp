#include "driver/CRecordAssembler.h"

bool CRecordAssembler::add(std::uint8_t byte)
{
    if ((byte & 0x80) == 0) {
        // Bytes before the first phasing byte belong to no record.
        if (recordFill != 0) {
            append(byte);
        }
        return false;
    }
    if ((recordFill == 13 || recordFill == 14) && recordBuffer[recordFill - 1] != 0) {
        closingByte = byte;
        return true;
    }
    // A record of another length, or one from address 0, is no record.
    if (recordFill != 0) {
        countBroken();
    }
    start(byte);
    return false;
}

void CRecordAssembler::next()
{
    brokenInARow = 0;
    start(closingByte);
}

void CRecordAssembler::dropBroken()
{
    countBroken();
    start(closingByte);
}

bool CRecordAssembler::trusted()
{
    // brokenInARow is 0 only when the record before this one was whole.
    if (distrust && brokenInARow != 0) {
        return false;
    }
    distrust = false;
    return true;
}

void CRecordAssembler::countBroken()
{
    if (brokenInARow < kGarbageRun && ++brokenInARow == kGarbageRun) {
        distrust = true;
    }
}

void CRecordAssembler::start(std::uint8_t phasingByte)
{
    recordFill = 0;
    append(static_cast<std::uint8_t>(phasingByte & 0x7F));
}

// A full buffer takes nothing more: that record is dropped at the next
// phasing byte, as no record is that long.
void CRecordAssembler::append(std::uint8_t byte)
{
    if (recordFill < sizeof recordBuffer) {
        recordBuffer[recordFill++] = byte;
    }
}
