#include "platform/mmsystem.h"

FOURCC mmioStringToFOURCC(const char* text, UINT flags) {
    char code[4] = {' ', ' ', ' ', ' '};
    for (int i = 0; text && i < 4 && text[i] != '\0'; ++i) {
        char c = text[i];
        if ((flags & MMIO_TOUPPER) && c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        code[i] = c;
    }
    return mmioFOURCC(code[0], code[1], code[2], code[3]);
}
