// gio_launch.h - starting the desktop's default application through GIO.
// The header is free of glib so that glib's headers, whose names clash with
// Qt's macros (`signals`), stay inside gio_launch.cpp.
#pragma once

#include <string>

namespace tslcat {

// Opens the local file `path` (raw bytes) with the desktop's default
// application for `contentType` ("text/plain").  False when the desktop
// names none or it could not be started; the program itself is not waited
// for.
bool LaunchDefaultApplication(const char *contentType, const std::string &path);

} // namespace tslcat
