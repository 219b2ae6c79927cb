// Turning the exceptions of the string and container types into HRESULTs at COM boundaries,
// and the early-return helpers used inside.
#pragma once

#include <windows.h>

#include <new>
#include <stdexcept>

// Call only inside a catch block.
inline HRESULT ResultFromCaughtException() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return E_OUTOFMEMORY;
    } catch (const std::invalid_argument&) {
        return E_INVALIDARG;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

inline HRESULT HResultFromLastError() noexcept {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

#define RETURN_IF_FAILED(expr)                     \
    do {                                           \
        const HRESULT hr_returned_ = (expr);       \
        if (FAILED(hr_returned_)) return hr_returned_; \
    } while (0)
