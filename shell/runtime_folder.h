// Where the program's lock files and its instance socket live.
//
// $XDG_RUNTIME_DIR when it is set: the session's own folder. Else a folder of
// this user's own in the temporary folder ($TMPDIR, else /tmp),
// "vantor-<uid>": anyone may create names there, so the folder is made 0700
// and used only while it is a directory (not a link) that belongs to this
// user and that neither group nor others can write. Another user who made
// that name first cannot take the program's locks or listen in its place.
#pragma once
#include <string>

#include "platform/hresult.h"

// The folder's path; nothing is created.
std::string RuntimeFolder();

// Makes the user's own folder when $XDG_RUNTIME_DIR is not set, and checks
// it: S_OK when the program's files may go there, E_ACCESSDENIED for a
// folder of that name that is not the user's private directory, or the
// error of making it. A failure is traced under "PrepareRuntimeFolder".
HRESULT PrepareRuntimeFolder();
