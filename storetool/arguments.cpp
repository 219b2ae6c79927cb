#include "storetool/arguments.h"

#include "storetool/tool_output.h"

#include <cwchar>

bool TakeOption(Arguments& arguments, const wchar_t* name, std::wstring* value, bool* wrong) {
    bool found = false;
    for (size_t i = 0; i < arguments.size();) {
        if (arguments[i] != name) {
            ++i;
            continue;
        }
        if (found || i + 1 >= arguments.size()) *wrong = true;
        if (i + 1 < arguments.size()) {
            *value = arguments[i + 1];
            arguments.erase(arguments.begin() + i, arguments.begin() + i + 2);
        } else {
            arguments.erase(arguments.begin() + i);
        }
        found = true;
    }
    return found;
}

bool TakeSeconds(Arguments& arguments, const wchar_t* name, long long most, long long* seconds, bool* wrong, bool* bad) {
    std::wstring text;
    if (!TakeOption(arguments, name, &text, wrong)) return false;
    wchar_t* end = nullptr;
    const long long value = wcstoll(text.c_str(), &end, 10);
    if (text.empty() || *end || value < 1 || value > most) {
        Err(Narrow(name) + " takes a whole number of seconds from 1 to " + std::to_string(most) + "\n");
        *bad = true;
        return true;
    }
    *seconds = value;
    return true;
}

bool TakeSwitch(Arguments& arguments, const wchar_t* name) {
    bool found = false;
    for (size_t i = 0; i < arguments.size();) {
        if (arguments[i] == name) {
            arguments.erase(arguments.begin() + i);
            found = true;
        } else {
            ++i;
        }
    }
    return found;
}
