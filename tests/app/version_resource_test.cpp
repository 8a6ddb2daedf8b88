// The version resource and manifest of the built vlmaudit.exe, read back as Windows reads them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The build's path of the program, as a Windows path (a Unix path under Wine lies on Z:).
std::wstring programPath() {
    std::string path = VLMAUDIT_BINARY;
    std::wstring wide = path[0] == '/' ? L"Z:" : L"";
    for (char c : path)
        wide += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return wide;
}

std::wstring widen(const char* text) {
    return std::wstring(text, text + strlen(text));
}

TEST(VersionResource, CarriesTheProjectVersion) {
    std::wstring path = programPath();
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u) << "no version resource, error " << GetLastError();
    std::vector<BYTE> info(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed->dwFileVersionMS,
              static_cast<DWORD>(VLMAUDIT_VERSION_MAJOR << 16 | VLMAUDIT_VERSION_MINOR));
    EXPECT_EQ(fixed->dwProductVersionLS, static_cast<DWORD>(VLMAUDIT_VERSION_PATCH << 16));
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

    const struct {
        const wchar_t* name;
        std::wstring value;
    } strings[] = {
        {L"ProductName", L"vlmaudit"},
        {L"FileVersion", widen(VLMAUDIT_VERSION)},
        {L"ProductVersion", widen(VLMAUDIT_VERSION)},
        {L"OriginalFilename", L"vlmaudit.exe"},
    };
    for (const auto& s : strings) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + s.name;
        wchar_t* value = nullptr;
        ASSERT_TRUE(
            VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length));
        EXPECT_EQ(std::wstring(value), s.value);
    }
}

TEST(VersionResource, ManifestRunsAsInvoker) {
    HMODULE module = LoadLibraryExW(programPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_NE(found, nullptr);
    const char* text = static_cast<const char*>(LockResource(LoadResource(module, found)));
    std::string manifest(text, SizeofResource(module, found));
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"), std::string::npos);
    FreeLibrary(module);
}

} // namespace
