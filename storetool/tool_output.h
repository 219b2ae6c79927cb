// What every command of the store tool writes and reads: UTF-8 output (UTF-16 to a console, so
// that non-ASCII text shows), template and catalog files read as bytes.
#pragma once

#include <cstdio>
#include <string>

void Out(const std::string& utf8);
void Err(const std::string& utf8);

// UTF-8 of a possibly null wide text.
std::string Narrow(const wchar_t* text);
inline std::string Narrow(const std::wstring& text) { return Narrow(text.c_str()); }

// The bytes of a file without a UTF-8 byte-order mark; false when it cannot be read.
bool ReadTextFile(const wchar_t* path, std::string& bytes);

// Asks a yes-or-no question on standard error and reads the answer, one line of standard input
// (typed at the console, or given by a script through a pipe). True only for "y" or "yes".
bool Ask(const std::string& question);

// Whether an argument asks for a command's help.
bool IsHelpSwitch(const wchar_t* argument);

// Ctrl+C or Ctrl+Break while a command waits: noted instead of ending the process, so that the
// command can take what it put into the store out again. One scope at a time.
class ConsoleInterrupt {
public:
    ConsoleInterrupt();
    ~ConsoleInterrupt();
    ConsoleInterrupt(const ConsoleInterrupt&) = delete;
    ConsoleInterrupt& operator=(const ConsoleInterrupt&) = delete;
    bool raised() const;
};
