#include "flashers/qpst_report.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <filesystem>
#include <mutex>

#include "download/server_objects.h"
#include "platform/com/class_registry.h"
#include "platform/timing.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "process/process_list.h"
#include "tests/support/fake_server.h"
#include "tests/support/log_capture.h"

namespace {

// A job that only asks for its port object.
class CPortJob : public CQPSTReport {
 public:
  HRESULT DoWork() override {
    ComPtr<IQPortProxy> port;
    return GetPortObject(port.ReleaseAndGetAddressOf());
  }
};

// The ports of the test's server report g_status.
std::atomic<LONG> g_status{0};

class CFakePort : public CPortProxy {
 public:
  HRESULT get_PhoneStatus(Variant* status) override {
    *status = Variant::I4(g_status);
    return S_OK;
  }
};

using Server = CFakeServer<CFakePort>;

class PortAccess : public ::testing::Test {
 protected:
  void Register() {
    server_ = std::make_unique<ScopedClass<Server, IDispatch>>(CLSID_AtmnServer);
    std::lock_guard l(Server::Log().m);
    Server::Log().calls.clear();
  }
  ComPtr<CComObject<CPortJob>> Run() {
    CComObject<CPortJob>* job = nullptr;
    EXPECT_EQ(CComObject<CPortJob>::CreateInstance(&job), S_OK);
    ComPtr<CComObject<CPortJob>> hold(job);
    job->StartWork("COM7");
    EXPECT_TRUE(WaitUntil([&] { return job->IsCompleted() != 0; }));
    return hold;
  }
  std::unique_ptr<ScopedClass<Server, IDispatch>> server_;
  LogCapture log;
};

}  // namespace

TEST_F(PortAccess, APortThatNeverBecomesReadyIsAddedReAddedAndGivenUp) {
  ScopedTimeScale fast(0.001);
  Register();
  g_status = 3;  // present, but not ready
  ScopedWaitRecorder waits;
  auto job = Run();
  // A second between attempts: about 30 s in all before the job gives up.
  EXPECT_EQ(waits.waits(), std::vector<DWORD>(30, 1000));
  EXPECT_EQ(job->GetResult(), HRESULT_FROM_WIN32(ERROR_NOT_READY));
  job.Reset();  // destruction makes the server quit
  std::vector<std::string> expected;
  for (int n = 0; n <= 30; ++n) {
    expected.push_back("GetPort");
    if (n == 10) expected.push_back("AddPort");
    if (n == 20) expected.insert(expected.end(), {"RemovePort", "AddPort"});
  }
  expected.push_back("Quit");
  EXPECT_EQ(Server::Log().Calls(), expected);
  EXPECT_EQ(log.Count("\twait port ready to use "), 30);
  EXPECT_EQ(log.Count("\twait port ready to use 29"), 1);
  EXPECT_EQ(log.Count("\twait port ready to use 30"), 0);
}

TEST_F(PortAccess, AReadyPortIsReturnedAtOnce) {
  Register();
  g_status = kPhoneReady;
  auto job = Run();
  EXPECT_EQ(job->GetResult(), S_OK);
  EXPECT_EQ(log.Count("wait port ready"), 0);
  EXPECT_EQ(Server::Log().Calls(), std::vector<std::string>{"GetPort"});
}

// A job released before it was ever started still makes its server quit
// and ends the server's process: it has ended by the time the job is gone.
// (Other runs on the machine may end processes of that name too, but not in
// the moment between the start and the release.)
TEST_F(PortAccess, AJobNeverStartedStillEndsItsServerProcess) {
  ScopedTimeScale unscaled(1.0);  // the whole grace and request wait: the server is gone when the job is
  Register();
  TempDir dir;
  std::filesystem::copy_file("/bin/sleep", dir / "QPSTServer.exe");
  ChildProcess server;
  ASSERT_EQ(StartProcess(QuoteArgument(dir / "QPSTServer.exe") + " 60", false, &server), S_OK);
  ASSERT_TRUE(WaitUntil([&] {
    ProcessRecord r;
    return ReadProcessRecord(server.process.pid(), &r) && r.exeName == "QPSTServer.exe";
  }));
  CComObject<CPortJob>* job = nullptr;
  ASSERT_EQ(CComObject<CPortJob>::CreateInstance(&job), S_OK);
  ComPtr<CComObject<CPortJob>> hold(job);
  hold.Reset();  // released without ever being started
  EXPECT_EQ(Server::Log().Calls(), std::vector<std::string>{"Quit"});
  EXPECT_TRUE(server.process.WaitForExit(0)) << "the server process still runs";
  EndProcess(server.process);
  ::waitpid(server.process.pid(), nullptr, 0);
}

TEST_F(PortAccess, NoServerMeansEveryPortRequestFails) {
  auto job = Run();  // nothing registered: CoCreateInstance gave no server
  EXPECT_EQ(job->GetResult(), E_UNEXPECTED);
}

TEST(ServerObjects, TheOwnServerAnswersWhatTheJobsAsk) {
  std::vector<DWORD> cookies;
  ASSERT_EQ(RegisterServerObjects(&cookies), S_OK);
  ASSERT_EQ(CoResumeClassObjects(), S_OK);
  ComPtr<IDispatch> server;
  ASSERT_EQ(CoCreateInstance(CLSID_AtmnServer, nullptr, CLSCTX_LOCAL_SERVER, IDispatch::kIid,
                             server.ReleaseAndGetVoidAddress()),
            S_OK);
  Variant result = Variant::I4(42);
  DISPPARAMS none;
  EXPECT_EQ(server->Invoke(kDispGetPortList, DISPATCH_METHOD, &none, &result), S_OK);
  EXPECT_EQ(result.vt(), VT_I4);  // untouched: no result
  Variant two[] = {Variant::String("label"), Variant::String("COM99")};
  DISPPARAMS addParams{two, 2};
  EXPECT_EQ(server->Invoke(kDispAddPort, DISPATCH_METHOD, &addParams, nullptr), S_OK);
  DISPPARAMS removeParams{two + 1, 1};
  EXPECT_EQ(server->Invoke(kDispRemovePort, DISPATCH_METHOD, &removeParams, nullptr), S_OK);
  std::string name = "getport";
  DISPID id = 0;
  ASSERT_EQ(server->GetIDsOfNames(&name, 1, &id), S_OK);
  EXPECT_EQ(id, kDispGetPort);
  Variant port;
  ASSERT_EQ(server->Invoke(id, DISPATCH_METHOD, &removeParams, &port), S_OK);
  ASSERT_EQ(port.vt(), VT_UNKNOWN);
  ComPtr<IQPortProxy> proxy;
  ASSERT_EQ(port.unknown()->QueryInterface(IQPortProxy::kIid, proxy.ReleaseAndGetVoidAddress()), S_OK);
  Variant status;
  EXPECT_EQ(proxy->get_PhoneStatus(&status), S_OK);
  EXPECT_EQ(status.Signed(), kPhoneReady);
  EXPECT_EQ(proxy->get_PhoneStatus(nullptr), E_POINTER);
  Variant io;
  EXPECT_EQ(proxy->Offline(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));  // the NV service opens no such port
  EXPECT_EQ(proxy->GetPhoneUid(&io), E_NOTIMPL);
  ComPtr<IDownloadSettings> settings;
  EXPECT_EQ(CoCreateInstance(CLSID_DownloadSettings, nullptr, CLSCTX_LOCAL_SERVER, IDownloadSettings::kIid,
                             settings.ReleaseAndGetVoidAddress()),
            S_OK);
  RevokeServerObjects(&cookies);
  EXPECT_EQ(CoCreateInstance(CLSID_AtmnServer, nullptr, CLSCTX_LOCAL_SERVER, IDispatch::kIid,
                             server.ReleaseAndGetVoidAddress()),
            REGDB_E_CLASSNOTREG);
}
