#include "sim/wing/sim_control.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

#include "sim/wing/wing_sim.h"

namespace ks::sim {

namespace {

bool parse_on(const std::string& w, bool* on) {
  if (w == "on" || w == "1") return *on = true, true;
  if (w == "off" || w == "0") return *on = false, true;
  return false;
}

std::string describe(const SimRecord& r) {
  const char* kind = r.request.kind == SimRequest::Kind::kWrite        ? "write"
                     : r.request.kind == SimRequest::Kind::kDefinition ? "define"
                                                                       : "read";
  std::string s = std::string(kind) + " " + r.request.path;
  if (r.request.kind == SimRequest::Kind::kWrite) s += " " + r.request.value.describe();
  return s;
}

}  // namespace

bool SimControl::start(uint32_t addr, uint16_t port) {
  if ((addr >> 24) != 127) return false;
  listener_ = Socket::tcp();
  listener_.set_reuse_address(true);
  if (!listener_.bind(Endpoint{addr, port}) || !listener_.listen(4)) {
    listener_.close();
    return false;
  }
  running_ = true;
  thread_ = std::thread([this] { loop(); });
  return true;
}

void SimControl::stop() {
  if (!running_.exchange(false)) return;
  if (thread_.joinable()) thread_.join();
  listener_.close();
}

void SimControl::loop() {
  while (running_) {
    Socket c = listener_.accept(100);
    if (!c.valid()) continue;
    std::string pending;
    char buf[512];
    while (running_) {
      int r = c.recv(buf, sizeof buf, 100);
      if (r == kSocketTimeout) continue;
      if (r <= 0) break;
      pending.append(buf, size_t(r));
      if (pending.size() > 4096) break;  // no command is this long
      size_t nl;
      while ((nl = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string reply = execute(line) + "\n";
        c.send_all(reply.data(), reply.size(), 1000);
      }
    }
  }
}

std::string SimControl::execute(const std::string& line) {
  std::istringstream in(line);
  std::string cmd;
  in >> cmd;
  if (cmd == "set") {
    std::string path, rest;
    in >> path;
    std::getline(in >> std::ws, rest);
    SimValue cur;
    if (!sim_.get(path, &cur)) return "err no such node";
    SimValue v;
    if (cur.kind == SimValue::Kind::kText) {
      v = SimValue::of_text(rest);
    } else {
      char* end = nullptr;
      double x = std::strtod(rest.c_str(), &end);
      if (rest.empty() || end == rest.c_str()) return "err not a number";
      v = SimValue{cur.kind, x, {}};
    }
    sim_.set(path, v);
    sim_.get(path, &cur);
    return "ok " + cur.describe();
  }
  if (cmd == "get") {
    std::string path;
    in >> path;
    SimValue v;
    return sim_.get(path, &v) ? "ok " + v.describe() : "err no such node";
  }
  if (cmd == "hash") {
    std::string path;
    in >> path;
    char buf[16];
    snprintf(buf, sizeof buf, "%08X", sim_.hash_of(path));
    return std::string("ok ") + buf;
  }
  if (cmd == "identity") return "ok " + sim_.identity_line();
  if (cmd == "firmware") {
    std::string fw;
    in >> fw;
    if (fw.empty()) return "err firmware text missing";
    sim_.set_firmware(fw);
    return "ok";
  }
  if (cmd == "drop") {
    sim_.drop_connections();
    return "ok";
  }
  if (cmd == "connections") return "ok " + std::to_string(sim_.connections());
  if (cmd == "records") return "ok " + std::to_string(sim_.records().size());
  if (cmd == "clear") {
    sim_.clear_records();
    return "ok";
  }
  if (cmd == "last") {
    int n = 1;
    in >> n;
    std::vector<SimRecord> all = sim_.records();
    std::string out = "ok";
    for (size_t i = all.size() > size_t(n) ? all.size() - size_t(n) : 0; i < all.size(); ++i)
      out += " | " + describe(all[i]);
    return out;
  }
  if (cmd == "fault") {
    std::string name, arg;
    in >> name >> arg;
    bool on = false;
    long n = std::strtol(arg.c_str(), nullptr, 10);
    bool ok = true;
    sim_.update_faults([&](SimFaults& f) {
      if (name == "silent")
        ok = parse_on(arg, &f.silent);
      else if (name == "refuse")
        ok = parse_on(arg, &f.refuse);
      else if (name == "bytewise")
        ok = parse_on(arg, &f.bytewise);
      else if (name == "echo")
        ok = parse_on(arg, &f.echo);
      else if (name == "marker")
        ok = parse_on(arg, &f.marker);
      else if (name == "console")
        ok = parse_on(arg, &f.console);
      else if (name == "lateend")
        ok = parse_on(arg, &f.late_end_marks);
      else if (name == "delay")
        f.delay_ms = uint32_t(n < 0 ? 0 : n);
      else if (name == "garble")
        f.garble_next = int(n);
      else if (name == "oversize")
        f.oversize_next = int(n);
      else if (name == "unknown")
        f.unknown_next = int(n);
      else if (name == "wronghash")
        f.wrong_hash_next = int(n);
      else if (name == "maxconn")
        f.max_connections = int(n);
      else if (name == "wrongtype")
        f.wrong_type_next = int(n);
      else if (name == "omit")
        f.omit_leaf = arg == "none" ? "" : arg;
      else if (name == "omititem")
        f.omit_item = arg == "none" ? "" : arg;
      else if (name == "clear")
        f = SimFaults{};
      else
        ok = false;
      (void)on;
    });
    return ok ? "ok" : "err unknown fault or value";
  }
  if (cmd == "meter" || cmd == "meterfault") {
    std::string rest;
    std::getline(in >> std::ws, rest);
    return sim_.meters().command(cmd, rest);
  }
  if (cmd == "quit") {
    quit_ = true;
    return "ok";
  }
  return "err unknown command";
}

}  // namespace ks::sim
