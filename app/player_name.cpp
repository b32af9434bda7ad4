// The typed name rule, apart from the run driver so that it can be checked alone.
#include "app/player_name.h"

#include <algorithm>
#include <cstring>

#include "core/cp1251.h"
#include "profiles/score_record.h"

// A NUL byte would cut the name short, and other control bytes are no part of a
// name. Whitespace is what separates the score file's fields.
const char* nameRefusal(const char* name, int length) {
    const char* end = name + std::strlen(name);
    bool blank = std::any_of(name, end, [](char byte) { return isScoreWhitespace(static_cast<unsigned char>(byte)); });
    if (length == 0 || blank) {
        return "Имя должно быть одним словом, без пробелов.\n"_cp;
    }
    if (std::strlen(name) != static_cast<std::size_t>(length) || hasControlByte(name)) {
        return "В имени не должно быть управляющих символов.\n"_cp;
    }
    return nullptr;
}
