// Folding Windows-1251 letters and texts for comparison.
#include "tools/answer_text.h"

bool isLetter(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || byte >= 0xC0 || byte == 0xA8 ||
           byte == 0xB8;
}

char foldLetter(unsigned char byte) {
    if (byte == 0xA8 || byte == 0xB8) return static_cast<char>(0xE5);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDF)) byte = static_cast<unsigned char>(byte + 0x20);
    return static_cast<char>(byte);
}

std::string normalisedText(const char* text) {
    std::string normal;
    for (; *text != '\0'; ++text) {
        unsigned char byte = static_cast<unsigned char>(*text);
        if (byte == ' ' || byte == '\t') {
            if (!normal.empty() && normal.back() != ' ') normal.push_back(' ');
            continue;
        }
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 0xC0 && byte <= 0xDF))
            byte = static_cast<unsigned char>(byte + 0x20);
        if (byte == 0xA8) byte = 0xB8;  // Ё
        normal.push_back(static_cast<char>(byte));
    }
    if (!normal.empty() && normal.back() == ' ') normal.pop_back();
    return normal;
}
