// The one HTTPS client of the tray program: a GET with a size limit, certificate checks always
// on. The update server's host is a build input.
#pragma once
#include <cstddef>
#include <string>

namespace ks::tray {

// "https://" + host + "/v1/updates?product=kestrune", the host fixed by the build.
std::string update_check_url();

// False on any failure: a URL that does not split, no answer, a status other than 200 (reported
// in `status`; 0 when no answer came), a read error, or more than `limit` bytes.
bool https_get(const std::string& url, size_t limit, int& status, std::string& bytes);

}  // namespace ks::tray
