// The Wine prefix's side of the update server's stand-in: its throw-away CA in the machine's
// trusted root store, and the stand-in's work folder (release, mode) seen from Windows.
#pragma once

#include <string>

namespace ks::sim {

// Adds the DER certificate at `der_path` to LocalMachine\Root (replacing an equal one).
bool trust_test_root(const std::string& der_path, std::string& why);

// A Unix path as Windows sees it under Wine (drive Z:); a Windows path is returned as it is.
std::string wine_path(const std::string& unix_path);

// The stand-in's work folder (KS_UPDATE_SIM_DIR), as a Windows path; empty when not set.
std::string update_sim_dir();
// Writes DIR/mode (the misbehaviour word) and DIR/release.json.
bool set_server_mode(const std::string& mode);
bool set_server_release(const std::string& json);
// DIR/requests.log: "<port> <path>" per request.
std::string server_requests();

}  // namespace ks::sim
