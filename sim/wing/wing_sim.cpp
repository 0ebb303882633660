#include "sim/wing/wing_sim.h"

#include <chrono>
#include <cmath>
#include <cstring>

namespace ks::sim {

namespace {

uint64_t steady_ms() {
  using namespace std::chrono;
  return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

std::vector<std::string> split(const std::string& path) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    out.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return out;
}

// Leaves of one input, in the order a whole-node read returns them. "$graw" is the gain knob's
// position 0..1, a raw float (0xD6) only the console-like answers carry.
const char* const kInputLeaves[] = {"$ha",  "g",    "vph", "mute",  "$mute",
                                    "mode", "name", "rmt", "$ract", "$graw"};
const char kRawGain[] = "$graw";

bool ends_with_leaf(const std::string& path, const std::string& leaf) {
  return path.size() > leaf.size() && path[path.size() - leaf.size() - 1] == '/' &&
         path.compare(path.size() - leaf.size(), std::string::npos, leaf) == 0;
}

double raw_position(const GainRange& r, double db) {
  return r.max > r.min ? (db - r.min) / (r.max - r.min) : 0.0;
}

}  // namespace

struct WingSim::Conn {
  int id = 0;
  Socket sock;
  std::mutex send_m;
  std::thread thread;
  std::atomic<bool> drop{false}, done{false};
  bool end_held = false;  // serving thread only: a trailing end mark not sent yet
};

WingSim::WingSim() { fill_tree(); }

WingSim::~WingSim() { stop(); }

void WingSim::fill_tree() {
  struct Bank {
    const char* name;
    int count;
    int ha;
  };
  const Bank banks[] = {{"LCL", 24, 3}, {"A", 48, 3},  {"B", 48, 0},
                        {"C", 48, 0},   {"SC", 32, 0}, {"AUX", 8, 0}};
  for (const Bank& b : banks) {
    ranges_[b.name] = GainRange{};
    for (int n = 1; n <= b.count; ++n) {
      std::string node = std::string("io/in/") + b.name + "/" + std::to_string(n);
      tree_[node + "/$ha"] = SimValue::of_int(b.ha);
      tree_[node + "/g"] = SimValue::of_float(0.0);
      tree_[node + "/vph"] = SimValue::of_flag(false);
      tree_[node + "/mute"] = SimValue::of_flag(false);
      tree_[node + "/$mute"] = SimValue::of_int(0);
      tree_[node + "/mode"] = SimValue::of_text("M");
      tree_[node + "/name"] = SimValue::of_text("");
      tree_[node + "/rmt"] = SimValue::of_text("OFF");
      tree_[node + "/$ract"] = SimValue::of_int(0);
      tree_[node + "/" + kRawGain] = SimValue::of_raw(raw_position(ranges_[b.name], 0.0));
      std::vector<std::string>& order = node_order_[node];
      for (const char* leaf : kInputLeaves) order.push_back(leaf);
    }
  }
  for (const char* slot : {"MOD", "CRD"}) {
    for (int n = 1; n <= 64; ++n) {
      std::string node = std::string("io/out/") + slot + "/" + std::to_string(n);
      tree_[node + "/grp"] = SimValue::of_text(n <= 24 ? "LCL" : "A");
      tree_[node + "/in"] = SimValue::of_int(n <= 24 ? n : n - 24);
    }
  }
  for (int n = 1; n <= 40; ++n) {
    std::string node = "ch/" + std::to_string(n);
    tree_[node + "/in/conn/grp"] = SimValue::of_text(n <= 24 ? "LCL" : "A");
    tree_[node + "/in/conn/in"] = SimValue::of_int(n <= 24 ? n : n - 24);
    tree_[node + "/name"] = SimValue::of_text("Ch " + std::to_string(n));
  }
  tree_["$syscfg/opt_mod"] = SimValue::of_text("WSG");
  tree_["cards/$type"] = SimValue::of_text("NONE");
  for (const char* p : {"a", "b", "c"})
    tree_[std::string("$globals/harmt/") + p] = SimValue::of_flag(false);
  tree_["$stat/sc_devices"] = SimValue::of_text("");
  tree_["$stat/A/dev"] = SimValue::of_text("DL32");
  tree_["$stat/B/dev"] = SimValue::of_text("");
  tree_["$stat/C/dev"] = SimValue::of_text("");
  tree_["$syscfg/tcplock"] = SimValue::of_flag(false);
}

bool WingSim::start(uint32_t addr, uint16_t port) {
  if ((addr >> 24) != 127) return false;  // loopback only, always
  if (running_) return true;
  listener_ = Socket::tcp();
  if (!listener_.valid()) return false;
  listener_.set_reuse_address(true);
  if (receive_buffer_ > 0) listener_.set_receive_buffer(receive_buffer_);
  if (!listener_.bind(Endpoint{addr, port}) || !listener_.listen(16)) {
    listener_.close();
    return false;
  }
  addr_ = addr;
  meters_.start(addr);
  running_ = true;
  accept_thread_ = std::thread([this] { accept_loop(); });
  return true;
}

void WingSim::stop() {
  if (!running_.exchange(false)) return;
  if (accept_thread_.joinable()) accept_thread_.join();
  listener_.close();
  std::vector<std::shared_ptr<Conn>> all;
  {
    std::lock_guard<std::mutex> g(m_);
    all.swap(conns_);
  }
  for (auto& c : all) {
    c->drop = true;
    if (c->thread.joinable()) c->thread.join();
  }
  meters_.stop();
}

void WingSim::accept_loop() {
  while (running_) {
    Socket s = listener_.accept(100);
    if (!s.valid()) continue;
    ++accepted_;
    auto c = std::make_shared<Conn>();
    c->sock = std::move(s);
    c->sock.set_nodelay(true);
    std::lock_guard<std::mutex> g(m_);
    // Finished connections are reaped here so the list stays short.
    for (auto it = conns_.begin(); it != conns_.end();) {
      if ((*it)->done) {
        if ((*it)->thread.joinable()) (*it)->thread.join();
        it = conns_.erase(it);
      } else {
        ++it;
      }
    }
    if (faults_.refuse || int(conns_.size()) >= faults_.max_connections) continue;  // closed here
    c->id = ++next_conn_;
    conns_.push_back(c);
    c->thread = std::thread([this, c] { serve(c); });
    changed_.notify_all();
  }
}

void WingSim::serve(std::shared_ptr<Conn> c) {
  RequestReader reader;
  uint8_t buf[4096];
  std::vector<SimRequest> reqs;
  uint32_t junk_seen = 0;
  bool first = true;
  while (running_ && !c->drop) {
    // Looked at once the bytes are there, so a stall set meanwhile leaves them unread.
    if (!c->sock.wait_readable(100)) continue;
    if (faults().stall) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      continue;
    }
    int r = c->sock.recv(buf, sizeof buf, 0);
    if (r == kSocketTimeout) continue;
    if (r <= 0) break;
    if (first && MeterSim::claims(buf, size_t(r))) {
      meters_.serve(c->sock, 0, buf, size_t(r), [this, c] { return running_ && !c->drop; });
      break;
    }
    first = false;
    reqs.clear();
    reader.feed(buf, size_t(r), reqs);
    junk_ += reader.junk() - junk_seen;
    junk_seen = reader.junk();
    for (SimRequest& q : reqs) {
      if (q.hash != 0) {
        // Addressed by hash: the node of the current build, names after it relative to it.
        std::string base = path_of(q.hash);
        q.path = base.empty() ? std::string() : q.path.empty() ? base : base + "/" + q.path;
      }
      answer(*c, q);
      {
        // Recorded after the answer, so a test that sees the record sees its effect too.
        std::lock_guard<std::mutex> g(m_);
        records_.push_back(SimRecord{steady_ms(), c->id, q});
      }
      changed_.notify_all();
      if (c->drop) break;
    }
  }
  {
    std::lock_guard<std::mutex> g(c->send_m);
    c->sock.close();
  }
  {
    std::lock_guard<std::mutex> g(m_);
    c->done = true;
  }
  changed_.notify_all();
}

std::string WingSim::salt() const {
  std::lock_guard<std::mutex> g(m_);
  return identity_.firmware;
}

void WingSim::set_firmware(const std::string& fw) {
  std::lock_guard<std::mutex> g(m_);
  identity_.firmware = fw;
}

std::string WingSim::path_of(uint32_t hash) const {
  std::lock_guard<std::mutex> g(m_);
  const std::string& salt = identity_.firmware;
  for (const auto& [path, v] : tree_)
    if (node_hash(salt, path) == hash) return path;
  for (const auto& [path, leaves] : node_order_)
    if (node_hash(salt, path) == hash) return path;
  return {};
}

SimIdentity WingSim::identity() const {
  std::lock_guard<std::mutex> g(m_);
  return identity_;
}

std::string WingSim::identity_line() const {
  SimIdentity id = identity();
  return "WING," + format_ipv4(addr_) + "," + id.name + "," + id.model + "," + id.serial + "," +
         id.firmware;
}

GainRange WingSim::gain_range(const std::string& bank) const {
  std::lock_guard<std::mutex> g(m_);
  auto it = ranges_.find(bank);
  return it == ranges_.end() ? GainRange{} : it->second;
}

bool WingSim::get(const std::string& path, SimValue* out) const {
  std::lock_guard<std::mutex> g(m_);
  auto it = tree_.find(path);
  if (it == tree_.end()) return false;
  if (out) *out = it->second;
  return true;
}

// Coerces a value to the node's own type, steps and clamps gains; m_ held.
bool WingSim::store(const std::string& path, const SimValue& v, SimValue* stored) {
  auto it = tree_.find(path);
  if (it == tree_.end()) return false;
  SimValue nv = it->second;
  switch (nv.kind) {
    case SimValue::Kind::kText:
      if (v.kind != SimValue::Kind::kText) return false;
      nv.text = v.text;
      break;
    case SimValue::Kind::kFlag:
      if (v.kind == SimValue::Kind::kText) return false;
      nv.number = v.number != 0 ? 1 : 0;
      break;
    case SimValue::Kind::kInt:
      if (v.kind == SimValue::Kind::kText) return false;
      nv.number = double(std::lround(v.number));
      break;
    case SimValue::Kind::kRaw:
      if (v.kind == SimValue::Kind::kText || !std::isfinite(v.number)) return false;
      nv.number = v.number < 0 ? 0 : v.number > 1 ? 1 : v.number;
      break;
    case SimValue::Kind::kFloat: {
      if (v.kind == SimValue::Kind::kText || !std::isfinite(v.number)) return false;
      double x = v.number;
      std::vector<std::string> seg = split(path);
      if (seg.size() == 5 && seg[0] == "io" && seg[1] == "in" && seg[4] == "g") {
        auto r = ranges_.find(seg[2]);
        GainRange gr = r == ranges_.end() ? GainRange{} : r->second;
        x = gr.min + std::round((x - gr.min) / gr.step) * gr.step;
        if (x < gr.min) x = gr.min;
        if (x > gr.max) x = gr.max;
        auto raw = tree_.find(path.substr(0, path.size() - 1) + kRawGain);
        if (raw != tree_.end()) raw->second.number = raw_position(gr, x);
      }
      nv.number = x;
      break;
    }
    case SimValue::Kind::kNone: return false;
  }
  bool changed = !(nv == it->second);
  it->second = nv;
  if (stored) *stored = nv;
  return changed;
}

bool WingSim::set(const std::string& path, const SimValue& v) {
  SimValue stored;
  bool changed;
  {
    std::lock_guard<std::mutex> g(m_);
    if (tree_.find(path) == tree_.end()) return false;
    changed = store(path, v, &stored);
  }
  if (changed) push_to_all(path, stored, nullptr);
  return true;
}

bool WingSim::retype(const std::string& path, const SimValue& v) {
  std::lock_guard<std::mutex> g(m_);
  auto it = tree_.find(path);
  if (it == tree_.end()) return false;
  it->second = v;
  return true;
}

void WingSim::write_value(Conn& from, const std::string& path, const SimValue& v) {
  SimValue stored;
  bool changed, echo;
  {
    std::lock_guard<std::mutex> g(m_);
    // The console takes a write only in a token type that fits the node: no float for a number
    // that is an integer or an on/off.
    auto it = tree_.find(path);
    bool whole = it != tree_.end() && (it->second.kind == SimValue::Kind::kInt ||
                                       it->second.kind == SimValue::Kind::kFlag);
    if (faults_.console && whole && v.kind == SimValue::Kind::kFloat) {
      ++rejected_;
      return;
    }
    changed = store(path, v, &stored);
    echo = faults_.echo;
  }
  if (changed) push_to_all(path, stored, echo ? nullptr : &from);
}

void WingSim::push_to_all(const std::string& path, const SimValue& v, const Conn* skip) {
  if (faults().hold_pushes) return;
  WireOut w;
  w.item(hash_of(path), v);
  std::vector<std::shared_ptr<Conn>> all;
  {
    std::lock_guard<std::mutex> g(m_);
    all = conns_;
  }
  for (auto& c : all)
    if (c.get() != skip && !c->done) send_frame(*c, w);
}

void WingSim::send_frame(Conn& c, const WireOut& w) {
  bool marker, bytewise;
  {
    std::lock_guard<std::mutex> g(m_);
    marker = faults_.marker;
    bytewise = faults_.bytewise;
  }
  std::vector<uint8_t> out;
  if (marker) out = {0xDF, 0xD1};
  out.insert(out.end(), w.bytes().begin(), w.bytes().end());
  std::lock_guard<std::mutex> g(c.send_m);
  if (!c.sock.valid()) return;
  if (bytewise) {
    for (uint8_t b : out)
      if (!c.sock.send_all(&b, 1, 1000)) return;
  } else {
    c.sock.send_all(out.data(), out.size(), 1000);
  }
}

void WingSim::answer(Conn& c, const SimRequest& r) {
  SimFaults f;
  {
    std::lock_guard<std::mutex> g(m_);
    f = faults_;
    if (!f.silent && r.kind != SimRequest::Kind::kWrite) {
      if (faults_.garble_next > 0) --faults_.garble_next;
      if (faults_.oversize_next > 0) --faults_.oversize_next;
      if (faults_.unknown_next > 0) --faults_.unknown_next;
      if (faults_.wrong_hash_next > 0) --faults_.wrong_hash_next;
      if (faults_.wrong_type_next > 0) --faults_.wrong_type_next;
    }
  }
  if (c.end_held && !f.silent) {
    // The end mark of the last answer, sent only now that the next request is in.
    WireOut end;
    end.data(0xDE);
    send_frame(c, end);
    c.end_held = false;
  }
  if (r.kind == SimRequest::Kind::kWrite) {
    write_value(c, r.path, r.value);
    return;
  }
  if (f.silent) return;
  // Held back in slices, so a drop still closes the connection at once.
  for (uint32_t waited = 0; waited < f.delay_ms && !c.drop && running_; waited += 5)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (c.drop) return;

  if (f.oversize_next > 0) {
    // Claims more than any receive buffer and delivers it, full of items that look like pushes:
    // 65535 bytes in the short form, 100000 in the long form the console-like desk uses.
    const size_t size = f.console ? 100000 : 65535;
    WireOut junk;
    junk.raw(0xDF);  // escaped DF: a block opener as data
    junk.raw(0xDE);
    if (f.console) {
      junk.data(0x00);
      junk.data(0x00);
      junk.data_be32(uint32_t(size));
    } else {
      junk.data(0xFF);
      junk.data(0xFF);
    }
    size_t n = 0;
    while (n + 10 <= size) {
      junk.item(hash_of(r.path), SimValue::of_float(44.0));
      n += 10;
    }
    for (; n < size; ++n) junk.data(0);
    send_frame(c, junk);
  }
  if (f.unknown_next > 0) {
    WireOut junk;
    junk.data(0xD7);
    junk.data_be32(hash_of(r.path));
    junk.data(0xE7);
    send_frame(c, junk);
  }

  SimValue leaf;
  bool is_leaf;
  std::vector<std::pair<std::string, SimValue>> items;
  {
    std::lock_guard<std::mutex> g(m_);
    auto it = tree_.find(r.path);
    is_leaf = it != tree_.end();
    if (is_leaf && !f.omit_leaf.empty() && ends_with_leaf(r.path, f.omit_leaf)) is_leaf = false;
    if (is_leaf) leaf = it->second;
    auto order = node_order_.find(r.path);
    if (!is_leaf && order != node_order_.end()) {
      for (const std::string& l : order->second) {
        if (l == f.omit_leaf || l == f.omit_item || (l == kRawGain && !f.console)) continue;
        auto v = tree_.find(r.path + "/" + l);
        if (v != tree_.end()) items.emplace_back(v->first, v->second);
      }
    }
  }
  uint32_t hash = hash_of(r.path);
  if (f.wrong_hash_next > 0) hash ^= 0x5A5A5A5A;
  // The console closes every data and definition request with an end mark; a whole-node answer
  // always had one, as its last item's terminator.
  auto finish = [&](WireOut& w, bool trailing) {
    if (f.console && trailing && f.late_end_marks) {
      c.end_held = true;
    } else if (f.console || !trailing) {
      w.data(0xDE);
    }
    if (!w.bytes().empty()) send_frame(c, w);
  };

  if (r.kind == SimRequest::Kind::kDefinition) {
    std::vector<std::string> seg = split(r.path);
    if (!is_leaf || seg.size() != 5 || seg[4] != "g") {  // only gains have a definition here
      WireOut w;
      if (f.console) finish(w, false);
      return;
    }
    GainRange gr = gain_range(seg[2]);
    std::vector<uint8_t> body(10, 0x01);  // opaque header bytes
    body.push_back(1);
    body.push_back('g');
    body.push_back(2);
    body.push_back('d');
    body.push_back('B');
    body.push_back(0x00);
    body.push_back(0x10);  // numeric definition
    auto be32 = [&body](uint32_t v) {
      for (int i = 3; i >= 0; --i) body.push_back(uint8_t(v >> (8 * i)));
    };
    float mn = float(gr.min), mx = float(gr.max);
    uint32_t bits;
    std::memcpy(&bits, &mn, 4);
    be32(bits);
    std::memcpy(&bits, &mx, 4);
    be32(bits);
    be32(uint32_t(std::lround((gr.max - gr.min) / gr.step)) + 1);
    WireOut w;
    w.data(0xDF);
    if (f.console) {  // long form: 16 zero bits, then a 32-bit length
      w.data(0x00);
      w.data(0x00);
      w.data_be32(uint32_t(body.size()));
    } else {
      w.data(uint8_t(body.size() >> 8));
      w.data(uint8_t(body.size()));
    }
    for (uint8_t b : body) w.data(b);
    finish(w, true);
    return;
  }

  if (is_leaf) {
    WireOut w;
    if (f.wrong_type_next > 0) {
      w.item(hash, SimValue::of_text("x"));
    } else if (f.garble_next > 0) {
      w.data(0xD7);
      w.data_be32(hash);
      w.data(0xE5);
      w.data(0x00);
    } else {
      w.item(hash, leaf);
    }
    finish(w, true);
    return;
  }
  WireOut w;
  for (auto& [p, v] : items)
    w.item(f.wrong_hash_next > 0 ? hash_of(p) ^ 0x5A5A5A5A : hash_of(p), v);
  // An unknown path gets no value: the console-like desk sends the end mark alone, the other
  // nothing at all; either way a reader of a leaf times out.
  if (!items.empty() || f.console) finish(w, false);
}

void WingSim::set_faults(const SimFaults& f) {
  std::lock_guard<std::mutex> g(m_);
  faults_ = f;
}

SimFaults WingSim::faults() const {
  std::lock_guard<std::mutex> g(m_);
  return faults_;
}

void WingSim::update_faults(const std::function<void(SimFaults&)>& change) {
  std::lock_guard<std::mutex> g(m_);
  change(faults_);
}

void WingSim::drop_connections() {
  std::vector<std::shared_ptr<Conn>> all;
  {
    std::lock_guard<std::mutex> g(m_);
    all = conns_;
  }
  for (auto& c : all) c->drop = true;
  // Wait until each serving thread has closed its socket, so the peer sees the close now.
  for (auto& c : all)
    for (int i = 0; i < 50 && !c->done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void WingSim::inject(const std::vector<uint8_t>& raw) {
  std::vector<std::shared_ptr<Conn>> all;
  {
    std::lock_guard<std::mutex> g(m_);
    all = conns_;
  }
  for (auto& c : all) {
    std::lock_guard<std::mutex> g(c->send_m);
    if (c->sock.valid() && !c->done) c->sock.send_all(raw.data(), raw.size(), 1000);
  }
}

std::vector<SimRecord> WingSim::records() const {
  std::lock_guard<std::mutex> g(m_);
  return records_;
}

void WingSim::clear_records() {
  std::lock_guard<std::mutex> g(m_);
  records_.clear();
}

int WingSim::connections() const {
  std::lock_guard<std::mutex> g(m_);
  int n = 0;
  for (auto& c : conns_) n += c->done ? 0 : 1;
  return n;
}

bool WingSim::wait_records(const std::function<bool(const std::vector<SimRecord>&)>& pred,
                           uint32_t timeout_ms) const {
  std::unique_lock<std::mutex> g(m_);
  return changed_.wait_for(g, std::chrono::milliseconds(timeout_ms),
                           [&] { return pred(records_); });
}

bool WingSim::wait_connections(int n, uint32_t timeout_ms) const {
  std::unique_lock<std::mutex> g(m_);
  return changed_.wait_for(g, std::chrono::milliseconds(timeout_ms), [&] {
    int live = 0;
    for (auto& c : conns_) live += c->done ? 0 : 1;
    return live == n;
  });
}

}  // namespace ks::sim
