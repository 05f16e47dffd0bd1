// The options that take a value, for both programs' option tables: each names what it
// takes and stores a checked value, or says why the value cannot be used.
#pragma once

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>

namespace platform {

struct ValueOption {
    const char* name;
    const char* takes;
    // Stores the value; nullptr when it was taken, else the reason it was not.
    std::function<const char*(const std::string&)> store;
};

enum class ValueTaken { NotInTable, Taken, Refused };

// Takes argv[i] and its value when argv[i] is one of `table`, moving i past the value;
// on Refused, `error` says why.
template <size_t N>
ValueTaken takeValueOption(const ValueOption (&table)[N], int argc, const char* const* argv, int& i,
                           std::string& error) {
    const std::string option = argv[i];
    auto valued = std::find_if(std::begin(table), std::end(table),
                               [&](const ValueOption& v) { return option == v.name; });
    if (valued == std::end(table)) {
        return ValueTaken::NotInTable;
    }
    if (i + 1 == argc) {
        error = option + " needs " + valued->takes;
        return ValueTaken::Refused;
    }
    const std::string value = argv[++i];
    if (const char* why = valued->store(value)) {
        error = option + " " + value + ": " + why;
        return ValueTaken::Refused;
    }
    return ValueTaken::Taken;
}

}  // namespace platform
