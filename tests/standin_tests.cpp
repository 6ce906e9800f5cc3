// The stand-in connection library holds its callers to what a device demands, in-process: the
// installer's tests of /DEVICE are worth only as much as the stand-in's strictness.
#include "tests/standin_support.h"
#include "tests/template_support.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

using namespace testing_support;
namespace fs = std::filesystem;

struct RapiInit {
    DWORD cbSize;
    HANDLE heRapiInit;
    HRESULT hrRapiInit;
};

template <typename F> F Call(HMODULE library, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

TEST(StandinRapiTest, CallsReachTheDeviceOnlyWhileConnectedAndFailWithTheDevicesErrors) {
    if (!StandinsBuilt()) {
        GTEST_SKIP() << "the stand-ins are built for 32-bit Windows only";
    }
    TempDir dir;
    fs::create_directories(dir.Path() / "device");
    SetEnvironmentVariableW(L"TARVELO_STANDIN_DEVICE", (dir.Path() / "device").c_str());
    HMODULE rapi = LoadLibraryW(StandinRapi().c_str());
    SetEnvironmentVariableW(L"TARVELO_STANDIN_DEVICE", nullptr);
    ASSERT_NE(rapi, nullptr);
    auto init = Call<HRESULT(WINAPI*)(RapiInit*)>(rapi, "CeRapiInitEx");
    auto uninit = Call<HRESULT(WINAPI*)()>(rapi, "CeRapiUninit");
    auto mkdir = Call<BOOL(WINAPI*)(LPCWSTR, LPSECURITY_ATTRIBUTES)>(rapi, "CeCreateDirectory");
    auto create =
        Call<HANDLE(WINAPI*)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE)>(rapi, "CeCreateFile");
    auto close = Call<BOOL(WINAPI*)(HANDLE)>(rapi, "CeCloseHandle");
    auto lastError = Call<DWORD(WINAPI*)()>(rapi, "CeGetLastError");
    ASSERT_TRUE(init && uninit && mkdir && create && close && lastError);
    auto createFile = [&](const wchar_t* path) {
        return create(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    };

    EXPECT_FALSE(mkdir(L"\\Temp", nullptr)) << "before initialising";
    RapiInit session{sizeof session, nullptr, E_FAIL};
    ASSERT_EQ(init(&session), S_OK);
    ASSERT_EQ(WaitForSingleObject(session.heRapiInit, 0), WAIT_OBJECT_0);
    EXPECT_EQ(session.hrRapiInit, S_OK);

    struct Case {
        const wchar_t* path;
        DWORD error; // 0: succeeds
    } folders[] = {{L"\\Temp", 0},
                   {L"\\Temp", ERROR_ALREADY_EXISTS},
                   {L"\\No\\Such", ERROR_PATH_NOT_FOUND},
                   {L"Temp2", ERROR_PATH_NOT_FOUND},
                   {L"\\Temp\\..\\..\\Out", ERROR_INVALID_NAME}},
      files[] = {
          {L"\\Temp\\a.CAB", 0}, {L"\\Missing\\a.CAB", ERROR_PATH_NOT_FOUND}, {L"C:\\a.CAB", ERROR_PATH_NOT_FOUND}};
    for (const Case& c : folders) {
        EXPECT_EQ(mkdir(c.path, nullptr), c.error == 0) << fs::path(c.path).string();
        EXPECT_EQ(c.error ? lastError() : 0, c.error) << fs::path(c.path).string();
    }
    HANDLE first = nullptr, second = nullptr;
    for (const Case& c : files) {
        HANDLE h = createFile(c.path);
        EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.error == 0) << fs::path(c.path).string();
        EXPECT_EQ(c.error ? lastError() : 0, c.error) << fs::path(c.path).string();
        first = c.error ? first : h;
    }
    second = createFile(L"\\Temp\\b.CAB");
    EXPECT_NE(second, first);
    EXPECT_TRUE(close(first));
    EXPECT_FALSE(close(first)) << "closed twice";
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(close(second));
    EXPECT_TRUE(fs::exists(dir.Path() / "device" / "Temp" / "a.CAB"));

    EXPECT_EQ(uninit(), S_OK);
    EXPECT_FALSE(mkdir(L"\\Other", nullptr)) << "after uninitialising";
    FreeLibrary(rapi);
}

} // namespace
