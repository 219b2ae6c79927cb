// A program that imports a function Windows 7 does not have, for the import check to refuse.
#include <windows.h>

extern "C" __declspec(dllimport) void WINAPI GetSystemTimePreciseAsFileTime(FILETIME* time);

int main() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return static_cast<int>(now.dwLowDateTime & 1);
}
