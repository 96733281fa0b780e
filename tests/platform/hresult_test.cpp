#include "platform/hresult.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/error_text.h"

TEST(Hresult, Win32ErrorsBecomeFacilityWin32Codes) {
  EXPECT_EQ(static_cast<unsigned>(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)), 0x80070002u);
  EXPECT_EQ(static_cast<unsigned>(HRESULT_FROM_WIN32(ERROR_INVALID_STATE)), 0x8007139Fu);
  EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
  // A value that is already an HRESULT is kept as it is.
  EXPECT_EQ(HRESULT_FROM_WIN32(static_cast<DWORD>(E_FAIL)), E_FAIL);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_OUTOFMEMORY), E_OUTOFMEMORY);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER), E_INVALIDARG);
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED), E_ACCESSDENIED);
}

TEST(Hresult, FailingSystemCallsYieldTheDocumentedCodes) {
  ASSERT_LT(::open("/nonexistent-vantor-dir/file", O_RDONLY), 0);
  EXPECT_EQ(static_cast<unsigned>(HresultFromLastErrno()), 0x80070002u);
  ASSERT_LT(::open("/proc/self/exe/below-a-file", O_RDONLY), 0);
  EXPECT_EQ(static_cast<unsigned>(HresultFromLastErrno()), 0x80070003u);  // not a folder
  ASSERT_LT(::open("/proc/self/nonexistent-vantor-file", O_RDONLY), 0);
  EXPECT_EQ(static_cast<unsigned>(HresultFromLastErrno()), 0x80070002u);
  EXPECT_EQ(HresultFromErrno(EACCES), E_ACCESSDENIED);
  EXPECT_EQ(HresultFromErrno(EBUSY), HRESULT_FROM_WIN32(ERROR_BUSY));
  EXPECT_EQ(HresultFromErrno(ETIMEDOUT), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  EXPECT_EQ(HresultFromErrno(ENOSPC), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  // No recorded cause still reads as a failure, never as success.
  EXPECT_TRUE(FAILED(HresultFromErrno(0)));
}

TEST(ErrorText, KnownCodesHaveOneLineTextsUnknownCodesNone) {
  for (HRESULT hr : {S_OK, E_OUTOFMEMORY, E_FAIL, E_INVALIDARG, REGDB_E_CLASSNOTREG, WS_E_INVALID_FORMAT,
                     HRESULT_FROM_WIN32(ERROR_BAD_FORMAT), HRESULT_FROM_WIN32(ERROR_INVALID_STATE),
                     HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED), DISP_E_BADINDEX}) {
    std::string text = GetErrorText(hr);
    EXPECT_FALSE(text.empty()) << std::hex << hr;
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
  }
  EXPECT_EQ(GetErrorText(MakeHresult(0x8badf00d)), "");
  EXPECT_EQ(GetErrorText(0x1234), "");
}
