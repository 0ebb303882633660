#include "sim/wing/sim_wire.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace ks::sim {

std::string SimValue::describe() const {
  char buf[96];
  switch (kind) {
    case Kind::kFloat: snprintf(buf, sizeof buf, "%.3f", number); return buf;
    case Kind::kRaw: snprintf(buf, sizeof buf, "raw %.4f", number); return buf;
    case Kind::kInt: snprintf(buf, sizeof buf, "%d", int(number)); return buf;
    case Kind::kFlag: return number != 0 ? "1" : "0";
    case Kind::kText: return "'" + text + "'";
    default: return "-";
  }
}

void WireOut::value(const SimValue& v) {
  switch (v.kind) {
    case SimValue::Kind::kFloat: {
      float f = float(v.number);
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      data(0xD5);
      data_be32(bits);
      break;
    }
    case SimValue::Kind::kRaw: {
      float f = float(v.number);
      uint32_t bits;
      std::memcpy(&bits, &f, 4);
      data(0xD6);
      data_be32(bits);
      break;
    }
    case SimValue::Kind::kFlag: data(v.number != 0 ? 1 : 0); break;
    case SimValue::Kind::kInt: {
      long n = std::lround(v.number);
      if (n >= 0 && n <= 63) {
        data(uint8_t(n));
      } else if (n >= -32768 && n <= 32767) {
        data(0xD3);
        data(uint8_t(uint16_t(n) >> 8));
        data(uint8_t(n));
      } else {
        data(0xD4);
        data_be32(uint32_t(n));
      }
      break;
    }
    case SimValue::Kind::kText: {
      size_t len = v.text.size() > 256 ? 256 : v.text.size();
      if (len == 0) {
        data(0xD0);
      } else if (len <= 64) {
        data(uint8_t(0x7F + len));
      } else {
        data(0xD1);
        data(uint8_t(len - 1));
      }
      for (size_t i = 0; i < len; ++i) data(uint8_t(v.text[i]));
      break;
    }
    case SimValue::Kind::kNone: data(0xD0); break;
  }
}

void RequestReader::feed(const uint8_t* p, size_t n, std::vector<SimRequest>& out) {
  for (size_t i = 0; i < n; ++i) {
    uint8_t b = p[i];
    if (escape_) {
      escape_ = false;
      if (b == 0xDE) {
        byte(0xDF, out);
      } else if (b >= 0xD0 && b <= 0xDD) {
        // A channel marker: a new request starts.
        tok_.clear();
        need_ = 0;
      } else if (b == 0xDF) {
        byte(0xDF, out);
        escape_ = true;
      } else {
        byte(0xDF, out);
        byte(b, out);
      }
    } else if (b == 0xDF) {
      escape_ = true;
    } else {
      byte(b, out);
    }
  }
}

namespace {
// Length of a token from its first byte(s); 0 when more bytes are needed to know, SIZE_MAX for
// a byte that opens no token this desk accepts in a request.
size_t request_token_length(const std::vector<uint8_t>& t) {
  uint8_t b = t[0];
  if (b <= 0x7F) return 1;
  if (b <= 0xBF) return size_t(b - 0x7F) + 1;
  if (b <= 0xCF) return size_t(b - 0xBF) + 1;
  switch (b) {
    case 0xD0:
    case 0xDA:
    case 0xDC:
    case 0xDD: return 1;
    case 0xD1: return t.size() < 2 ? 0 : size_t(t[1]) + 3;
    case 0xD2:
    case 0xD3: return 3;
    case 0xD4:
    case 0xD5:
    case 0xD6:
    case 0xD7: return 5;
    default: return SIZE_MAX;
  }
}
}  // namespace

void RequestReader::byte(uint8_t b, std::vector<SimRequest>& out) {
  tok_.push_back(b);
  if (need_ == 0) {
    size_t n = request_token_length(tok_);
    if (n == SIZE_MAX) {
      ++junk_;
      tok_.clear();
      in_path_ = false;
      segs_.clear();
      return;
    }
    need_ = n;
  }
  if (need_ == 0 || tok_.size() < need_) return;
  token(out);
  tok_.clear();
  need_ = 0;
}

void RequestReader::token(std::vector<SimRequest>& out) {
  const std::vector<uint8_t>& t = tok_;
  uint8_t b = t[0];
  if (b == 0xDA) {
    in_path_ = true;
    segs_.clear();
    hash_ = 0;
    return;
  }
  if (b == 0xD7) {  // a node by its hash: DC, DD or a value follows
    in_path_ = true;
    segs_.clear();
    hash_ = (uint32_t(t[1]) << 24) | (uint32_t(t[2]) << 16) | (uint32_t(t[3]) << 8) | t[4];
    return;
  }
  if (!in_path_) {
    ++junk_;
    return;
  }
  if (b >= 0xC0 && b <= 0xCF) {
    segs_.emplace_back(reinterpret_cast<const char*>(t.data() + 1), t.size() - 1);
  } else if (b >= 0x40 && b <= 0x7F) {
    segs_.push_back(std::to_string(b - 0x3F));
  } else if (b == 0xD2) {
    segs_.push_back(std::to_string(((t[1] << 8) | t[2]) + 1));
  } else {
    SimRequest r;
    r.hash = hash_;
    for (size_t i = 0; i < segs_.size(); ++i) r.path += (i ? "/" : "") + segs_[i];
    if (b == 0xDC) {
      r.kind = SimRequest::Kind::kRead;
    } else if (b == 0xDD) {
      r.kind = SimRequest::Kind::kDefinition;
    } else {
      r.kind = SimRequest::Kind::kWrite;
      if (b <= 0x3F) {
        r.value = SimValue::of_int(b);
      } else if (b == 0xD5 || b == 0xD6) {  // 0xD6 carries a float as well
        uint32_t bits =
            (uint32_t(t[1]) << 24) | (uint32_t(t[2]) << 16) | (uint32_t(t[3]) << 8) | t[4];
        float f;
        std::memcpy(&f, &bits, 4);
        r.value = SimValue::of_float(f);
      } else if (b == 0xD4) {
        r.value = SimValue::of_int(int32_t((uint32_t(t[1]) << 24) | (uint32_t(t[2]) << 16) |
                                           (uint32_t(t[3]) << 8) | t[4]));
      } else if (b == 0xD3) {
        r.value = SimValue::of_int(int16_t((t[1] << 8) | t[2]));
      } else if (b == 0xD0) {
        r.value = SimValue::of_text("");
      } else if (b >= 0x80 && b <= 0xBF) {
        r.value = SimValue::of_text(
            std::string(reinterpret_cast<const char*>(t.data() + 1), t.size() - 1));
      } else if (b == 0xD1) {
        r.value = SimValue::of_text(
            std::string(reinterpret_cast<const char*>(t.data() + 2), t.size() - 2));
      } else {
        ++junk_;
        in_path_ = false;
        segs_.clear();
        hash_ = 0;
        return;
      }
    }
    out.push_back(std::move(r));
    in_path_ = false;
    segs_.clear();
    hash_ = 0;
  }
  if (segs_.size() > 16) {  // no real path is this deep
    ++junk_;
    in_path_ = false;
    segs_.clear();
  }
}

uint32_t node_hash(const std::string& salt, const std::string& path) {
  uint32_t h = 2166136261u;
  auto mix = [&h](const std::string& s) {
    for (unsigned char c : s) {
      h ^= c;
      h *= 16777619u;
    }
  };
  mix(salt);
  mix(":");
  mix(path);
  return h ? h : 1;
}

}  // namespace ks::sim
