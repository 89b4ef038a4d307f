#include "ui/dialogs/ComponentVersions.h"

#include "net/HttpClient.h"

#include <canberra.h>
#include <duktape.h>
#include <gnu/libc-version.h>
#include <sqlite3.h>
#include <zlib.h>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace kavo {

namespace {

std::string Pcre2Version()
{
    char buffer[64] = {};
    return pcre2_config(PCRE2_CONFIG_VERSION, buffer) > 0 ? std::string(buffer) : std::string();
}

std::string DuktapeVersion()
{
    // Built into the program, so the header's version is the one running.
    const long v = DUK_VERSION;
    return std::to_string(v / 10000) + "." + std::to_string(v / 100 % 100) + "." + std::to_string(v % 100);
}

std::string CurlVersionText()
{
    const CurlVersion curl = LibcurlVersion();
    return curl.Tls.empty() || curl.Version.empty() ? curl.Version : curl.Version + ", " + curl.Tls;
}

} // namespace

std::vector<ComponentVersion> EngineComponentVersions()
{
    return {
        {"libcurl", CurlVersionText()},
        {"PCRE2", Pcre2Version()},
        {"Duktape", DuktapeVersion()},
        {"SQLite", sqlite3_libversion()},
        // libcanberra does not report its version; it is the one built against.
        {"libcanberra", std::to_string(CA_MAJOR) + "." + std::to_string(CA_MINOR)},
        {"zlib", zlibVersion()},
        {"glibc iconv", gnu_get_libc_version()},
    };
}

std::string ComponentLine(const ComponentVersion& component)
{
    return component.Name + " (" + component.Version + ")";
}

} // namespace kavo
