// The router service as the service control manager reports it.

#include "WinTestSupport.h"
#include "platform/Service.h"

#include <gtest/gtest.h>

using namespace vorlen;
using namespace vorlen::wintest;

namespace {

// A service of our own, registered for the lifetime of the object and deleted afterwards. Its
// program is the probe router, which serves the control manager when given "--service".
class TestService {
public:
    explicit TestService(const fs::path& program) {
        Name = "VorlenTest" + std::to_string(GetCurrentProcessId()) + "-" +
               std::to_string(GetTickCount64());
        FManager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (FManager == nullptr) {
            Status = GetLastError();
            return;
        }
        const std::wstring command = L"\"" + program.native() + L"\" --service";
        const std::wstring name = platform::WideFromUtf8(Name);
        FService =
            CreateServiceW(FManager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                           command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        Status = FService != nullptr ? ERROR_SUCCESS : GetLastError();
    }
    ~TestService() {
        if (FService != nullptr) {
            Stop();
            DeleteService(FService);
            CloseServiceHandle(FService);
        }
        if (FManager != nullptr) {
            CloseServiceHandle(FManager);
        }
    }
    TestService(const TestService&) = delete;
    TestService& operator=(const TestService&) = delete;

    // False with the system's reason in `Status` when the service did not come up.
    bool Start() {
        if (StartServiceW(FService, 0, nullptr) == 0) {
            Status = GetLastError();
            return false;
        }
        return WaitFor(SERVICE_RUNNING);
    }
    bool Stop() {
        SERVICE_STATUS status{};
        ControlService(FService, SERVICE_CONTROL_STOP, &status);
        return WaitFor(SERVICE_STOPPED);
    }

    std::string Name;
    DWORD Status = ERROR_SUCCESS;

private:
    bool WaitFor(DWORD state) {
        for (int attempt = 0; attempt < 600; ++attempt) {
            SERVICE_STATUS status{};
            if (QueryServiceStatus(FService, &status) && status.dwCurrentState == state) {
                return true;
            }
            Sleep(50);
        }
        return false;
    }
    SC_HANDLE FManager = nullptr;
    SC_HANDLE FService = nullptr;
};

} // namespace

TEST(RouterService, AServiceThatDoesNotExistIsNotRunning) {
    EXPECT_FALSE(platform::IsServiceRunning("", "VorlenNoSuchRouterService"));
    EXPECT_FALSE(platform::IsServiceRunning("", ""));
}

TEST(RouterService, OnlyARunningServiceCountsAsRunning) {
    TestService service(BuiltPath(VORLEN_PROBE_ROUTER));
    if (service.Status == ERROR_ACCESS_DENIED) {
        GTEST_SKIP() << "registering a service needs an administrator";
    }
    ASSERT_EQ(service.Status, static_cast<DWORD>(ERROR_SUCCESS))
        << platform::SystemErrorText(service.Status);

    EXPECT_FALSE(platform::IsServiceRunning("", service.Name)) << "registered, never started";
    ASSERT_TRUE(service.Start()) << platform::SystemErrorText(service.Status);
    EXPECT_TRUE(platform::IsServiceRunning("", service.Name));
    ASSERT_TRUE(service.Stop());
    EXPECT_FALSE(platform::IsServiceRunning("", service.Name)) << "stopped";
}
