// Registry functions over the stand-in's .reg file. Every call reads the file anew, so a key
// handle sees what other processes wrote, as on Windows.
#include "registry_store.h"

#include <cstring>
#include <new>

// Values keep their type as the number the API uses, which the .reg text uses too.
static_assert(REG_SZ == kRegFileString && REG_BINARY == kRegFileBinary &&
                  REG_DWORD == kRegFileDword,
              "the .reg text's value types are the registry's");

struct PosixRegistryKey {
    std::string path;
    REGSAM access;
};

namespace {

const char kHiveName[] = "HKEY_LOCAL_MACHINE";
constexpr REGSAM kWriteAccess = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | 0x00010000 /*DELETE*/ |
                                0x00040000 /*WRITE_DAC*/ | 0x00080000 /*WRITE_OWNER*/;

// The full path of key\subKey, or an empty string for an invalid handle.
std::string resolvePath(HKEY key, const WCHAR* subKey) {
    std::string path;
    if (key == HKEY_LOCAL_MACHINE)
        path = kHiveName;
    else if (key)
        path = key->path;
    else
        return path;
    std::string sub = toUtf8(subKey);
    while (!sub.empty() && sub.back() == '\\')
        sub.pop_back();
    if (!sub.empty())
        path += "\\" + sub;
    return path;
}

LONG newKey(const std::string& path, REGSAM access, HKEY* result) {
    *result = new (std::nothrow) PosixRegistryKey{path, access};
    return *result ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
}

int isHiveHandle(HKEY key) {
    return key == HKEY_LOCAL_MACHINE;
}

} // namespace

// Opens an existing key. ERROR_FILE_NOT_FOUND when it is missing, ERROR_BADDB when the file
// cannot be read, ERROR_ACCESS_DENIED for write access without the right to write the registry.
LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD, REGSAM access, HKEY* result) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    std::string path = resolvePath(key, subKey);
    if (path.empty())
        return ERROR_INVALID_HANDLE;
    RegFile registry;
    LONG status = loadRegistry(registry);
    if (status != ERROR_SUCCESS)
        return status;
    if (!equalsIgnoringCase(path, kHiveName) && !registry.keyExists(path))
        return ERROR_FILE_NOT_FOUND;
    if ((access & kWriteAccess) && !registryWritable())
        return ERROR_ACCESS_DENIED;
    return newKey(path, access, result);
}

// Opens a key, creating it (and the file and directories) when it is missing.
LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD, WCHAR*, DWORD, REGSAM access, void*,
                     HKEY* result, DWORD* disposition) {
    if (!result)
        return ERROR_INVALID_PARAMETER;
    std::string path = resolvePath(key, subKey);
    if (path.empty())
        return ERROR_INVALID_HANDLE;
    if (!registryWritable())
        return ERROR_ACCESS_DENIED;
    DWORD outcome = REG_OPENED_EXISTING_KEY;
    LONG status = updateRegistry([&](RegFile& registry, int& changed) {
        if (!registry.keyExists(path)) {
            registry.addKey(path);
            changed = 1;
            outcome = REG_CREATED_NEW_KEY;
        }
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS)
        return status;
    if (disposition)
        *disposition = outcome;
    return newKey(path, access, result);
}

// Reads a value. ERROR_MORE_DATA with the size needed when the buffer is too small.
LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD*, DWORD* type, BYTE* data,
                      DWORD* dataSize) {
    if (!key || isHiveHandle(key))
        return key ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (data && !dataSize)
        return ERROR_INVALID_PARAMETER;
    RegFile registry;
    LONG status = loadRegistry(registry);
    if (status != ERROR_SUCCESS)
        return status;
    if (!registry.keyExists(key->path))
        return ERROR_KEY_DELETED;
    const RegFileValue* value = registry.findValue(key->path, toUtf8(valueName));
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    DWORD size = static_cast<DWORD>(value->data.size());
    if (type)
        *type = value->type;
    if (data && *dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (data && size)
        std::memcpy(data, value->data.data(), size);
    if (dataSize)
        *dataSize = size;
    return ERROR_SUCCESS;
}

// Writes a value; the whole file is replaced at once.
LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD dataSize) {
    if (!key || isHiveHandle(key))
        return key ? ERROR_ACCESS_DENIED : ERROR_INVALID_HANDLE;
    if (!(key->access & KEY_SET_VALUE))
        return ERROR_ACCESS_DENIED;
    if (!data && dataSize)
        return ERROR_INVALID_PARAMETER;
    RegFileValue value{toUtf8(valueName), type,
                       data ? std::vector<uint8_t>(data, data + dataSize) : std::vector<uint8_t>()};
    return updateRegistry([&](RegFile& registry, int& changed) {
        if (!registry.keyExists(key->path))
            return ERROR_KEY_DELETED;
        registry.setValue(key->path, value);
        changed = 1;
        return ERROR_SUCCESS;
    });
}

LONG RegCloseKey(HKEY key) {
    if (!key)
        return ERROR_INVALID_HANDLE;
    if (!isHiveHandle(key))
        delete key;
    return ERROR_SUCCESS;
}
