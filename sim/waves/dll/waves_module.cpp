// Stand-in for one of Waves' SoundGrid I/O modules. The same DLL is installed under the three
// module names; each copy knows its card from its own file name. Every call is written to the
// host's journal (the LV1 stand-in exports sim_journal), so tests see exactly what reached Waves.
//
// Knobs, read from the environment when the factory is called (TAG is WING, XWSG or DN32):
//   KS_WAVES_<TAG>_FACTORY   "null": the factory always fails; "own-null": it fails for its own
//                            bundle path (so the loader falls back to LV1's argument)
//   KS_WAVES_<TAG>_VERSION   the module version (hex), default 0x10005 / 0x10007 / 0x10006
//   KS_WAVES_<TAG>_ANSWERS   comma list of interface names its boxes answer themselves
//   KS_WAVES_<TAG>_BOX       "null": create_device_box fails
//   KS_WAVES_<TAG>_CHUNK     the text its get_chunk puts to LV1's sink ("\\n" a newline, "(null)"
//   puts null)
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using u64 = uint64_t;

constexpr int kSlots = 35;

struct WavesModule;

struct WavesBox {
  void* slots[kSlots];
  WavesModule* module;
  int id;
  // what query_interface hands out for the names it answers
  void* answer_slots[4];
  void* decoder[4];  // slots 0-2, then the box
};

struct WavesInterface {
  void* slots[4];
  WavesModule* module;
};

struct WavesModule {
  char tag[8];
  char name[64];
  u64 version;
  bool factory_null;
  bool own_bundle_null;
  bool box_null;
  std::string answers;
  std::string chunk;
  bool chunk_null;
  WavesInterface iface;
  int boxes;
};

WavesModule g_module;
bool g_ready;

void journal(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void journal(const char* format, ...) {
  using Fn = void (*)(const char*);
  static Fn fn = reinterpret_cast<Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "sim_journal")));
  if (!fn) return;
  char text[2048];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  fn(text);
}

std::string env(const char* key) {
  char name[64];
  std::snprintf(name, sizeof name, "KS_WAVES_%s_%s", g_module.tag, key);
  char buf[1024];
  DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return (n > 0 && n < sizeof buf) ? std::string(buf, n) : std::string();
}

// Chunk texts journal on one line: newlines as "\n".
std::string escaped(const char* text) {
  if (!text) return "(null)";
  if (IsBadStringPtrA(text, 1u << 20)) return "(unreadable)";
  std::string out;
  for (const char* c = text; *c; ++c) {
    if (*c == '\n')
      out += "\\n";
    else
      out += *c;
  }
  return out;
}

// ---- the decoder Waves' box answers "WavesIOMChunkInfoSupport" with ----

struct WavesDecoder {
  void* slots[3];
  WavesBox* box;
};

u64 decoder_op0(void* self, u64 a, u64 b) {
  journal("waves %s decoder op0 self=%p a=%llx b=%llx", g_module.tag, self, (unsigned long long)a,
          (unsigned long long)b);
  return 0x0D0;
}
u64 decoder_decode(void* self, const char* text, void* out, int64_t n) {
  journal("waves %s decoder decode self=%p text=[%s] out=%p n=%lld", g_module.tag, self,
          escaped(text).c_str(), out, (long long)n);
  return 0x0D1;
}
u64 decoder_op2(void* self, const char* text, u64 a, u64 b) {
  journal("waves %s decoder op2 self=%p text=[%s] a=%llx b=%llx", g_module.tag, self,
          escaped(text).c_str(), (unsigned long long)a, (unsigned long long)b);
  return 0x0D2;
}

// ---- box slots ----

WavesBox* as_box(void* self) { return static_cast<WavesBox*>(self); }

// Even forwarded slots: integers, a double in XMM2, more on the stack; integer result.
template <int K>
u64 slot_even(void* self, u64 a, double b, u64 c, u64 d, double e, u64 f) {
  WavesBox* box = as_box(self);
  u64 r = (static_cast<u64>(K) << 56) ^ a ^ f ^ static_cast<u64>(box->id);
  journal("waves %s box%d slot %d self=%p a=%llx b=%.17g c=%llx d=%llx e=%.17g f=%llx -> %llx",
          g_module.tag, box->id, K, self, (unsigned long long)a, b, (unsigned long long)c,
          (unsigned long long)d, e, (unsigned long long)f, (unsigned long long)r);
  return r;
}

// Odd forwarded slots: doubles in XMM1 and XMM3, integers between, more on the stack; double
// result.
template <int K>
double slot_odd(void* self, double a, u64 b, double c, double d, u64 e, double f) {
  WavesBox* box = as_box(self);
  double r = a + 2.0 * c - f + K + box->id * 1000.0;
  journal("waves %s box%d slot %d self=%p a=%.17g b=%llx c=%.17g d=%.17g e=%llx f=%.17g -> %.17g",
          g_module.tag, box->id, K, self, a, (unsigned long long)b, c, d, (unsigned long long)e, f,
          r);
  return r;
}

u64 box_release(void* self) {
  journal("waves %s box%d release self=%p", g_module.tag, as_box(self)->id, self);
  return 0x5E1EA5Eull;
}

u64 box_set_listener(void* self, void* listener, u64 x, double y) {
  journal("waves %s box%d set_listener self=%p listener=%p x=%llx y=%.17g", g_module.tag,
          as_box(self)->id, self, listener, (unsigned long long)x, y);
  return 0x600ull + static_cast<u64>(as_box(self)->id);
}

u64 box_set_status(void* self, const uint8_t* status) {
  journal("waves %s box%d set_status self=%p status=%p", g_module.tag, as_box(self)->id, self,
          (const void*)status);
  return 0x800;
}

u64 box_device_up(void* self, const uint8_t* info) {
  journal("waves %s box%d device_up self=%p info=%p", g_module.tag, as_box(self)->id, self,
          (const void*)info);
  return 0xA00;
}

u64 box_set_chunk(void* self, const char* text) {
  journal("waves %s box%d set_chunk self=%p text=[%s]", g_module.tag, as_box(self)->id, self,
          escaped(text).c_str());
  return 0xC00;
}

u64 box_get_chunk(void* self, void* sink) {
  journal("waves %s box%d get_chunk self=%p", g_module.tag, as_box(self)->id, self);
  if (sink) {
    using Put = void (*)(void*, const char*);
    Put put = reinterpret_cast<Put>(static_cast<void**>(sink)[0]);
    put(sink, g_module.chunk_null ? nullptr : g_module.chunk.c_str());
  }
  return 0xD00;
}

u64 box_set_mac(void* self, const uint8_t* mac) {
  WavesBox* box = as_box(self);
  if (mac && !IsBadReadPtr(mac, 6))
    journal("waves %s box%d set_mac self=%p mac=%02x:%02x:%02x:%02x:%02x:%02x", g_module.tag,
            box->id, self, mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
  else
    journal("waves %s box%d set_mac self=%p mac=%p", g_module.tag, box->id, self, (const void*)mac);
  return 0xE00;
}

bool answers(const char* name) {
  if (!name || IsBadStringPtrA(name, 256)) return false;
  std::string list = "," + g_module.answers + ",";
  return list.find("," + std::string(name) + ",") != std::string::npos;
}

void* box_query_interface(void* self, const char* name) {
  WavesBox* box = as_box(self);
  void* r = nullptr;
  if (answers(name)) {
    if (std::strcmp(name, "WavesIOBoxGain") == 0)
      r = &box->answer_slots[0];
    else if (std::strcmp(name, "WavesIOMChunkInfoSupport") == 0)
      r = &box->decoder[0];
    else if (std::strcmp(name, "WavesIOBoxWavesConsoleIO") == 0)
      r = &box->answer_slots[2];
    else
      r = &box->answer_slots[3];
  }
  journal("waves %s box%d query_interface self=%p name=%s -> %p", g_module.tag, box->id, self,
          name && !IsBadStringPtrA(name, 256) ? name : "(unreadable)", r);
  return r;
}

template <int K>
void fill_forwarded(WavesBox* box) {
  if constexpr (K < kSlots) {
    box->slots[K] = (K % 2 == 0) ? reinterpret_cast<void*>(&slot_even<K>)
                                 : reinterpret_cast<void*>(&slot_odd<K>);
    fill_forwarded<K + 1>(box);
  }
}

// ---- interface slots ----

u64 iface_op0(void* self) {
  journal("waves %s op0 self=%s", g_module.tag, self == &g_module.iface ? "ok" : "BAD");
  return 0xA0 + static_cast<u64>(g_module.tag[0]);
}

u64 iface_version(void* self) {
  journal("waves %s module_version self=%s -> %llx", g_module.tag,
          self == &g_module.iface ? "ok" : "BAD", (unsigned long long)g_module.version);
  return g_module.version;
}

u64 iface_op2(void* self, u64 arg) {
  u64 r = arg ^ 0x2000;
  journal("waves %s op2 self=%s arg=%llx -> %llx", g_module.tag,
          self == &g_module.iface ? "ok" : "BAD", (unsigned long long)arg, (unsigned long long)r);
  return r;
}

void* iface_create_device_box(void* self, uint32_t vendor, uint32_t product) {
  if (g_module.box_null) {
    journal("waves %s create_device_box %u,%u -> null", g_module.tag, vendor, product);
    return nullptr;
  }
  WavesBox* box = static_cast<WavesBox*>(std::calloc(1, sizeof(WavesBox)));
  box->module = &g_module;
  box->id = ++g_module.boxes;
  fill_forwarded<0>(box);
  box->slots[0] = reinterpret_cast<void*>(&box_release);
  box->slots[6] = reinterpret_cast<void*>(&box_set_listener);
  box->slots[8] = reinterpret_cast<void*>(&box_set_status);
  box->slots[10] = reinterpret_cast<void*>(&box_device_up);
  box->slots[12] = reinterpret_cast<void*>(&box_set_chunk);
  box->slots[13] = reinterpret_cast<void*>(&box_get_chunk);
  box->slots[14] = reinterpret_cast<void*>(&box_set_mac);
  box->slots[34] = reinterpret_cast<void*>(&box_query_interface);
  box->decoder[0] = reinterpret_cast<void*>(&decoder_op0);
  box->decoder[1] = reinterpret_cast<void*>(&decoder_decode);
  box->decoder[2] = reinterpret_cast<void*>(&decoder_op2);
  box->decoder[3] = box;
  journal("waves %s create_device_box %u,%u self=%s -> box%d %p", g_module.tag, vendor, product,
          self == &g_module.iface ? "ok" : "BAD", box->id, (void*)box);
  return box;
}

void init_module(HMODULE self) {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(self, path, MAX_PATH);
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p)
    if (*p == L'\\' || *p == L'/') name = p + 1;
  size_t n = 0;
  for (; name[n] && name[n] != L'.' && n + 1 < sizeof g_module.name; ++n)
    g_module.name[n] = static_cast<char>(name[n]);
  g_module.name[n] = 0;
  const char* tag = std::strstr(g_module.name, "X-WSG")  ? "XWSG"
                    : std::strstr(g_module.name, "DN32") ? "DN32"
                                                         : "WING";
  std::snprintf(g_module.tag, sizeof g_module.tag, "%s", tag);
  g_module.version = std::strcmp(tag, "XWSG") == 0   ? 0x10007
                     : std::strcmp(tag, "DN32") == 0 ? 0x10006
                                                     : 0x10005;
  g_module.iface.slots[0] = reinterpret_cast<void*>(&iface_op0);
  g_module.iface.slots[1] = reinterpret_cast<void*>(&iface_version);
  g_module.iface.slots[2] = reinterpret_cast<void*>(&iface_op2);
  g_module.iface.slots[3] = reinterpret_cast<void*>(&iface_create_device_box);
  g_module.iface.module = &g_module;
  g_ready = true;
}

void read_knobs() {
  std::string f = env("FACTORY");
  g_module.factory_null = f == "null";
  g_module.own_bundle_null = f == "own-null";
  std::string v = env("VERSION");
  if (!v.empty()) g_module.version = std::strtoull(v.c_str(), nullptr, 16);
  g_module.answers = env("ANSWERS");
  g_module.box_null = env("BOX") == "null";
  g_module.chunk = env("CHUNK");
  g_module.chunk_null = g_module.chunk == "(null)";
  if (g_module.chunk.empty()) g_module.chunk = "waves-state: 1\n";
  for (size_t at = g_module.chunk.find("\\n"); at != std::string::npos;
       at = g_module.chunk.find("\\n", at + 1))
    g_module.chunk.replace(at, 2, "\n");
}

}  // namespace

extern "C" __declspec(dllexport) void* create_waves_iobox_module_interface_ver9(
    const char* bundle) {
  if (!g_ready) return nullptr;
  read_knobs();
  const bool own =
      bundle && !IsBadStringPtrA(bundle, 1u << 20) && std::strstr(bundle, g_module.name) != nullptr;
  void* r =
      (g_module.factory_null || (own && g_module.own_bundle_null)) ? nullptr : &g_module.iface;
  journal("waves %s factory bundle=[%s] -> %s", g_module.tag, escaped(bundle).c_str(),
          r ? "interface" : "null");
  return r;
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) init_module(self);
  return TRUE;
}
