#include "tray/services/https_get.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

#include "update_host.inc"

namespace ks::tray {
namespace {

std::wstring widen(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, s.data(), int(s.size()), out.data(), n);
  return out;
}

struct Handle {
  HINTERNET h = nullptr;
  ~Handle() {
    if (h) WinHttpCloseHandle(h);
  }
};

}  // namespace

std::string update_check_url() {
  return std::string("https://") + KS_UPDATE_HOST + "/v1/updates?product=kestrune";
}

bool https_get(const std::string& url, size_t limit, int& status, std::string& bytes) {
  status = 0;
  bytes.clear();
  if (url.size() > 2048) return false;
  std::wstring wurl = widen(url);
  if (wurl.empty()) return false;
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = DWORD(-1);
  parts.dwUrlPathLength = DWORD(-1);
  parts.dwExtraInfoLength = DWORD(-1);
  parts.dwSchemeLength = DWORD(-1);
  if (!WinHttpCrackUrl(wurl.c_str(), DWORD(wurl.size()), 0, &parts)) return false;
  // Only HTTPS is ever asked for, whatever a URL says.
  if (parts.nScheme != INTERNET_SCHEME_HTTPS || !parts.lpszHostName || parts.dwHostNameLength == 0)
    return false;
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path =
      parts.lpszUrlPath ? std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) : L"/";
  if (parts.lpszExtraInfo) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  // Destruction runs in reverse order: request, connection, session.
  Handle session, connection, request;
  session.h = WinHttpOpen(L"Kestrune/3.2.0 updater", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session.h) return false;
  WinHttpSetTimeouts(session.h, 10000, 10000, 20000, 60000);
  connection.h = WinHttpConnect(session.h, host.c_str(), parts.nPort, 0);
  if (!connection.h) return false;
  request.h = WinHttpOpenRequest(connection.h, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                 WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
  if (!request.h) return false;
  if (!WinHttpSendRequest(request.h, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                          0, 0) ||
      !WinHttpReceiveResponse(request.h, nullptr))
    return false;
  DWORD code = 0, size = sizeof code;
  if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX))
    return false;
  status = int(code > 999 ? 999 : code);
  if (code != 200) return false;
  for (;;) {
    DWORD avail = 0;
    if (!WinHttpQueryDataAvailable(request.h, &avail)) {
      bytes.clear();
      return false;
    }
    if (avail == 0) break;
    if (avail > limit || bytes.size() > limit - avail) {  // never grow past the limit
      bytes.clear();
      return false;
    }
    size_t at = bytes.size();
    bytes.resize(at + avail);
    DWORD got = 0;
    if (!WinHttpReadData(request.h, bytes.data() + at, avail, &got)) {
      bytes.clear();
      return false;
    }
    bytes.resize(at + got);
  }
  return true;
}

}  // namespace ks::tray
