#include "download/download_run.h"

#include <gtest/gtest.h>

#include "tests/support/status_list.h"

#include <cstring>
#include <filesystem>
#include <mutex>

#include "download/download_settings.h"
#include "download/server_objects.h"
#include "download/software_download.h"
#include "platform/com/class_registry.h"
#include "jobs/discovery.h"
#include "platform/timing.h"
#include "tests/support/bench_package.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"
#include "tools/bench_state/bench_state.h"
#include "tests/support/bench_phone.h"

namespace {


ComPtr<IDownloadSettings> NewSettings() {
  ComPtr<IDownloadSettings> s;
  EXPECT_EQ(CreateDownloadSettings(s.ReleaseAndGetAddressOf()), S_OK);
  return s;
}

Variant Text(const char* s) { return Variant::String(Bstr(s)); }

// The virtual bench, answered by the real device helper.
class Bench : public ::testing::Test {
 protected:
  TempDir dir;
  ScopedEnv benchDir{"VANTOR_BENCH_DIR", dir.path().c_str()};
  ScopedEnv helper{"VANTOR_DEVICE_HELPER", VANTOR_DEVICES_BIN};
};

}  // namespace

TEST(DownloadSettings, PairsKeepTheirOrderAndTheKeyRule) {
  ComPtr<IDownloadSettings> s = NewSettings();
  EXPECT_EQ(s->SetParam(Text("flashprogrammer"), Text("a.hex")), S_OK);
  EXPECT_EQ(s->SetParam(Text("flashprogrammer"), Text("b.hex")), S_OK);
  EXPECT_EQ(s->SetParam(Text("Flashprogrammer"), Text("c.hex")), S_OK);  // another key
  EXPECT_EQ(s->SetParam(Variant::UI4(7), Variant::UI8(99)), S_OK);
  Variant v;
  ASSERT_EQ(s->get_GetParam(Text("flashprogrammer"), &v), S_OK);
  EXPECT_EQ(v.bstr().str(), "b.hex");
  ASSERT_EQ(s->get_GetParam(Text("Flashprogrammer"), &v), S_OK);
  EXPECT_EQ(v.bstr().str(), "c.hex");
  EXPECT_EQ(s->get_GetParam(Variant::I4(7), &v), E_INVALIDARG);  // same number, other type
  EXPECT_EQ(s->get_GetParam(Text("skipreset"), &v), E_INVALIDARG);
  EXPECT_EQ(s->put_PhoneComponent(Text("x")), E_NOTIMPL);
  EXPECT_EQ(s->get_IsKnownConfiguration(&v), E_NOTIMPL);

  // Late-bound callers reach the same pairs by name.
  std::string name = "SETPARAM";
  DISPID id = 0;
  ASSERT_EQ(s->GetIDsOfNames(&name, 1, &id), S_OK);
  Variant args[] = {Variant::UI4(12), Text("searchpaths")};
  DISPPARAMS params{args, 2};
  ASSERT_EQ(s->Invoke(id, DISPATCH_METHOD, &params, nullptr), S_OK);
  std::string text;
  ASSERT_EQ(GetDownloadParameter(s.Get(), "searchpaths", &text), S_OK);
  EXPECT_EQ(text, "12");
  EXPECT_EQ(GetDownloadParameter(nullptr, "searchpaths", &text), E_INVALIDARG);
  EXPECT_EQ(GetDownloadParameter(s.Get(), "emmcfilepathboot", &text), E_INVALIDARG);
}

TEST_F(Bench, APhoneAlreadyThereIsFoundAtOnce) {
  WriteFile(dir / "disk-2.img", "disk");
  bench::WritePhoneState(dir.path(), {2, "disk", "", dir / "disk-2.img", "", ""});
  StatusList status;
  std::string name;
  auto start = std::chrono::steady_clock::now();
  ScopedWaitRecorder waits;
  ASSERT_EQ(GetDeviceName(2, kDeviceUsbDisk, &status, &name), S_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));  // no 5000 ms settling wait
  EXPECT_TRUE(waits.waits().empty());
  EXPECT_EQ(name, dir / "disk-2.img");
  EXPECT_TRUE(status.Starting("Wait device connect").empty());
}

TEST_F(Bench, APhoneThatNeverComesBackIsGivenUpAfterSixtyOneAttempts) {
  ScopedTimeScale fast(0.001);
  bench::WritePhoneState(dir.path(), {2, "gone", "", "", "", ""});
  StatusList status;
  std::string name;
  EXPECT_EQ(GetDeviceName(2, kDeviceUsbDisk, &status, &name), HRESULT_FROM_WIN32(ERROR_NOT_READY));
  std::vector<std::string> waits = status.Starting("Wait device connect");
  ASSERT_EQ(waits.size(), 60u);
  EXPECT_EQ(waits.front(), "Wait device connect 0");
  EXPECT_EQ(waits.back(), "Wait device connect 59");
}

void FillSettings(IDownloadSettings* settings, const TempDir& dir) {
  for (auto [name, value] : {std::pair{"filepathxml", "rawprogram0.xml"}, {"emmcfilepathboot", "8660_msimage.mbn"},
                             {"filepathpatch", "patch0.xml"}, {"flashprogrammer", "MPRG8660.hex"}}) {
    settings->SetParam(Text(name), Variant::String(Bstr(dir / value)));
  }
  settings->SetParam(Text("searchpaths"), Variant::String(Bstr(dir.path())));
}

TEST_F(Bench, TheOwnServerObjectsRunAWholeDownload) {
  ScopedTimeScale fast(0.01);
  BenchPackage package(dir.path());
  const std::vector<unsigned char>& system = package.system;
  phonesim::PtyEmergencyPhone phone(BenchPhoneAt(dir.path(), 3));
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;

  StatusList status;  // outlives the objects that hold it
  std::vector<DWORD> cookies;
  ASSERT_EQ(RegisterServerObjects(&cookies), S_OK);
  CoResumeClassObjects();
  ComPtr<IDispatch> server;
  ASSERT_EQ(CoCreateInstance(CLSID_AtmnServer, nullptr, CLSCTX_LOCAL_SERVER, IDispatch::kIid,
                             server.ReleaseAndGetVoidAddress()),
            S_OK);
  Variant portName[] = {Variant::String(Bstr(phone.portPath()))};
  DISPPARAMS params{portName, 1};
  Variant port;
  ASSERT_EQ(server->Invoke(kDispGetPort, DISPATCH_METHOD, &params, &port), S_OK);
  ComPtr<IQPortProxy> proxy;
  ASSERT_EQ(port.unknown()->QueryInterface(IQPortProxy::kIid, proxy.ReleaseAndGetVoidAddress()), S_OK);
  ComPtr<IUnknown> unknown;
  ASSERT_EQ(proxy->get_SoftwareDownload(unknown.ReleaseAndGetAddressOf()), S_OK);
  ComPtr<IQSoftwareDownload> download;
  ASSERT_EQ(unknown.As(&download), S_OK);
  ComPtr<IDownloadSettings> settings;
  ASSERT_EQ(CoCreateInstance(CLSID_DownloadSettings, nullptr, CLSCTX_LOCAL_SERVER, IDownloadSettings::kIid,
                             settings.ReleaseAndGetVoidAddress()),
            S_OK);
  FillSettings(settings.Get(), dir);

  EXPECT_EQ(download->DownloadBySettings(settings.Get()), E_INVALIDARG);  // no sink registered yet
  ASSERT_EQ(download->put_StatusReport(&status), S_OK);
  ASSERT_EQ(download->DownloadBySettings(settings.Get()), S_OK);
  EXPECT_EQ(ReadFile(phone.diskPath()).substr(200 * 512, system.size()), std::string(system.begin(), system.end()));
  EXPECT_EQ(status.texts.front(), "Open serial port \"" + phone.portPath() + "\"");
  Variant io;
  EXPECT_EQ(download->DownloadBootImage(&io), E_NOTIMPL);
  RevokeServerObjects(&cookies);
}

TEST_F(Bench, AWholeEmergencyDownloadWritesThePackage) {
  ScopedTimeScale fast(0.01);  // the settling wait after the disk appears becomes 50 ms
  BenchPackage package(dir.path());
  const std::vector<unsigned char>& boot = package.boot;
  const std::vector<unsigned char>& system = package.system;
  phonesim::PtyEmergencyPhone phone(BenchPhoneAt(dir.path(), 7, 100));  // the disk appears only after some attempts of 10 ms
  std::string error;
  ASSERT_TRUE(phone.Start(&error)) << error;

  ComPtr<IDownloadSettings> settings = NewSettings();
  FillSettings(settings.Get(), dir);
  StatusList status;
  ASSERT_EQ(RunDownload(settings.Get(), 7, &status), S_OK);

  std::string disk = ReadFile(phone.diskPath());
  ASSERT_EQ(disk.size(), 1u << 20);
  EXPECT_EQ(disk.substr(200 * 512, system.size()), std::string(system.begin(), system.end()));
  EXPECT_EQ(disk.substr(1024, boot.size() - 1024), std::string(boot.begin() + 1024, boot.end()));
  unsigned char sector1[4];
  std::memcpy(sector1, disk.data() + 512, 4);
  EXPECT_EQ(sector1[0] | sector1[1] << 8 | sector1[2] << 16 | static_cast<unsigned>(sector1[3]) << 24, 2048u - 1);
  // The texts of each stage, in order.
  auto at = [&](const std::string& prefix) {
    for (size_t i = 0; i < status.texts.size(); ++i)
      if (status.texts[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
    return -1;
  };
  EXPECT_EQ(at("Open serial port"), 0);
  EXPECT_LT(at("Open serial port"), at("Load programmer"));
  EXPECT_LT(at("Jump to flash programmer"), at("Open boot file"));
  EXPECT_LT(at("Reboot to mini kernel"), at("Wait device connect 0"));
  EXPECT_LT(at("Wait device connect 0"), at("Open disk"));
  EXPECT_LT(at("Open disk"), at("ApplyPatch position"));
}

// A boot image that cannot be streamed is found before the programmer goes out.
TEST_F(Bench, ABadBootImageFailsBeforeAnyByteReachesThePhone) {
  BenchPackage package(dir.path());
  WriteFile(dir / "empty.mbn", "");
  std::filesystem::create_directory(dir / "folder.mbn");
  WriteFile(dir / "huge.mbn", "");
  std::filesystem::resize_file(dir / "huge.mbn", (1ull << 32) + 1);  // sparse: past a 32-bit size
  const std::pair<std::string, HRESULT> cases[] = {
      {dir / "missing.mbn", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
      {dir / "empty.mbn", HRESULT_FROM_WIN32(ERROR_FILE_INVALID)},
      {dir / "folder.mbn", E_INVALIDARG},
      {dir / "huge.mbn", HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE)},
  };
  for (const auto& [boot, expected] : cases) {
    phonesim::PtyEmergencyPhone phone(BenchPhoneAt(dir.path(), 4));
    std::string error;
    ASSERT_TRUE(phone.Start(&error)) << error;
    StatusList status;
    EXPECT_EQ(DownloadFlashProgrammerAndMiniKernel(boot, phone.portPath(), package.Path("MPRG8660.hex"), &status), expected)
        << boot;
    phone.Stop();
    EXPECT_TRUE(phone.Snapshot().memory().empty()) << boot;
    EXPECT_EQ(phone.Snapshot().stage(), phonesim::EmergencyPhone::Stage::BootLoader) << boot;
    EXPECT_EQ(status.Count("Load programmer"), 0) << boot;
  }
}

// The disk appears while the run waits for it: it is found at the next
// attempt and given 5000 ms to settle before it is used.
TEST_F(Bench, ADiskThatAppearsLateIsGivenTimeToSettle) {
  ScopedTimeScale fast(0.01);
  WriteFile(dir / "disk-2.img", "disk");
  bench::WritePhoneState(dir.path(), {2, "gone", "", "", "", ""});
  struct AppearingDisk : StatusList {
    std::string benchDir;
    std::chrono::steady_clock::time_point appeared;
    HRESULT NewStatus(LONG id, const Bstr& one, const Bstr& text) override {
      if (text.str() == "Wait device connect 1") {
        bench::WritePhoneState(benchDir, {2, "disk", "", benchDir + "/disk-2.img", "", ""});
        appeared = std::chrono::steady_clock::now();
      }
      return StatusList::NewStatus(id, one, text);
    }
  } status;
  status.benchDir = dir.path();
  std::string name;
  ScopedWaitRecorder waits;
  ASSERT_EQ(GetDeviceName(2, kDeviceUsbDisk, &status, &name), S_OK);
  EXPECT_GE(std::chrono::steady_clock::now() - status.appeared, Scaled(std::chrono::milliseconds(1000 + 5000)));
  EXPECT_EQ(name, dir / "disk-2.img");
  EXPECT_EQ(waits.waits(), (std::vector<DWORD>{1000, 1000, 5000}));
  EXPECT_EQ(status.Count("Wait device connect"), 2);
}

TEST_F(Bench, TheSoftwareDownloadObjectOfAPhone) {
  ScopedTimeScale fast(0.001);
  WriteFile(dir / "disk-5.img", "disk");
  bench::WritePhoneState(dir.path(), {5, "disk", "", dir / "disk-5.img", "", ""});  // never in emergency mode
  BenchPackage package(dir.path());
  StatusList status;  // outlives the object that holds it
  ComPtr<IQSoftwareDownload> download;
  {
    LogCapture log;
    IQSoftwareDownload* none = reinterpret_cast<IQSoftwareDownload*>(1);
    EXPECT_EQ(CSoftwareDownload::CreateInstance("no such device", &none), E_INVALIDARG);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(log.Count("CSoftwareDownload::CreateInstance("), 1);
  }
  std::string id = QueryDeviceName(5, kNameDeviceId);
  ASSERT_FALSE(id.empty());
  ASSERT_EQ(CSoftwareDownload::CreateInstance(id, download.ReleaseAndGetAddressOf()), S_OK);

  // A sink is replaced by an object that is not one: the run then has no sink
  // and ends before it looks for the phone.
  ComPtr<IDownloadSettings> settings = NewSettings();
  FillSettings(settings.Get(), dir);
  ASSERT_EQ(download->put_StatusReport(&status), S_OK);
  EXPECT_EQ(download->put_StatusReport(settings.Get()), S_OK);
  EXPECT_EQ(download->DownloadBySettings(settings.Get()), E_INVALIDARG);
  EXPECT_TRUE(status.texts.empty());
  // With the sink back the same run reaches the phone, which is not there.
  ASSERT_EQ(download->put_StatusReport(&status), S_OK);
  EXPECT_EQ(download->DownloadBySettings(settings.Get()), HRESULT_FROM_WIN32(ERROR_NOT_READY));
  EXPECT_EQ(status.Count("Wait device connect"), 60);
}
