// Everything written so far to a temporary file, such as a device log.
#pragma once

#include <cstdio>
#include <string>

inline std::string readBack(FILE* file) {
    std::string text;
    std::rewind(file);
    for (int c; (c = std::fgetc(file)) != EOF;) {
        text += static_cast<char>(c);
    }
    return text;
}
