// A command's options, taken out of its arguments one by one, so that what is left is what the
// command itself reads.
#pragma once

#include "storetool/commands.h"

#include <string>

// Takes "--NAME VALUE" out of the arguments. False when the option is absent; *wrong is set when
// it is given without a value or twice.
bool TakeOption(Arguments& arguments, const wchar_t* name, std::wstring* value, bool* wrong);
// Takes a switch ("--NAME") out of the arguments.
bool TakeSwitch(Arguments& arguments, const wchar_t* name);
// Takes "--NAME SECONDS" out of the arguments: a whole number from 1 to `most`; another value is
// named in a message and sets *bad (the command then ends with exit code 2). False when the
// option is absent (*seconds untouched); *wrong as for TakeOption.
bool TakeSeconds(Arguments& arguments, const wchar_t* name, long long most, long long* seconds, bool* wrong, bool* bad);
