#include "platform/Registry.h"

#ifdef _WIN32
#include "platform/WinText.h"

#include <windows.h>
#endif

namespace vorlen::platform {

#ifdef _WIN32

bool ReadMachineString(const std::string& keyPath, const std::string& valueName, std::string& out) {
    out.clear();
    HKEY key = nullptr;
    const std::wstring wkey = WideFromUtf8(keyPath);
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, wkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring wname = WideFromUtf8(valueName);
    // The value may grow between asking for its size and reading it; try again a few times.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LONG r = RegQueryValueExW(key, wname.c_str(), nullptr, &type, nullptr, &size);
        if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
            break;
        }
        // One spare character: the stored data need not end with a zero.
        std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        r = RegQueryValueExW(key, wname.c_str(), nullptr, &type,
                             reinterpret_cast<LPBYTE>(buffer.data()), &got);
        if (r == ERROR_MORE_DATA) {
            continue;
        }
        if (r == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ)) {
            buffer.resize(got / sizeof(wchar_t));
            while (!buffer.empty() && buffer.back() == L'\0') {
                buffer.pop_back();
            }
            out = Utf8FromWide(buffer);
        }
        break;
    }
    RegCloseKey(key);
    return true;
}

#else

bool ReadMachineString(const std::string& keyPath, const std::string& valueName, std::string& out) {
    out.clear();
    const std::string file = RegistryFilePath();
    TRegFile reg;
    if (file.empty() || !reg.Load(file)) {
        return false;
    }
    const std::string fullKey = "HKEY_LOCAL_MACHINE\\" + keyPath;
    if (!reg.HasKey(fullKey)) {
        return false;
    }
    if (auto text = reg.StringValue(fullKey, valueName)) {
        out = std::move(*text);
    }
    return true;
}

#endif

} // namespace vorlen::platform
