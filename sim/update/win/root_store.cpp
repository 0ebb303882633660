#include "sim/update/win/root_store.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>

#include "os/file.h"

namespace ks::sim {

bool trust_test_root(const std::string& der_path, std::string& why) {
  std::string der;
  if (read_file(wine_path(der_path), 1 << 20, der) != ReadStatus::ok || der.empty()) {
    why = "cannot read " + der_path;
    return false;
  }
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (!store) {
    why = "cannot open LocalMachine\\Root (" + std::to_string(GetLastError()) + ")";
    return false;
  }
  BOOL ok = CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), DWORD(der.size()),
      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (!ok) why = "cannot add the CA (" + std::to_string(GetLastError()) + ")";
  CertCloseStore(store, 0);
  return ok != 0;
}

std::string wine_path(const std::string& p) {
  if (p.empty() || p[0] != '/') return p;
  std::string out = "Z:";
  for (char c : p) out += c == '/' ? '\\' : c;
  return out;
}

std::string update_sim_dir() {
  const char* d = std::getenv("KS_UPDATE_SIM_DIR");
  return d ? wine_path(d) : std::string();
}

// Written beside and moved into place: the server never reads half a word.
bool set_server_mode(const std::string& mode) {
  return write_file_replace(update_sim_dir() + "\\mode", mode);
}
bool set_server_release(const std::string& json) {
  return write_file_replace(update_sim_dir() + "\\release.json", json);
}

std::string server_requests() {
  std::string text;
  read_file(update_sim_dir() + "\\requests.log", 16 << 20, text);
  return text;
}

}  // namespace ks::sim
