// gio_launch.cpp - GIO's default-application lookup and launch.  GIO reads
// the desktop's mimeapps.list files and desktop entries and expands their
// Exec lines (field codes, quoting) by the freedesktop rules.  Only glib is
// included here: see gio_launch.h.

#include <gio/gio.h>

#include "gio_launch.h"

namespace tslcat {

bool LaunchDefaultApplication(const char *contentType, const std::string &path)
{
    GAppInfo *app = g_app_info_get_default_for_type(contentType, FALSE);
    if (!app)
        return false;
    GFile *file = g_file_new_for_path(path.c_str());
    char *uri = g_file_get_uri(file);
    GList uris{uri, nullptr, nullptr};
    GError *error = nullptr;
    const bool started = g_app_info_launch_uris(app, &uris, nullptr, &error);
    if (error)
        g_error_free(error);
    g_free(uri);
    g_object_unref(file);
    g_object_unref(app);
    return started;
}

} // namespace tslcat
