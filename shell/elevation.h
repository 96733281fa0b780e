// The installation as root for a start that may not install: when the
// components are not installed and this process cannot write the machine
// hives (a normal user), the installation runs once through pkexec, as the
// switch that installs and ends ("/RegServer", which needs no display:
// pkexec clears DISPLAY and XAUTHORITY).
#pragma once
#include "platform/hresult.h"

// S_FALSE when nothing had to be done; S_OK when the installation ran as
// root and the components are installed now. A failure is traced under
// "InstallAsRootWhenNeeded" and returned: HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)
// when the authentication was refused or dismissed, ERROR_INSTALL_FAILURE
// when the installation ran but the components are still not installed, or
// the error that kept pkexec from starting. pkexec is found on PATH.
HRESULT InstallAsRootWhenNeeded();
