#include "kit/StreamSetup.h"

namespace fuzzkit {

StreamSetup::StreamSetup(std::uint8_t choice)
    : srt((choice & 0x01) != 0),
      longRange((choice & 0x02) != 0),
      mouse((choice & 0x04) != 0),
      placement((choice & 0x08) != 0),
      lineFails((choice & 0x10) != 0)
{
}

std::string StreamSetup::configText(const char* port) const
{
    std::string text = "Vantrel 2\nport ";
    text += port;
    text += "\n";
    if (srt) {
        text += longRange ? "srt 1\nscaling 72\n" : "srt 1\nscaling 36\n";
    }
    if (mouse) {
        text += "mouse 2\n";
    }
    if (placement) {
        text += "transmitterrotation 0 0 1 90\ntransmitteroffset 1 2 3\nsensoroffset 2 0 0 3 inches\n"
                "sensorrotation 2 1 1 0 30\nsensortranslation 2 0.5 0 -0.5\n";
    }
    return text;
}

}  // namespace fuzzkit
