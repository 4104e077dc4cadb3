#include "platform/Toolkit.h"

QColor TColorToQColor(TColor c) {
    const auto u = static_cast<quint32>(c);
    if ((u & 0xFF000000u) == 0xFF000000u) {
        // The classic system palette, so that output never depends on the desktop theme.
        static const quint32 system[] = {
            0xC8C8C8, 0x000000, 0x99B4D1, 0xBFCDDB, 0xF0F0F0, 0xFFFFFF, 0x646464, 0x000000,
            0x000000, 0x000000, 0xB4B4B4, 0xF4F7FC, 0xABABAB, 0x3399FF, 0xFFFFFF, 0xF0F0F0,
            0xA0A0A0, 0x6D6D6D, 0x000000, 0x434E54, 0xFFFFFF, 0x696969, 0xE3E3E3, 0x000000,
            0xFFFFE1, 0x000000, 0x0066CC, 0xB9D1EA, 0xD7E4F2, 0x3399FF, 0xF0F0F0};
        const quint32 index = u & 0xFFu;
        const quint32 rgb = index < std::size(system) ? system[index] : 0;
        return QColor::fromRgb(rgb);
    }
    return ColorBytesToQColor(c);
}
